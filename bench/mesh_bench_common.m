% MESH_BENCH_COMMON  What octave_mesh_bench and octave_forms_bench share, as handles:
%   f = mesh_bench_common ()
%   c = f.make_case (shape, N)      'annulus': the quarter annulus of radii 1 and 2 (rational,
%                                   degree 2 around, 1 across) under a cubic C^2 B-spline space
%                                   of N x N uniform elements, 4 x 4 Gauss points; 'ring': the
%                                   annulus extruded to height 1 (degree 1 along z) under a
%                                   triquadratic space of N x N x N elements, 3 x 3 x 3 points
%   m = f.twins_fields (c, want)    the peer "twins + m": the quadrature points built in m-code,
%                                   the batch twins at all of them, the vectorised mapping
%   m = f.nurbs_fields (c, want)    the peer "nurbs pkg": basisfunder per direction at the
%                                   distinct node coordinates, tensor products, nrbdeval on the
%                                   tensor grid, the same vectorised mapping
%       want.all: every field MeshEval returns with 'gradient', true (quad_nodes, quad_weights,
%       geo_map, geo_map_jac, jacdet, element_size, connectivity, shape_functions,
%       shape_function_gradients), in MeshEval's layouts; otherwise only connectivity, wdet
%       (quad_weights .* jacdet), and shape_functions (want.R) or shape_function_gradients
%       (want.grad): what a form needs
%   a = f.core_inputs (c, hessian)  MeshEvalCore's 15 inputs for the case, as MeshEval passes
%                                   them (gradients, and Hessians with hessian true)
%   e = f.difference (a, b)         max |a - b| / max |b|: agreement of a with the reference b
%   T = f.inprocess (csv)           the in-process figures, seconds a call by benchmark name,
%                                   from bench_inprocess --benchmark_format=csv (medians where
%                                   the file has repetitions); an empty map without a file
%   s = f.inprocess_time (T, name)  one of them, NaN where missing
%   t = f.measure (methods, opts)   seconds a call of each method: the best of opts.rounds
%                                   rounds taken in turn, each round about 50 ms of calls
%                                   (at least one); the warm-up call counts as a round
%   f.print_row (fmt, values)       a table row, '-' for NaN
function f = mesh_bench_common ()
  f.make_case = @make_case;
  f.twins_fields = @twins_fields;
  f.nurbs_fields = @nurbs_fields;
  f.core_inputs = @core_inputs;
  f.difference = @difference;
  f.inprocess = @inprocess;
  f.inprocess_time = @inprocess_time;
  f.measure = @measure;
  f.print_row = @print_row;
end

function c = make_case (shape, N)
  s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
  annulus = nrbmak (permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]), ...
                    {[0 0 0 1 1 1], [0 0 1 1]});
  c.shape = shape;
  c.N = N;
  switch (shape)
    case 'annulus'
      c.geometry = annulus;
      c.d = 2; c.rdim = 2; c.p = 3; c.nq = 4;
      c.label = sprintf ('quarter annulus, cubic C^2 B-splines, %d x %d Gauss points', c.nq, c.nq);
    case 'ring'
      c.geometry = nrbextrude (annulus, [0 0 1]);
      c.d = 3; c.rdim = 3; c.p = 2; c.nq = 3;
      c.label = sprintf ('thick ring, triquadratic B-splines, %d x %d x %d Gauss points', ...
                         c.nq, c.nq, c.nq);
  end
  U = [zeros(1, c.p), linspace(0, 1, N + 1), ones(1, c.p)];
  c.space = struct ('knots', {repmat({U}, 1, c.d)}, 'order', (c.p + 1) * ones (1, c.d));
  c.n = numel (U) - c.p - 1;            % functions a direction
  c.ndof = c.n ^ c.d;
  c.nqn = c.nq ^ c.d;
  c.nel = N ^ c.d;
  c.nsh = (c.p + 1) ^ c.d;
  c.points = c.nqn * c.nel;
end

function args = core_inputs (c, hessian)
  g = c.geometry;
  k = [g.knots, {[], []}];
  sk = [c.space.knots, {[], []}];
  rule = [num2cell(c.nq * ones (1, c.d)), {[], []}];
  args = [{g.coefs, g.order}, k(1:3), {c.space.order}, sk(1:3), {[]}, rule(1:3), ...
          {0, [1, hessian, 0, 0, 0]}];
