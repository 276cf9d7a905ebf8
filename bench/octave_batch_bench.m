% OCTAVE_BATCH_BENCH  Time per point in Octave of many points at once: a cubic curve
% (RatCurveShapeGrad), a bicubic surface (RatSurfShapeGrad) and a triquadratic volume
% (RatVolShapeGrad), 64 basis functions per direction, at P = 1 .. 10^6 random points:
%   twin 1      the batch twin, serial (NURBS_NUM_THREADS=1)
%   twin        the batch twin as it comes (threads where the work pays, up to the hardware's)
%   loop        the one-point plug-in once per point, its rows stored into P x nen matrices
%   fs+bf       the nurbs package's findspan and basisfunder per direction, then the rational
%               products, tensor products and indices vectorised over the points
%   nrb         the nurbs package's nrbbasisfun and nrbbasisfunder on the whole points matrix
%   hand        the best vectorised Octave code on the nurbs package we could write: lookup for the
%               spans, basisfunder per direction, the same vectorised products
%   zeros       Octave creating outputs of the twin's sizes (the memory floor)
%   trivial     a MEX that creates outputs of the twin's sizes and does nothing else
% All outputs: the values, every first derivative and the indices of the functions (for the
% peers too). Each figure is the best of several rounds taken in turn with the others; a slow
% peer is not run where one call would take more than about 20 s (its cost per point is flat).
% Writes the table to stdout and the sweep to FILE (one block per geometry) for the plot.
function octave_batch_bench (file)
  pkg load nurbs
  geometries = {'cubic curve', 'RatCurveShapeGrad', 3; 'bicubic surface', 'RatSurfShapeGrad', 3;
                'triquadratic volume', 'RatVolShapeGrad', 2};
  Ps = [1 10 100 300 1000 3000 1e4 3e4 1e5 1e6];
  methods = {'twin 1', 'twin', 'loop', 'fs+bf', 'nrb', 'hand', 'zeros', 'trivial'};
  fid = fopen (file, 'w');
  for g = 1:rows (geometries)
    [label, name, p] = geometries{g, :};
    printf ('\n%s (%s, p = %d, 64 functions a direction): ns per point\n', label, name, p);
    printf ('%8s', 'P'); printf (' %9s', methods{:}); printf ('\n');
    fprintf (fid, '# %s: P %s\n', label, strjoin (methods, ' | '));
    last = zeros (1, numel (methods));   % seconds per point of each method at the last P
    for P = Ps
      c = make_case (name, p, 64, P);
      t = measure (c, methods, last, P);
      last = t / P;
      printf ('%8d', P); printf (' %9.0f', 1e9 * t / P); printf ('\n');
      fprintf (fid, '%d', P); fprintf (fid, ' %g', 1e9 * t / P); fprintf (fid, '\n');
    end
    fprintf (fid, '\n\n');
  end
  fclose (fid);
  setenv ('NURBS_NUM_THREADS', '');
end

% Uniform clamped knots with n functions of degree p in every direction, smooth weights, P
% random points.
function c = make_case (name, p, n, P)
  c.d = 1 + any (strfind (name, 'Surf')) + 2 * any (strfind (name, 'Vol'));
  c.p = p * ones (1, c.d);
  c.n = n * ones (1, c.d);
  c.U = repmat ({[zeros(1, p), linspace(0, 1, n - p + 1), ones(1, p)]}, 1, c.d);
  c.w = reshape (1 + 0.5 * sin (1:n^c.d), [c.n, 1]);
  rand ('seed', P);
  c.x = rand (c.d, P);
  c.one = str2func (name);
  c.twin = str2func ([name 'Batch']);
  c.args = [{c.x}, num2cell(c.p), c.U, {c.w}];
  c.nen = prod (c.p + 1);
  c.nout = c.d + 2;   % R, one derivative a direction, idx
  coefs = zeros ([4, c.n]);
  coefs(4, :) = c.w(:)';
  if (c.d == 1)
    c.nrb = nrbmak (coefs, c.U{1});
  else
    c.nrb = nrbmak (coefs, c.U);
  end
end

% Seconds per call of each method, the best of its rounds of about 50 ms each; Inf where it was
% not run.
function t = measure (c, methods, last, P)
  t = Inf (1, numel (methods));
  calls = zeros (1, numel (methods));
  for m = 1:numel (methods)
    if (last(m) * P > 20), continue; end   % not run: too slow, and flat per point
    once = timed (c, methods{m}, 1);       % warm-up and estimate
    calls(m) = max (1, min (1e5, round (0.05 / once)));
    t(m) = once;
  end
  rounds = 5 - 2 * (P >= 1e5) - (P >= 1e6);
  for r = 1:rounds
    for m = find (calls > 0)
      if (r > 1 && t(m) > 2), continue; end
      t(m) = min (t(m), timed (c, methods{m}, calls(m)));
    end
  end
end

% Seconds per call of one method over `calls` calls, each method in a loop of its own so that the
% harness adds nothing to a call.
function t = timed (c, method, calls)
  out = cell (1, c.nout);
  args = c.args; twin = c.twin; x = c.x; nrb = c.nrb; P = columns (x); nen = c.nen;
  switch (method)
    case 'twin 1'
      setenv ('NURBS_NUM_THREADS', '1');
      tic; for k = 1:calls, [out{:}] = twin (args{:}); end; t = toc;
      setenv ('NURBS_NUM_THREADS', '');
    case 'twin'
      tic; for k = 1:calls, [out{:}] = twin (args{:}); end; t = toc;
    case 'loop'
      tic; for k = 1:calls, loop (c); end; t = toc;
    case 'fs+bf'
      span = @(k) findspan (c.n(k) - 1, c.p(k), x(k, :), c.U{k});
      tic; for k = 1:calls, [out{:}] = vectorised (c, span); end; t = toc;
    case 'hand'
      span = @(k) min (max (lookup (c.U{k}, x(k, :)) - 1, c.p(k)), c.n(k) - 1);
      tic; for k = 1:calls, [out{:}] = vectorised (c, span); end; t = toc;
    case 'nrb'
      d = c.d;
      tic;
      for k = 1:calls
        [out{1}, out{end}] = nrbbasisfun (x, nrb);
        [out{2:d + 1}, ~] = nrbbasisfunder (x, nrb);
      end
      t = toc;
    case 'zeros'
      tic; for k = 1:calls, for o = 1:c.nout, out{o} = zeros (P, nen); end, end; t = toc;
    case 'trivial'
      tic; for k = 1:calls, [out{:}] = TrivialMex (P, nen, args{:}); end; t = toc;
  end
  t /= calls;
end

% The one-point plug-in at every point, its rows stored into P x nen matrices as user code does.
function loop (c)
  P = columns (c.x); x = c.x; a = c.args; f = c.one;
  R = zeros (P, c.nen); D1 = R; D2 = R; D3 = R;
  switch (c.d)
    case 1
      for j = 1:P, [R(j, :), D1(j, :)] = f (x(j), a{2:end}); end
    case 2
      for j = 1:P, [R(j, :), D1(j, :), D2(j, :)] = f (x(:, j), a{2:end}); end
    case 3
      for j = 1:P, [R(j, :), D1(j, :), D2(j, :), D3(j, :)] = f (x(:, j), a{2:end}); end
  end
end

% The rational basis, its first derivatives and the functions' indices at every point, from
% basisfunder per direction at the spans span(k) (0-based), vectorised over the points.
function varargout = vectorised (c, span)
  P = columns (c.x);
  for k = 1:c.d
    s = span (k);
    D = basisfunder (s, c.p(k), c.x(k, :), c.U{k}, 1);
    N{k} = reshape (D(:, 1, :), P, []);
    dN{k} = reshape (D(:, 2, :), P, []);
    first{k} = s(:) - c.p(k) + (0:c.p(k));
  end
  stride = cumprod ([1, c.n]);
  B = N{1}; idx = first{1} + 1;
  dB = {dN{1}, N{1}, N{1}};
  for k = 2:c.d
    B = tensor (B, N{k});
    idx = reshape (idx + permute (first{k} * stride(k), [1 3 2]), P, []);
    for a = 1:c.d
      if (a == k), dB{a} = tensor (dB{a}, dN{k}); else, dB{a} = tensor (dB{a}, N{k}); end
    end
  end
  wt = c.w(idx);
  NW = B .* wt;
  W = sum (NW, 2);
  varargout{1} = NW ./ W;
  for a = 1:c.d
    Bw = dB{a} .* wt;
    varargout{1 + a} = (Bw - varargout{1} .* sum (Bw, 2)) ./ W;
  end
  varargout{c.d + 2} = idx;
end

% Rows of A (fastest) times rows of B: P x (na nb).
function T = tensor (A, B)
  T = reshape (A .* permute (B, [1 3 2]), rows (A), []);
end
