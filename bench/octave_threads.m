% OCTAVE_THREADS  Where a second thread pays, in Octave: a twin's call serial
% (NURBS_NUM_THREADS=1) against the same call as it comes, for a cubic curve, a bicubic surface
% and a triquadratic volume (64 functions a direction) at P points around the threshold, the
% best of 15 rounds taken in turn. A ratio above 1 means the threaded call was slower.
function octave_threads ()
  n = 64;
  geometries = {'RatCurveShapeGradBatch', 1, 3; 'RatSurfShapeGradBatch', 2, 3; 'RatVolShapeGradBatch', 3, 2};
  for g = 1:3
    [name, d, p] = geometries{g, :}; f = str2func (name);
    U = [zeros(1, p), linspace(0, 1, n - p + 1), ones(1, p)];
    w = reshape (1 + 0.5 * sin (1:n^d), [n * ones(1, d), 1]);
    args = [{0}, num2cell(p * ones (1, d)), repmat({U}, 1, d), {w}];
    out = cell (1, d + 2);
    for P = [1000 3000 7000 10000 15000 20000 25000 30000 40000 50000 70000 100000]
      args{1} = rand (d, P);
      t = [Inf Inf];
      calls = max (1, round (2e4 / P));
      for r = 1:15
        for m = 1:2
          setenv ('NURBS_NUM_THREADS', {'1', ''}{m});
          tic; for k = 1:calls, [out{:}] = f (args{:}); end; t(m) = min (t(m), toc / calls);
        end
      end
      printf ('%-24s P = %6d   serial %8.1f us   as it comes %8.1f us   ratio %.2f\n', name, P, ...
              t * 1e6, t(2) / t(1));
    end
  end
end