end

% Gauss-Legendre nodes and weights on [0, 1] (Golub-Welsch), rows.
function [x, w] = gauss (n)
  b = (1:n - 1) ./ sqrt (4 * (1:n - 1) .^ 2 - 1);
  [V, D] = eig (diag (b, 1) + diag (b, -1));
  [x, k] = sort (diag (D)');
  x = (x + 1) / 2;
  w = V(1, k) .^ 2;
end

% Per direction k of the space: the distinct node coordinates t (nq x N: nodes of element 1,
% then of element 2, ...) and the nodes' weights scaled to their elements (nq x N).
function [t, wq] = nodes (c, k)
  [x, w] = gauss (c.nq);
  br = unique (c.space.knots{k});
  h = diff (br);
  t = x(:) .* h + br(1:end - 1);
  wq = w(:) .* h;
end

% Size vector of 2d (or 3d) singleton dimensions with sizes s at positions at.
function sz = dims (total, at, s)
  sz = ones (1, total);
  sz(at) = s;
end

% The peer "twins + m".
function m = twins_fields (c, want)
  d = c.d; nq = c.nq; N = c.N; nqn = c.nqn; nel = c.nel; nsh = c.nsh; rdim = c.rdim;
  g = c.geometry; sp = c.space; p = c.p;
  % The quadrature points, element by element (first direction fastest), nodes fastest, and
  % the weights of the elements' rules.
  whole = [nq * ones(1, d), N * ones(1, d)];
  xi = zeros (d, c.points);
  W = 1;
  for k = 1:d
    [t, wq] = nodes (c, k);
    sz = dims (2 * d, [k, d + k], [nq, N]);
    T = repmat (reshape (t, sz), whole ./ sz);
    xi(k, :) = T(:)';
    W = W .* reshape (wq, sz);
  end
  W = reshape (W, nqn, nel);
  % The space's rows (B-splines; in 3-D the rational volume twin with unit weights, there being
  % no B-spline volume twin) and the geometry's rows, at every point.
  gp = g.order - 1;
  gw = reshape (g.coefs(4, :), [size(g.coefs)(2:end), 1]);
  dR = cell (1, d); dG = cell (1, d);
  if (d == 2)
    [R, dR{:}, idx] = PolySurfShapeGradBatch (xi, p, p, sp.knots{:});
    [G, dG{:}, gidx] = RatSurfShapeGradBatch (xi, gp(1), gp(2), g.knots{:}, gw);
  else
    [R, dR{:}, idx] = RatVolShapeGradBatch (xi, p, p, p, sp.knots{:}, ones (c.n, c.n, c.n));
    [G, dG{:}, gidx] = RatVolShapeGradBatch (xi, gp(1), gp(2), gp(3), g.knots{:}, gw);
  end
  % The map and its Jacobian from the control points, J{i, k} = dx_i / dxi_k, P x 1 each.
  X = g.coefs(1:rdim, :) ./ g.coefs(4, :);
  x = cell (1, rdim); J = cell (rdim, d);
  for i = 1:rdim
    Xi = X(i, :);
    Xi = Xi(gidx);
    if (want.all), x{i} = sum (G .* Xi, 2); end
    for k = 1:d, J{i, k} = sum (dG{k} .* Xi, 2); end
  end
  [A, dJ] = inverse_transpose (J);
  jacdet = reshape (abs (dJ), nqn, nel);
  m.connectivity = idx(1:nqn:end, :)';
  % Rows of the twins (point-major, P x nsh) into MeshEval's layouts (nqn x nsh x nel).
  if (want.all || want.R)
    m.shape_functions = permute (reshape (R, nqn, nel, nsh), [1 3 2]);
  end
  if (want.all || want.grad)
    % J^-T grad_xi R a component at a time in the twins' layout (a column times P x nsh rows:
    % Octave's fast broadcast), each then permuted into its slot of rdim x nqn x nsh x nel.
    grad = zeros (rdim, nqn, nsh, nel);
    for i = 1:rdim
      gi = A{i, 1} .* dR{1};
      for k = 2:d, gi += A{i, k} .* dR{k}; end
      grad(i, :) = permute (reshape (gi, nqn, nel, nsh), [1 3 2])(:);
    end
    m.shape_function_gradients = grad;
  end
  if (want.all)
    m.quad_nodes = reshape (xi, d, nqn, nel);
    m.quad_weights = W;
    m.geo_map = reshape ([x{:}]', rdim, nqn, nel);
    m.geo_map_jac = reshape ([J{:}]', rdim, d, nqn, nel);
    m.jacdet = jacdet;
    m.element_size = sum (W .* jacdet, 1) .^ (1 / d);
  else
    m.wdet = W .* jacdet;
  end
end

% The peer "nurbs pkg".
function m = nurbs_fields (c, want)
  d = c.d; nq = c.nq; N = c.N; nqn = c.nqn; nel = c.nel; nsh = c.nsh; rdim = c.rdim;
  g = c.geometry; sp = c.space; p = c.p;
  % Per direction: the basis and its derivative at the distinct node coordinates, placed at
  % dimensions (node k, function k, element k) of a 3d-dimensional array, so that the tensor
  % products come out as nqn x nsh x nel, MeshEval's layout, with no permutation.
  B = cell (1, d); dB = cell (1, d); tt = cell (1, d);
  W = 1; conn = 1; stride = 1;
  for k = 1:d
    [t, wq] = nodes (c, k);
    U = sp.knots{k};
    s = findspan (c.n - 1, p, t(:)', U);
    D = basisfunder (s, p, t(:)', U, 1);                 % (nq N) x 2 x (p + 1)
    sz = dims (3 * d, [k, d + k, 2 * d + k], [nq, p + 1, N]);
    B{k} = reshape (permute (reshape (D(:, 1, :), nq, N, p + 1), [1 3 2]), sz);
    dB{k} = reshape (permute (reshape (D(:, 2, :), nq, N, p + 1), [1 3 2]), sz);
    tt{k} = t(:)';
    W = W .* reshape (wq, dims (2 * d, [k, d + k], [nq, N]));
    first = s(1:nq:end) - p;                             % 0-based, one an element
    conn = conn + stride * (reshape (0:p, dims (2 * d, k, p + 1)) + ...
                            reshape (first, dims (2 * d, d + k, N)));
    stride *= c.n;
  end
  W = reshape (W, nqn, nel);
  m.connectivity = reshape (conn, nsh, nel);
  dR = cell (1, d);
  if (d == 2)
    R = B{1} .* B{2};
    dR{1} = dB{1} .* B{2};
    dR{2} = B{1} .* dB{2};
  else
    B23 = B{2} .* B{3};
    R = B{1} .* B23;
    dR{1} = dB{1} .* B23;
    dR{2} = B{1} .* (dB{2} .* B{3});
    dR{3} = B{1} .* (B{2} .* dB{3});
  end
  % The map and its Jacobian on the tensor grid of node coordinates, reordered from (node,
  % element) per direction to nodes then elements.
  [pnt, jac] = nrbdeval (g, nrbderiv (g), tt);
  order = [1:2:2 * d, 2:2:2 * d];
  togrid = @(v) reshape (permute (reshape (v, reshape ([nq; N] * ones (1, d), 1, [])), order), ...
                       1, []);
  x = cell (1, rdim); J = cell (rdim, d);
  for i = 1:rdim
    if (want.all), x{i} = togrid (pnt(i, :)); end
    for k = 1:d, J{i, k} = togrid (jac{k}(i, :)); end
  end
  [A, dJ] = inverse_transpose (J);
  jacdet = reshape (abs (dJ), nqn, nel);
  if (want.all || want.R)
    m.shape_functions = reshape (R, nqn, nsh, nel);
  end
  if (want.all || want.grad)
    % J^-T grad_xi R a component at a time (nqn x 1 x nel times nqn x nsh x nel: broadcasting
    % over a leading block of nqn nsh values), each then written into its slot of
    % rdim x nqn x nsh x nel.
    grad = zeros (rdim, nqn, nsh, nel);
    for i = 1:rdim
      gi = reshape (A{i, 1}, nqn, 1, nel) .* reshape (dR{1}, nqn, nsh, nel);
      for k = 2:d, gi += reshape (A{i, k}, nqn, 1, nel) .* reshape (dR{k}, nqn, nsh, nel); end
      grad(i, :) = gi(:);
    end
    m.shape_function_gradients = grad;
  end
  if (want.all)
    at = cell (d, 1);
    whole = [nq * ones(1, d), N * ones(1, d)];
    for k = 1:d
      sz = dims (2 * d, [k, d + k], [nq, N]);
      T = repmat (reshape (tt{k}, sz), whole ./ sz);
      at{k} = T(:)';
    end
    m.quad_nodes = reshape (cat (1, at{:}), d, nqn, nel);
    m.quad_weights = W;
    m.geo_map = reshape (cat (1, x{:}), rdim, nqn, nel);
    m.geo_map_jac = reshape (cat (1, J{:}), rdim, d, nqn, nel);
    m.jacdet = jacdet;
    m.element_size = sum (W .* jacdet, 1) .^ (1 / d);
  else
    m.wdet = W .* jacdet;
  end
end

% The inverse transpose of the Jacobian J{i, k} (arrays of one shape) by cofactors, and det J.
function [A, dJ] = inverse_transpose (J)
  d = columns (J);
  if (d == 2)
    C = {J{2, 2}, -J{2, 1}; -J{1, 2}, J{1, 1}};
  else
    C = cell (3, 3);
    for i = 1:3
      i1 = mod (i, 3) + 1; i2 = mod (i + 1, 3) + 1;
      for k = 1:3
        k1 = mod (k, 3) + 1; k2 = mod (k + 1, 3) + 1;
        C{i, k} = J{i1, k1} .* J{i2, k2} - J{i1, k2} .* J{i2, k1};
      end
    end
  end
  dJ = J{1, 1} .* C{1, 1};
  for k = 2:d, dJ += J{1, k} .* C{1, k}; end
  A = cellfun (@(v) v ./ dJ, C, 'UniformOutput', false);
end

function e = difference (a, b)
  if (issparse (a) || issparse (b))
    e = full (max (max (abs (a - b)))) / max (full (max (max (abs (b)))), realmin);
  else
    e = max (abs (a(:) - b(:))) / max (max (abs (b(:))), realmin);
  end
end

function T = inprocess (csv)
  T = containers.Map ();
  if (isempty (csv)), return; end
  fid = fopen (csv, 'r');
  if (fid < 0), error ('mesh_bench_common: cannot read %s', csv); end
  header = true;
  while (true)
    line = fgetl (fid);
    if (~ischar (line)), break; end
    if (header)
      header = isempty (strfind (line, 'name,iterations'));
      continue;
    end
    f = strsplit (line, ',');
    if (numel (f) < 5), continue; end
    name = strrep (f{1}, '"', '');
    if (any (regexp (name, '_(mean|stddev|cv)$'))), continue; end
    name = regexprep (name, '_median$', '');
    scale = struct ('ns', 1e-9, 'us', 1e-6, 'ms', 1e-3, 's', 1);
    if (~isfield (scale, f{5})), continue; end
    T(name) = str2double (f{3}) * scale.(f{5});
  end
  fclose (fid);
end

function s = inprocess_time (T, name)
  s = NaN;
  if (isKey (T, name)), s = T(name); end
end

% methods: struct array with fields name, run (a handle of no argument returning the result),
% serial (true: run with NURBS_NUM_THREADS=1); opts.rounds, opts.slow (seconds: a method whose
% warm-up took longer runs one round after it).
function t = measure (methods, opts)
  n = numel (methods);
  t = Inf (1, n);
  calls = ones (1, n);
  for k = 1:n
    t(k) = timed (methods(k), 1);
    calls(k) = max (1, min (1000, round (0.05 / t(k))));
  end
  for r = 1:opts.rounds
    for k = 1:n
      if (r > 1 && t(k) > opts.slow), continue; end
      t(k) = min (t(k), timed (methods(k), calls(k)));
    end
  end
end

% Seconds a call of one method over `calls` calls, the result of each call kept until the next
% replaces it (as a user's variable is).
function t = timed (method, calls)
  run = method.run;
  if (method.serial), setenv ('NURBS_NUM_THREADS', '1'); end
  tic;
  for k = 1:calls, out = run (); end
  t = toc / calls;
  if (method.serial), setenv ('NURBS_NUM_THREADS', ''); end
  clear out
end

function print_row (fmt, values)
  for k = 1:numel (values)
    if (isnan (values(k)))
      printf (regexprep (fmt, '%(\d*)(\.\d+)?[fgde]', '%$1s'), '-');
    else
      printf (fmt, values(k));
    end
  end
end
