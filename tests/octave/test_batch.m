% Every batch twin of the registry in the real host: row j of each output bit for bit the one-point
% plug-in's output at point j (random cases, points at the ends, on the end clamp's edges, on
% knots, outside, NaN; 0, 1, 2, 7 and many points), serial and threaded alike, inputs unchanged;
% and the twins against the nurbs package's vectorised basis functions and indices.
1;  % a script: its helper functions first

% Bits of a double array, so that equality means bit-identical (NaN and -0 included).
function b = bits (x)
  b = typecast (x(:), 'uint64');
end

% The twin at every point of c against the one-point plug-in; returns the twin's outputs.
function [t, out] = compare (t, e, c, label)
  f = str2func (e.name); g = str2func ([e.name 'Batch']);
  nout = numel (e.outputs);
  copies = cellfun (@unshared, c.args, 'UniformOutput', false);
  out = cell (1, nout + e.rows);
  [out{:}] = g (c.args{:});
  t = expect (t, isequaln (c.args, copies), [label ': inputs unchanged']);
  P = columns (c.x);
  ok = true;
  for j = 1:P
    one = cell (1, nout);
    [one{:}] = f (random_call (e, c, j){:});
    for o = 1:nout
      ok = ok && isequal (bits (out{o}(j, :)), bits (one{o}));
    end
  end
  t = expect (t, ok, [label ': rows are the one-point outputs']);
  for o = 1:numel (out)
    t = expect (t, rows (out{o}) == P, sprintf ('%s: output %d has %d rows', label, o, rows (out{o})));
  end
end

pkg load nurbs
t = harness ();
rand ('seed', 17);
registry = plugin_registry ();
for e = registry
  for P = [0 1 2 7 300]
    for k = 1:6
      c = random_call (e, P, k);
      t = compare (t, e, c, sprintf ('%sBatch, P = %d, case %d', e.name, P, k));
    end
  end
  % Serial, two threads and the default give the same bits.
  c = random_call (e, 30000, 3);
  g = str2func ([e.name 'Batch']);
  n = numel (e.outputs) + e.rows;
  runs = cell (3, n);
  for r = 1:3
    setenv ('NURBS_NUM_THREADS', {'1', '2', ''}{r});
    [runs{r, :}] = g (c.args{:});
  end
  setenv ('NURBS_NUM_THREADS', '');
  same = true;
  for o = 1:n
    same = same && isequal (bits (runs{1, o}), bits (runs{2, o})) ...
                && isequal (bits (runs{1, o}), bits (runs{3, o}));
  end
  t = expect (t, same, sprintf ('%sBatch: 1, 2 and any threads agree on 30000 points', e.name));
  % One output asked for: the first, the same bits.
  first = g (c.args{:});
  t = expect (t, isequal (bits (first), bits (runs{1, 1})), [e.name 'Batch: nargout 1']);
end

% A curve's points as a row or a column.
U = [0 0 0 0.4 1 1 1]; w = [1 0.8 1.2 1];
[R1, D1, I1] = RatCurveShapeGradBatch ([0.1 0.5 0.9], 2, U, w);
[R2, D2, I2] = RatCurveShapeGradBatch ([0.1; 0.5; 0.9], 2, U, w);
t = expect (t, isequal (R1, R2) && isequal (D1, D2) && isequal (I1, I2), 'row or column points');

% Against the nurbs package on whole point sets: values and derivatives, and idx as its indices.
worst = 0;
for d = 1:3
  for k = 1:10
    c = random_case (d, 4 - (d == 3), 2);
    x = rand (d, 200);
    coefs = zeros ([4, c.n]);
    coefs(4, :) = c.w(:)';
    coefs(1, :) = c.w(:)';          % any control points: only the weights enter the basis
    if (d == 1)
      nrb = nrbmak (coefs, c.U{1});
      [B, N] = nrbbasisfun (x, nrb);
      [dB, ~] = nrbbasisfunder (x, nrb);
      dB = {dB};
      [R, dRdxi, idx] = RatCurveShapeGradBatch (x, c.p, c.U{1}, c.w);
      ours = {dRdxi};
    elseif (d == 2)
      nrb = nrbmak (coefs, c.U);
      [B, N] = nrbbasisfun (x, nrb);
      dB = cell (1, 2);
      [dB{:}] = nrbbasisfunder (x, nrb);
      [R, dRdxi, dRdeta, idx] = RatSurfShapeGradBatch (x, c.p(1), c.p(2), c.U{:}, c.w);
      ours = {dRdxi, dRdeta};
    else
      nrb = nrbmak (coefs, c.U);
      [B, N] = nrbbasisfun (x, nrb);
      dB = cell (1, 3);
      [dB{:}] = nrbbasisfunder (x, nrb);
      [R, dRdxi, dRdeta, dRdzeta, idx] = RatVolShapeGradBatch (x, c.p(1), c.p(2), c.p(3), ...
                                                               c.U{:}, c.w);
      ours = {dRdxi, dRdeta, dRdzeta};
    end
    e = relative_error (R, B);
    for o = 1:d
      e = max (e, relative_error (ours{o}, dB{o}));
    end
    worst = max (worst, e);
    t = expect (t, isequal (idx, N), sprintf ('%d-D case %d: idx is the nurbs package''s N', d, k));
    t = expect (t, e < 1e-12, sprintf ('%d-D case %d: %g from the nurbs package', d, k, e));
    t = expect (t, isequal (c.w(idx), reshape (c.w(N), size (N))), 'weights(idx)');
  end
end
printf ('twins against the nurbs package on 200-point sets: worst relative difference %.3g\n', worst);
report (t);
