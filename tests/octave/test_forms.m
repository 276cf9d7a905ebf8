% The native forms in the real host: every form against the same integral assembled in m-code
% from MeshEval's fields (curved 2-D and 3-D patches, every kind of coefficient, options, element
% subsets, faces, threads); the physics they must respect (constants, rigid motions, the patch
% test, boundary measures, integration by parts); convergence at the theoretical rates (Poisson
% on the quarter annulus, elasticity on the plate with a hole, the clamped plate); faults by
% identifier.
1;  % a script: its helper functions first

% Relative difference of a from the reference b in the Frobenius norm (sparse or dense).
function e = frob (a, b)
  e = norm (a - b, 'fro') / max (norm (b, 'fro'), realmin);
end

% The quarter annulus of radii 1 and 2: degree 2 around (xi), 1 across (eta); eta = 0 is the
% inner arc (side 3), eta = 1 the outer (side 4), xi = 0 on y = 0 (side 1), xi = 1 on x = 0.
function g = annulus ()
  s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
  g = nrbmak (permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]), ...
              {[0 0 0 1 1 1], [0 0 1 1]});
end

% A random rational volume of degrees 2 x 2 x 1 and 3 x 2 x 2 elements: control points a
% perturbed grid (a map near a shear of the unit cube, far from singular), weights in [0.5, 1.5].
function g = random_volume ()
  knots = {[0 0 0 0.3 0.7 1 1 1], [0 0 0 0.4 1 1 1], [0 0 0.6 1 1]};
  [x, y, z] = ndgrid (linspace (0, 1, 5), linspace (0, 1, 4), linspace (0, 1, 3));
  x = x + 0.2 * y + 0.03 * randn (size (x)); y = y + 0.03 * randn (size (y));
  z = z + 0.1 * x .* y + 0.03 * randn (size (z)); w = 0.5 + rand (size (x));
  g = nrbmak (permute (cat (4, x .* w, y .* w, z .* w, w), [4 1 2 3]), knots);
end

% A curved polynomial patch (unit weights) of degrees 2 x 3: a warped, perturbed grid.
function g = warped ()
  [x, y] = ndgrid (linspace (0, 1, 6), linspace (0, 1, 5));
  x = x + 0.1 * sin (pi * y) + 0.02 * randn (size (x)); y = y + 0.1 * x .^ 2 + 0.02 * randn (size (y));
  g = nrbmak (permute (cat (3, x, y, zeros (size (x)), ones (size (x))), [3 1 2]), ...
              {[0 0 0 0.3 0.5 0.7 1 1 1], [0 0 0 0 0.5 1 1 1 1]});
end

% Control points of a patch, rdim x n.
function X = points (g, rdim)
  X = g.coefs(1:rdim, :) ./ g.coefs(4, :);
end

% Boundary dofs: the union of MeshEval's side dofs.
function b = boundary (g, sides)
  b = [];
  for k = sides, b = union (b, MeshEval (g, 'side', k, 'gradient', false).dofs(:)'); end
end

% The columns of elements e of an array of values at msh's nodes (nqn x nel or ncomp x nqn x nel).
function v = elements_of (c, msh, e)
  v = reshape (c, [], msh.nqn, msh.nel)(:, :, e);
  if (rows (v) == 1), v = reshape (v, msh.nqn, numel (e)); end
end

% A coefficient as values at msh's nodes, ncomp x nqn x nel: a constant (a scalar or a column),
% an array already at the nodes, or a handle of the nodes' coordinates.
function v = at_nodes (c, msh)
  P = msh.nqn * msh.nel;
  if (is_function_handle (c))
    x = num2cell (reshape (msh.geo_map, msh.rdim, []), 2);
    c = c (x{:});
  end
  if (numel (c) < P), c = repmat (c(:), 1, P); end
  v = reshape (c, [], msh.nqn, msh.nel);
end

% A form assembled in m-code, element by element, from msh's fields; c holds the coefficients'
% values at the nodes (at_nodes). Rows are test functions, columns trial functions; vector
% unknowns are numbered component by component, component k of function i at (k - 1) ndof + i.
function A = reference (form, msh, c)
  n = msh.ndof; r = msh.rdim; nqn = msh.nqn;
  I = cell (msh.nel, 1); J = I; V = I;
  for e = 1:msh.nel
    k = msh.nsh(e); dofs = msh.connectivity(1:k, e);
    S = msh.shape_functions(:, 1:k, e);
    w = msh.quad_weights(:, e) .* msh.jacdet(:, e);
    G = cell (1, r);
    if (isfield (msh, 'shape_function_gradients'))
      for d = 1:r, G{d} = reshape (msh.shape_function_gradients(d, :, 1:k, e), nqn, k); end
    end
    row = dofs;
    switch (form)
      case 'StiffnessMatrix'
        wc = w .* c{1}(1, :, e)'; Ae = 0;
        for d = 1:r, Ae += G{d}' * (wc .* G{d}); end
      case 'MassMatrix'
        Ae = S' * (w .* c{1}(1, :, e)' .* S);
      case 'LoadVector'
        Ae = S' * (w .* c{1}(:, :, e)');                   % k x ncomp
        row = dofs + n * (0:rows (c{1}) - 1);
      case 'AdvectionMatrix'
        bg = 0;
        for d = 1:r, bg += c{1}(d, :, e)' .* G{d}; end
        Ae = S' * (w .* bg);
      case 'ElasticityMatrix'
        % lambda d_a R_i d_b R_j + mu (delta_ab grad R_i . grad R_j + d_b R_i d_a R_j)
        wl = w .* c{1}(1, :, e)'; wm = w .* c{2}(1, :, e)'; gg = 0;
        for d = 1:r, gg += G{d}' * (wm .* G{d}); end
        Ae = zeros (r * k);
        for a = 1:r
          for b = 1:r
            Ae((a - 1) * k + (1:k), (b - 1) * k + (1:k)) = G{a}' * (wl .* G{b}) ...
                + G{b}' * (wm .* G{a}) + (a == b) * gg;
          end
        end
        row = dofs + n * (0:r - 1);
      case 'BilaplacianMatrix'
        L = msh.shape_function_laplacians(:, 1:k, e);
        Ae = L' * (w .* c{1}(1, :, e)' .* L);
    end
    if (strcmp (form, 'LoadVector'))
      I{e} = row(:); J{e} = ones (numel (row), 1);
    else
      [i, j] = ndgrid (row(:), row(:)); I{e} = i(:); J{e} = j(:);
    end
    V{e} = Ae(:);
  end
  N = n * max ([1, r * strcmp(form, 'ElasticityMatrix'), ...
                rows(c{1}) * strcmp(form, 'LoadVector')]);
  A = sparse (vertcat (I{:}), vertcat (J{:}), vertcat (V{:}), N, N);
  if (strcmp (form, 'LoadVector')), A = full (A(:, 1)); end
end

% The native form against the m-code reference on the same nodes; the symmetric forms exactly
% symmetric, matrices sparse and square, load vectors dense columns.
function t = check_form (t, form, g, coefs, opts, label)
  A = feval (form, g, coefs{:}, opts{:});
  msh = MeshEval (g, opts{:}, 'laplacian', strcmp (form, 'BilaplacianMatrix'));
  R = reference (form, msh, cellfun (@(c) at_nodes (c, msh), coefs, 'UniformOutput', false));
  e = frob (A, R);
  shape = isequal (size (A), size (R)) && issparse (A) == issparse (R);
  t = expect (t, e <= 1e-13 && shape, sprintf ('%s, %s: against m-code (%.2g)', form, label, e));
  if (any (strcmp (form, {'StiffnessMatrix', 'MassMatrix', 'ElasticityMatrix', ...
                          'BilaplacianMatrix'})))
    t = expect (t, isequal (A, A.'), sprintf ('%s, %s: exactly symmetric', form, label));
  end
end

% Coefficients of every form (a cell of argument lists, one per form below) as constants,
% arrays at msh's nodes or handles of rdim coordinates.
function [forms, coefs] = form_cases (kind, msh)
  forms = {'StiffnessMatrix', 'MassMatrix', 'LoadVector', 'LoadVector', 'AdvectionMatrix', ...
           'ElasticityMatrix', 'BilaplacianMatrix'};
  r = msh.rdim; sz = [msh.nqn, msh.nel];
  switch (kind)
    case 'constant'
      coefs = {{1.7}, {0.6}, {2.5}, {(1:r)' - 2}, {[0.3; -1.2; 0.7](1:r)}, {1.2, 0.8}, {1.3}};
    case 'array'
      a = @() 0.5 + rand (sz);
      coefs = {{a()}, {a()}, {randn(sz)}, {randn([r, sz])}, {randn([r, sz])}, {a(), a()}, {a()}};
    case 'handle'
      if (r == 2)
        c = @(x, y) 1 + x .^ 2 .* y; b = @(x, y) [1 - y; x]; f = @(x, y) [x .* y; 1 - x];
      else
        c = @(x, y, z) 1 + x .^ 2 .* y + z; b = @(x, y, z) [1 - y; x; z .^ 2];
        f = @(x, y, z) [x .* y; 1 - x; z];
      end
      coefs = {{c}, {c}, {c}, {f}, {b}, {c, @(varargin) 2 - c (varargin{:}) / 4}, {c}};
  end
end

% Convergence: the rate between the two finest meshes within 0.3 of the theory, errors falling.
function t = rates (t, h, err, expected, label)
  r = log (err(1:end - 1) ./ err(2:end)) ./ log (h(1:end - 1) ./ h(2:end));
  printf ('  %-34s errors %s rates %s\n', label, mat2str (err, 3), mat2str (r, 3));
  t = expect (t, all (diff (err) < 0) && abs (r(end) - expected) < 0.3, ...
              sprintf ('%s: rate %.2f, expected %d', label, r(end), expected));
end

% Kirsch's exact stresses [sxx; syy; sxy] under remote tension Tx = 10 along x.
function s = kirsch (x, y)
  r2 = 1 ./ (x .^ 2 + y .^ 2); th = atan2 (y, x);
  c2 = cos (2 * th); c4 = cos (4 * th); s2 = sin (2 * th); s4 = sin (4 * th);
  s = 10 * [1 - r2 .* (1.5 * c2 + c4) + 1.5 * r2 .^ 2 .* c4;
            -r2 .* (0.5 * c2 - c4) - 1.5 * r2 .^ 2 .* c4;
            -r2 .* (0.5 * s2 + s4) + 1.5 * r2 .^ 2 .* s4];
end

% A coefficient of the form: b for the advection, else a scalar.
function c = ifelse_advection (form)
  c = 1;
  if (strcmp (form, 'AdvectionMatrix')), c = [1; 1]; end
end

% A handle that counts its calls.
function v = counted (x, varargin)
  global calls
  calls += 1;
  v = 1 + x .^ 2;
end

pkg load nurbs
t = harness ();
rand ('seed', 11); randn ('seed', 11);
tic;
ann = annulus ();
ann2 = nrbkntins (nrbdegelev (ann, [0 1]), {[0.3 0.6], 0.5});              % 3 x 2 elements
ring = nrbkntins (nrbextrude (ann, [0 0 1]), {0.5, [], 0.5});             % 2 x 1 x 2 elements
vol = random_volume ();

% Every form, every kind of coefficient, on the curved patches; faces of MassMatrix and
% LoadVector (scalar and vector loads) against the same integrals over MeshEval's side fields.
geometries = {ann2, 'annulus'; ring, 'thick ring'; vol, 'random volume'};
for gi = 1:rows (geometries)
  [g, gname] = geometries{gi, :};
  for kind = {'constant', 'array', 'handle'}
    [forms, coefs] = form_cases (kind{1}, MeshEval (g, 'gradient', false));
    for f = 1:numel (forms)
      t = check_form (t, forms{f}, g, coefs{f}, {}, [gname ', ' kind{1}]);
    end
    d = numel (g.order);
    for k = [1, 2 * d]
      [~, coefs] = form_cases (kind{1}, MeshEval (g, 'side', k, 'gradient', false));
      for f = 2:4
        t = check_form (t, forms{f}, g, coefs{f}, {'side', k}, ...
                        sprintf ('%s side %d, %s', gname, k, kind{1}));
      end
    end
  end
end

% Options as MeshEval's: a B-spline space of higher degree with other quadrature, 'rdim', 3 (the
% surface forms of a planar patch), and element subsets with handles evaluated at their nodes.
sp = struct ('knots', {{[0 0 0 0 0.5 1 1 1 1], [0 0 0 0.4 1 1 1]}}, 'order', [4 3]);
variants = {{'space', sp, 'quadrature', [5 4]}, 'B-spline space'; {'rdim', 3}, 'rdim 3'; ...
            {'elements', [6 1 3]}, 'elements [6 1 3]'};
for v = 1:rows (variants)
  opts = variants{v, 1}; g = ann;
  if (v == 3), g = ann2; end
  [forms, coefs] = form_cases ('handle', MeshEval (g, opts{:}, 'gradient', false));
  for f = 1:numel (forms)
    t = check_form (t, forms{f}, g, coefs{f}, opts, variants{v, 2});
  end
end

% Element subsets: a subset plus the rest is the whole, with arrays of the subsets' own nodes;
% no elements is an empty form of full size.
msh = MeshEval (ann2, 'gradient', false);
[forms, coefs] = form_cases ('array', msh);
els = [5 2]; rest = setdiff (1:msh.nel, els);
for f = 1:numel (forms)
  a = cellfun (@(c) elements_of (c, msh, els), coefs{f}, 'UniformOutput', false);
  b = cellfun (@(c) elements_of (c, msh, rest), coefs{f}, 'UniformOutput', false);
  A = feval (forms{f}, ann2, coefs{f}{:});
  S = feval (forms{f}, ann2, a{:}, 'elements', els) + feval (forms{f}, ann2, b{:}, 'elements', rest);
  e = frob (S, A);
  z = cellfun (@(c) elements_of (c, msh, []), coefs{f}, 'UniformOutput', false);
  Z = feval (forms{f}, ann2, z{:}, 'elements', []);
  t = expect (t, e <= 1e-13 && isequal (size (Z), size (A)) && ! any (Z(:)), ...
              sprintf ('%s: subset + rest = whole (%.2g); no elements, zero', forms{f}, e));
end

% A handle is called once with every node's coordinates: the result is the one from its values
% at MeshNodes' nodes, bit for bit (MeshEval's to rounding; theirs, bit for bit, on the element
% path as the reference), and each of two handles is called once.
global calls
calls = 0;
K = StiffnessMatrix (vol, @counted);
m = MeshEval (vol);
n = setfield (m, 'geo_map', MeshNodes (vol));
t = expect (t, calls == 1 && isequal (K, StiffnessMatrix (vol, at_nodes (@counted, n)(:, :))) && ...
               frob (K, StiffnessMatrix (vol, at_nodes (@counted, m)(:, :))) < 1e-14, ...
            'handle: called once; the same bits as its values at the nodes');
setenv ('NURBS_FORMS_METHOD', 'elements');
t = expect (t, isequal (StiffnessMatrix (vol, @counted), ...
                        StiffnessMatrix (vol, at_nodes (@counted, m)(:, :))), ...
            'handle on the element path: the same bits as its values at MeshEval''s nodes');
setenv ('NURBS_FORMS_METHOD', '');
calls = 0;
K = ElasticityMatrix (ann2, @counted, @counted);
t = expect (t, calls == 2, sprintf ('two handles: %d calls, expected 2', calls));

% Large calls split over threads give the same bits as serial ones.
big = nrbkntins (nrbdegelev (ann, [1 2]), {(1:47) / 48, (1:47) / 48});
jobs = {@() StiffnessMatrix (big, @(x, y) 1 + x), @() LoadVector (big, @(x, y) [x; y]), ...
        @() ElasticityMatrix (big, 1, 2), @() BilaplacianMatrix (big, 1)};
runs = cell (2, numel (jobs));
for r = 1:2
  setenv ('NURBS_NUM_THREADS', {'1', ''}{r});
  for c = 1:numel (jobs), runs{r, c} = jobs{c} (); end
end
setenv ('NURBS_NUM_THREADS', '');
t = expect (t, isequal (runs(1, :), runs(2, :)), '2304 elements: serial and threaded bits agree');

% Physics. Constants: no gradient, no advection, no Laplacian; M 1 is the load of the same
% coefficient; the coordinates have no Laplacian on an isoparametric patch.
for gi = 1:rows (geometries)
  [g, gname] = geometries{gi, :};
  n = prod (size (g.coefs)(2:end)); o = ones (n, 1); X = points (g, numel (g.order));
  rel = @(A, u) norm (A * u) / (norm (A, 1) * norm (u));
  c = @(varargin) 1 + varargin{1} .^ 2;
  e = [rel(StiffnessMatrix (g, c), o), rel(AdvectionMatrix (g, (1:rows (X))'), o), ...
       rel(BilaplacianMatrix (g, c), [o, X'])];
  t = expect (t, all (e < 1e-12), sprintf ('%s: K 1 = 0, A 1 = 0, B [1 x] = 0 %s', gname, ...
                                           mat2str (e, 2)));
  e = frob (MassMatrix (g, c) * o, LoadVector (g, c));
  t = expect (t, e < 1e-14, sprintf ('%s: M 1 = F (%.2g)', gname, e));
end

% Rigid motions (translations, rotations) are in ElasticityMatrix's kernel on isoparametric
% curved patches, and nothing else is: the kernel of the 2-D annulus has dimension 3.
fine = nrbkntins (nrbdegelev (ann, [1 2]), {[0.25 0.5 0.75], [0.3 0.6]});
for g = {fine, nrbkntins(nrbdegelev (ring, [0 1 1]), {0.25, 0.5, []}), vol}
  X = points (g{1}, numel (g{1}.order)); n = columns (X); z = zeros (1, n); o = ones (1, n);
  if (rows (X) == 2)
    rigid = [o z; z o; -X(2, :) X(1, :)]';
  else
    rigid = [o z z; z o z; z z o; -X(2, :) X(1, :) z; z -X(3, :) X(2, :); X(3, :) z -X(1, :)]';
  end
  K = ElasticityMatrix (g{1}, 1.5, @(varargin) 1 + varargin{1} .^ 2);
  e = norm (K * rigid) / (norm (K, 1) * norm (rigid));
  ok = e < 1e-12;
  if (rows (X) == 2)
    ev = sort (abs (eig (full (K))));
    ok = ok && ev(4) > 1e-6 * ev(end);
  end
  t = expect (t, ok, sprintf ('%d-D elasticity: rigid motions in the kernel (%.2g)', rows (X), e));
end

% Patch test: a linear field is reproduced by a Poisson solve with its own boundary values (no
% source) on curved isoparametric patches, its control values the field at the control points.
% Exact where the quadrature integrates grad v exactly: on a polynomial map with the default
% nodes; on rational maps (the annulus, the ring) only with more nodes (8: 3e-8 with the default).
for g = {warped(), {}; fine, {'quadrature', 8}; ...
         nrbkntins(nrbextrude (ann, [0 0 1]), {[0.3 0.6], 0.5, 0.5}), {'quadrature', 8}}'
  d = numel (g{1}.order); X = points (g{1}, d);
  u = 1 + [2 -3 1](1:d) * X; u = u(:);
  K = StiffnessMatrix (g{1}, 2, g{2}{:}); F = LoadVector (g{1}, 0, g{2}{:});
  b = boundary (g{1}, 1:2 * d); in = setdiff (1:numel (u), b);
  uh = u; uh(in) = K(in, in) \ (F(in) - K(in, b) * u(b));
  e = norm (uh - u) / norm (u);
  t = expect (t, e < 1e-12 && numel (in) > 0, sprintf ('%d-D patch test, %s (%.2g)', d, ...
                                                       mat2str (g{1}.order), e));
end

% Measures of faces: the arcs' lengths pi and pi / 2, the ring's outer face pi, the area
% 3 pi / 4 (rational Jacobians: 16 nodes).
q = {'quadrature', 16};
e = abs ([full(sum (MassMatrix (ann, 1, 'side', 4, q{:})(:))) - pi, ...
          full(sum (MassMatrix (ann2, 1, 'side', 3, q{:})(:))) - pi / 2, ...
          sum(LoadVector (ann2, 1, 'side', 4, q{:})) - pi, ...
          full(sum (MassMatrix (ring, 1, 'side', 4, q{:})(:))) - pi, ...
          full(sum (MassMatrix (ann2, 1, q{:})(:))) - 3 * pi / 4]);
t = expect (t, all (e < 1e-13), sprintf ('measures of faces and of the annulus %s', mat2str (e, 2)));

% Integration by parts: for div b = 0, A + A' is the boundary mass of b . n.
b = @(x, y) [1 - y; x];
A = AdvectionMatrix (fine, b, q{:});
M = sparse (rows (A), columns (A));
for k = 1:4
  m = MeshEval (fine, 'side', k, q{:}, 'gradient', false);
  bn = reshape (sum (b (m.geo_map(1, :), m.geo_map(2, :)) .* m.normal(:, :)), m.nqn, m.nel);
  M += MassMatrix (fine, bn, 'side', k, q{:});
end
e = frob (A + A', M);
t = expect (t, e < 1e-12, sprintf ('advection: A + A'' is the boundary mass of b . n (%.2g)', e));


% Convergence. -lap u = f on the quarter annulus, u zero on the whole boundary, refined NURBS
% (isoparametric):
% H1-seminorm error like h^p, L2 like h^(p + 1).
u = @(x, y) -(x .^ 2 + y .^ 2 - 1) .* (x .^ 2 + y .^ 2 - 4) .* x .* y .^ 2;
f = @(x, y) 2 * x .* (x .^ 2 + y .^ 2 - 1) .* (x .^ 2 + y .^ 2 - 4) ...
            + 40 * x .* y .^ 2 .* (x .^ 2 + y .^ 2 - 2);
du = @(x, y, s) -[2 * (2 * s - 5) .* x .^ 2 .* y .^ 2 + (s - 1) .* (s - 4) .* y .^ 2; ...
                  2 * (2 * s - 5) .* x .* y .^ 3 + 2 * (s - 1) .* (s - 4) .* x .* y];
levels = [4 8 16 32];
for p = [2 3]
  err = zeros (2, numel (levels));
  for l = 1:numel (levels)
    k = (1:levels(l) - 1) / levels(l);
    g = nrbkntins (nrbdegelev (ann, [p p] - (ann.order - 1)), {k, k});
    K = StiffnessMatrix (g, 1); F = LoadVector (g, f);
    in = setdiff (1:rows (K), boundary (g, 1:4));
    uh = zeros (rows (K), 1); uh(in) = K(in, in) \ F(in);
    m = MeshEval (g, 'quadrature', p + 3);
    U = reshape (uh(m.connectivity), 1, m.nsh_max, m.nel);
    x = m.geo_map(1, :); y = m.geo_map(2, :); w = (m.quad_weights .* m.jacdet)(:)';
    v = sum (m.shape_functions .* U, 2)(:)';
    G = reshape (sum (m.shape_function_gradients .* reshape (U, 1, 1, m.nsh_max, m.nel), 3), 2, []);
    err(:, l) = sqrt ([sum(w .* (v - u (x, y)) .^ 2), ...
                       sum(w .* sum ((G - du (x, y, x .^ 2 + y .^ 2)) .^ 2))]);
  end
  t = rates (t, 1 ./ levels, err(1, :), p + 1, sprintf ('Poisson p = %d, L2', p));
  t = rates (t, 1 ./ levels, err(2, :), p, sprintf ('Poisson p = %d, H1', p));
end

% The plate with a hole: a quarter of a square of side 2 L = 8 around a hole of radius 1, ruled
% between the hole's arc and the outer square boundary, both C0 at their middle (a double knot:
% the arc's 45 degree point faces the square's corner), degree 2 along, 1 across. Side 1 lies on
% y = 0, side 2 on x = 0, side 3 is the hole, side 4 the two outer edges.
arc = nrbkntins (nrbcirc (1, [0 0 0], 0, pi / 2), [0.5 0.5]);
outer = nrbmak ([4 4 4 2 0; 0 2 4 4 4], [0 0 0 0.5 0.5 1 1 1]);
plate = nrbruled (arc, outer);
m = MeshEval (plate, q{:});
e = abs (sum (m.quad_weights(:) .* m.jacdet(:)) - (16 - pi / 4)) / (16 - pi / 4);
t = expect (t, e < 1e-13, sprintf ('plate with a hole: area 16 - pi / 4 (%.2g)', e));


% Plane strain, E = 1e5, nu = 0.3: exact tractions on the outer edges, symmetry conditions,
% the hole free. The energy-norm error, from the stresses (e : C^-1 e), falls like h^p.
E = 1e5; nu = 0.3; lambda = E * nu / ((1 + nu) * (1 - 2 * nu)); mu = E / (2 * (1 + nu));
levels = [4 8 16 32 64];
for p = [2 3]
  err = zeros (1, numel (levels));
  for l = 1:numel (levels)
    k = (1:levels(l) - 1) / levels(l);
    g = nrbkntins (nrbdegelev (plate, [p p] - plate.order + 1), {[k / 2, 0.5 + k / 2], k});
    n = prod (size (g.coefs)(2:3));
    K = ElasticityMatrix (g, lambda, mu);
    ms = MeshEval (g, 'side', 4, 'quadrature', p + 1, 'gradient', false);
    s = kirsch (ms.geo_map(1, :), ms.geo_map(2, :)); nn = ms.normal(:, :);
    tr = reshape ([s(1, :) .* nn(1, :) + s(3, :) .* nn(2, :); ...
                   s(3, :) .* nn(1, :) + s(2, :) .* nn(2, :)], 2, ms.nqn, ms.nel);
    F = LoadVector (g, tr, 'side', 4, 'quadrature', p + 1);
    fixed = [n + boundary(g, 1), boundary(g, 2)];             % u_y on y = 0, u_x on x = 0
    in = setdiff (1:2 * n, fixed);
    uh = zeros (2 * n, 1); uh(in) = K(in, in) \ F(in);
    m = MeshEval (g, 'quadrature', p + 3);
    G = m.shape_function_gradients;
    grad = zeros (2, 2, m.nqn * m.nel);                       % grad(i, j) = d u_i / d x_j
    for i = 1:2
      U = reshape (uh((i - 1) * n + m.connectivity), 1, 1, m.nsh_max, m.nel);
      grad(i, :, :) = reshape (sum (G .* U, 3), 1, 2, []);
    end
    ex = squeeze (grad(1, 1, :))'; ey = squeeze (grad(2, 2, :))';
    gxy = squeeze (grad(1, 2, :) + grad(2, 1, :))';
    sh = [lambda * (ex + ey) + 2 * mu * ex; lambda * (ex + ey) + 2 * mu * ey; mu * gxy];
    d = sh - kirsch (m.geo_map(1, :), m.geo_map(2, :));
    w = (m.quad_weights .* m.jacdet)(:)';
    energy = (d(1, :) .^ 2 + d(2, :) .^ 2 + 2 * d(3, :) .^ 2 ...
              - lambda / (2 * (lambda + mu)) * (d(1, :) + d(2, :)) .^ 2) / (2 * mu);
    err(l) = sqrt (sum (w .* energy));
  end
  t = rates (t, 1 ./ levels, err, p, sprintf ('plate with a hole p = %d, energy', p));
end

% The clamped plate: lap^2 u = f on the unit square, u = sin(pi x)^2 sin(pi y)^2, u = du/dn = 0
% on the boundary (the two outermost rows of control values along each side fixed at 0): the
% H2-seminorm error falls like h^(p - 1).
s = @(x) sin (pi * x) .^ 2; s1 = @(x) pi * sin (2 * pi * x); s2 = @(x) 2 * pi ^ 2 * cos (2 * pi * x);
s4 = @(x) -8 * pi ^ 4 * cos (2 * pi * x);
f = @(x, y) s4 (x) .* s (y) + 2 * s2 (x) .* s2 (y) + s (x) .* s4 (y);
square = nrb4surf ([0 0], [1 0], [0 1], [1 1]);
levels = [4 8 16 32];
for p = [2 3]
  err = zeros (1, numel (levels));
  for l = 1:numel (levels)
    k = (1:levels(l) - 1) / levels(l);
    g = nrbkntins (nrbdegelev (square, [p p] - 1), {k, k});
    sz = size (g.coefs)(2:3);
    B = BilaplacianMatrix (g, 1); F = LoadVector (g, f);
    [i, j] = ndgrid (1:sz(1), 1:sz(2));
    in = find (i > 2 & i < sz(1) - 1 & j > 2 & j < sz(2) - 1);
    uh = zeros (rows (B), 1); uh(in) = B(in, in) \ F(in);
    m = MeshEval (g, 'quadrature', p + 3, 'gradient', false, 'hessian', true);
    U = reshape (uh(m.connectivity), 1, 1, 1, m.nsh_max, m.nel);
    H = reshape (sum (m.shape_function_hessians .* U, 4), 4, []);
    x = m.geo_map(1, :); y = m.geo_map(2, :); w = (m.quad_weights .* m.jacdet)(:)';
    Hx = [s2(x) .* s(y); s1(x) .* s1(y); s1(x) .* s1(y); s(x) .* s2(y)];
    err(l) = sqrt (sum (w .* sum ((H - Hx) .^ 2)));
  end
  t = rates (t, 1 ./ levels, err, p - 1, sprintf ('clamped plate p = %d, H2', p));
end

% How coefficients are read: values at the nodes as a vector in node order, of any numeric or
% logical class; handles' results one value a node in any shape, or rdim a node components first
% (rdim x 1 x N as codes build velocities, or a constant rdim x 1); where a load's values fit both
% one a node and a constant vector (one element of rdim nodes), one a node.
m = MeshEval (ann2);
c = 1 + rand (m.nqn, m.nel);
K = StiffnessMatrix (ann2, c);
t = expect (t, isequal (StiffnessMatrix (ann2, c(:)), K) ...
            && isequal (StiffnessMatrix (ann2, int32 (3)), StiffnessMatrix (ann2, 3)) ...
            && isequal (MassMatrix (ann2, single (2)), MassMatrix (ann2, 2)) ...
            && isequal (MassMatrix (ann2, true (m.nqn, m.nel)), MassMatrix (ann2, 1)), ...
            'values: a vector in node order, integers, single, logical');
t = expect_error (t, @() StiffnessMatrix (ann2, c'), 'StiffnessMatrix:coefficientSize', ...
                  'values at the nodes transposed (nel x nqn) are refused');
b = rand (2, m.nqn, m.nel);
t = expect_error (t, @() AdvectionMatrix (ann2, permute (b, [1 3 2])), ...
                  'AdvectionMatrix:coefficientSize', 'b as rdim x nel x nqn is refused');
t = expect (t, isequal (AdvectionMatrix (ann2, b), AdvectionMatrix (ann2, b(:, :))), ...
            'b as rdim x nqn x nel or rdim x N');
v = @(x, y) [-y; x];
A = AdvectionMatrix (ann2, v);
t = expect (t, isequal (AdvectionMatrix (ann2, @(x, y) reshape (v (x, y), 2, 1, [])), A) ...
            && isequal (AdvectionMatrix (ann2, @(x, y) [1; 2]), AdvectionMatrix (ann2, [1; 2])) ...
            && isequal (StiffnessMatrix (ann2, @(x, y) (1 + x .* y)'), ...
                        StiffnessMatrix (ann2, @(x, y) 1 + x .* y)) ...
            && isequal (MassMatrix (ann2, @(x, y) x > 1), MassMatrix (ann2, @(x, y) double (x > 1))), ...
            'handles: rdim x 1 x N, a constant rdim x 1, a column, logical');
F = LoadVector (ann, [1; 2], 'quadrature', [2 1]);
t = expect (t, numel (F) == 6 && isequal (F, LoadVector (ann, @(x, y) [1 2], 'quadrature', [2 1])), ...
            'LoadVector: two values on one element of two nodes are one value a node');
F = LoadVector (ann, [1 1; 2 2], 'quadrature', [2 1]);
t = expect (t, numel (F) == 12, 'LoadVector: rdim x nqn x nel there is a vector load');

% A map singular at quadrature nodes (the annulus's inner arc collapsed to the origin, Lobatto
% nodes on it): those nodes contribute nothing, every form is finite; the mass is the area the
% rule gives, the stiffness annihilates constants.
cone = ann2; cone.coefs(1:2, :, 1) = 0;
lob = {[0 0.5 1; 1 4 1] ./ [1; 6], [0 0.5 1; 1 4 1] ./ [1; 6]};
m = MeshEval (cone, 'quadrature', lob);
finite = true;
for f = {'StiffnessMatrix', 'MassMatrix', 'LoadVector', 'AdvectionMatrix', 'BilaplacianMatrix'}
  A = feval (f{1}, cone, ifelse_advection (f{1}), 'quadrature', lob);
  finite = finite && all (isfinite (nonzeros (A)));
end
K = ElasticityMatrix (cone, 1, @(x, y) 1 ./ hypot (x, y), 'quadrature', lob);
M = MassMatrix (cone, 1, 'quadrature', lob);
S = StiffnessMatrix (cone, 1, 'quadrature', lob);
t = expect (t, any (m.jacdet(:) == 0) && finite && all (isfinite (nonzeros (K))) ...
            && abs (full (sum (M(:))) - sum (m.quad_weights(:) .* m.jacdet(:))) < 1e-13 ...
            && norm (S * ones (rows (S), 1)) < 1e-12 * norm (S, 1), ...
            'singular nodes contribute nothing');

% Usage: a coefficient missing or an option name in its place; the result beyond the memory.
huge = struct ('knots', {{[0 linspace(0, 1, 4e6) 1], [0 linspace(0, 1, 4e6) 1]}}, ...
               'order', [2 2]);
sq = nrbmak (permute (cat (3, [0 1; 0 1], [0 0; 1 1], zeros (2), ones (2)), [3 1 2]), ...
             {[0 0 1 1], [0 0 1 1]});
t = expect_error (t, @() MassMatrix (sq, 1, 'space', huge), 'MassMatrix:outOfMemory', ...
                  'MassMatrix: a result beyond the memory');
[t, err] = expect_error (t, @() LoadVector (sq, 1, 'space', huge), 'LoadVector:tooManyPoints', ...
                         'LoadVector: more rows than a column holds');
t = expect (t, ! isempty (err) && ! isempty (strfind (err.message, num2str (intmax ('int32')))), ...
            'LoadVector: tooManyPoints quotes the limit exceeded');
for f = {'StiffnessMatrix', 'MassMatrix', 'LoadVector', 'AdvectionMatrix', 'BilaplacianMatrix'}
  t = expect_error (t, @() feval (f{1}, ann2), [f{1} ':usage'], [f{1} ': no coefficient']);
  t = expect_error (t, @() feval (f{1}, ann2, 'quadrature', 3), [f{1} ':usage'], ...
                    [f{1} ': an option name for the coefficient']);
end
t = expect_error (t, @() ElasticityMatrix (ann2, 1), 'ElasticityMatrix:usage', ...
                  'ElasticityMatrix: no mu');

% Faults, for every form: coefficients of the wrong size (arrays, handles' results, arrays of
% the whole mesh for a subset), a failing handle (its message passed on), sides where a form has
% none or out of range, and MeshEval's faults under the form's identifier.
boom = @(varargin) error ('mine:boom', 'kaboom 4711');
bad = {'StiffnessMatrix', {1}; 'MassMatrix', {1}; 'LoadVector', {1}; ...
       'AdvectionMatrix', {[1; 2]}; 'ElasticityMatrix', {1, 1}; 'BilaplacianMatrix', {1}};
m = MeshEval (ann2);
for f = 1:rows (bad)
  [form, c] = bad{f, :}; last = numel (c);
  call = @(varargin) feval (form, varargin{:});
  with = @(v) [c(1:last - 1), {v}];
  wrong = {ones(3, 3), @(x, y) [x, y]};
  if (strcmp (form, 'AdvectionMatrix')), wrong = {[1; 2; 3], @(x, y) x}; end
  if (strcmp (form, 'LoadVector')), wrong = {ones(3, m.nqn, m.nel), @(x, y) [x; y; x]}; end
  for w = 1:2
    arg = with (wrong{w});
    t = expect_error (t, @() call (ann2, arg{:}), [form ':coefficientSize'], ...
                      sprintf ('%s: coefficient of the wrong size (%d)', form, w));
  end
  arg = with (ones (numel (c{last}), m.nqn, m.nel));            % the whole mesh's values
  t = expect_error (t, @() call (ann2, arg{:}, 'elements', [1 2]), [form ':coefficientSize'], ...
                    [form ': the whole mesh''s values for a subset']);
  arg = with (boom);
  [t, err] = expect_error (t, @() call (ann2, arg{:}), [form ':coefficientError'], ...
                           [form ': a failing handle']);
  t = expect (t, ! isempty (err) && ! isempty (strfind (err.message, 'kaboom 4711')), ...
              [form ': the handle''s message is passed on']);
  side = 1;
  if (any (strcmp (form, {'MassMatrix', 'LoadVector'}))), side = 5; end
  t = expect_error (t, @() call (ann2, c{:}, 'side', side), [form ':sideOutOfRange'], ...
                    sprintf ('%s: side %d', form, side));
  t = expect_error (t, @() call (1, c{:}), [form ':notStruct'], [form ': not a struct']);
  t = expect_error (t, @() call (ann2, c{:}, 'quadrtaure', 3), [form ':unknownOption'], ...
                    [form ': unknown option']);
  t = expect_error (t, @() call (ann2, c{:}, 'elements', 7), [form ':elementOutOfRange'], ...
                    [form ': element out of range']);
end
[t, err] = expect_error (t, @() ElasticityMatrix (ann2, 1, boom), ...
                         'ElasticityMatrix:coefficientError', 'ElasticityMatrix: mu fails');
t = expect (t, ! isempty (err) && ! isempty (strfind (err.message, 'mu')), ...
            'ElasticityMatrix: the failing coefficient is named');
t = expect_error (t, @() StiffnessMatrix (ring, @(x, y) x), 'StiffnessMatrix:coefficientError', ...
                  'a 2-argument handle in 3-D: called with x, y, z');

printf ('test_forms: %.1f s\n', toc);
report (t);
