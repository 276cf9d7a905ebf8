% MeshEval in the real host: its shape functions bit for bit the batch twins' rows at its nodes,
% its physical fields against a computation of their own from the twins and against the nurbs
% package, identities on curved patches (annulus, its extrusion, a torus patch), Hessians against
% differences of gradients, refined spaces, options, sides, faults and singular maps.
1;  % a script: its helper functions first

% Bits of a double array, so that equality means bit-identical.
function b = bits (x)
  b = typecast (x(:), 'uint64');
end

% Relative difference of a from the reference b in the Frobenius norm.
function e = frob (a, b)
  e = norm (a(:) - b(:)) / max (norm (b(:)), realmin);
end

% The quarter annulus of radii 1 and 2: degree 2 around (xi), 1 across (eta); eta = 0 is the
% inner arc. Its map reverses orientation (det J < 0).
function g = annulus ()
  s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
  g = nrbmak (permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]), ...
              {[0 0 0 1 1 1], [0 0 1 1]});
end

% A random patch of degrees p in rdim coordinates: interior knots on a 0.1 grid with one of them
% doubled, weights in [0.5, 1.5], control points near the Greville abscissae (a map close to the
% identity, far from singular) and random in the coordinates beyond d.
function nrb = random_patch (p, rdim)
  d = numel (p); knots = cell (1, d); n = zeros (1, d); grev = cell (1, d);
  for i = 1:d
    inner = randperm (9, randi (3)) / 10;
    U = [zeros(1, p(i) + 1), sort([inner, inner(1)]), ones(1, p(i) + 1)];
    knots{i} = U; n(i) = numel (U) - p(i) - 1;
    grev{i} = arrayfun (@(k) mean (U(k + 1:k + p(i))), 1:n(i));
  end
  grid = cell (1, d);
  [grid{:}] = ndgrid (grev{:});
  w = 0.5 + rand ([n, 1]);
  coefs = zeros ([4, n, 1]);
  for c = 1:rdim
    if (c <= d), x = grid{c} + 0.005 * randn (size (grid{c})); else, x = 0.3 * rand ([n, 1]); end
    coefs(c, :) = x(:)' .* w(:)';
  end
  coefs(4, :) = w(:)';
  if (d == 1), knots = knots{1}; end
  nrb = nrbmak (coefs, knots);
end

% A patch's own basis as a 'space' struct.
function sp = basis_of (nrb)
  k = nrb.knots; if (! iscell (k)), k = {k}; end
  sz = size (nrb.coefs);
  sp = struct ('knots', {k}, 'order', nrb.order, ...
               'weights', reshape (nrb.coefs(4, :), [sz(2:end), 1]));
end

% Control points of a patch, rdim x n.
function X = points (nrb, rdim)
  X = nrb.coefs(1:rdim, :) ./ nrb.coefs(4, :);
end

% The space's functions at the points xi (d x P) by the batch twin: R and dR{i} one row a point,
% idx the functions' indices. A space without weights is a B-spline one (surfaces only).
function [R, dR, idx] = twin (xi, sp)
  p = sp.order - 1; d = numel (p); dR = cell (1, d);
  if (! isfield (sp, 'weights'))
    [R, dR{:}, idx] = PolySurfShapeGradBatch (xi, p(1), p(2), sp.knots{:});
  elseif (d == 1)
    [R, dR{:}, idx] = RatCurveShapeGradBatch (xi, p, sp.knots{1}, sp.weights);
  elseif (d == 2)
    [R, dR{:}, idx] = RatSurfShapeGradBatch (xi, p(1), p(2), sp.knots{:}, sp.weights);
  else
    [R, dR{:}, idx] = RatVolShapeGradBatch (xi, p(1), p(2), p(3), sp.knots{:}, sp.weights);
  end
end

% msh's physical fields computed afresh from the twins' rows: the map from the geometry's basis
% and control points, the gradients J^-T grad_xi R (J (J'J)^-1 grad_xi R where rdim > d) of sp.
function ref = physical (msh, nrb, sp)
  d = rows (msh.quad_nodes); rdim = msh.rdim; nqn = msh.nqn; nel = msh.nel;
  xi = reshape (msh.quad_nodes, d, []); P = columns (xi);
  [Rg, dRg, ig] = twin (xi, basis_of (nrb));
  X = points (nrb, rdim);
  x = zeros (rdim, P); J = zeros (rdim, d, P);
  for c = 1:rdim
    Xc = X(c, :);
    x(c, :) = sum (Rg .* Xc(ig), 2);
    for i = 1:d, J(c, i, :) = sum (dRg{i} .* Xc(ig), 2); end
  end
  [R, dR] = twin (xi, sp);
  D = cat (3, dR{:});
  G = zeros (rdim, P, columns (R)); jd = zeros (1, P);
  for j = 1:P
    gxi = permute (D(j, :, :), [3 2 1]); Jj = J(:, :, j);
    if (rdim == d)
      jd(j) = abs (det (Jj)); G(:, j, :) = Jj' \ gxi;
    else
      M = Jj' * Jj; jd(j) = sqrt (det (M)); G(:, j, :) = Jj * (M \ gxi);
    end
  end
  ref = struct ('geo_map', reshape (x, rdim, nqn, nel), 'geo_map_jac', J, ...
                'jacdet', reshape (jd, nqn, nel), ...
                'grad', permute (reshape (G, rdim, nqn, nel, []), [1 2 4 3]));
end

% Partition of unity, gradients summing to 0, and the coordinates reproduced (X the space's
% control points): sum_a x_a (grad R_a)' is the identity (the tangent projector I - n n' on a
% surface in 3-D); with Hessians, the Laplacians are their traces, and where rdim = d the
% coordinates' Hessian sum_a x_a H_a vanishes.
function t = identities (t, msh, X, label)
  [nqn, nsh, nel] = size (msh.shape_functions); r = msh.rdim;
  t = expect (t, max (abs (sum (msh.shape_functions, 2)(:) - 1)) < 1e-14, [label ': sum R = 1']);
  G = msh.shape_function_gradients;
  t = expect (t, max (abs (sum (G, 3)(:))) < 1e-13 * max (abs (G(:))), [label ': sum grad R = 0']);
  Xa = X(:, msh.connectivity);
  XG = sum (reshape (Xa, r, 1, 1, nsh, nel) .* reshape (G, 1, r, nqn, nsh, nel), 4);
  XG = reshape (XG, r, r, []);
  I = full (eye (r));              % a full matrix: a diagonal one does not broadcast
  if (isfield (msh, 'normal'))
    n = reshape (msh.normal, r, 1, []); I = I - n .* permute (n, [2 1 3]);
  end
  e = max (abs (XG - I)(:));
  t = expect (t, e < 1e-13, sprintf ('%s: sum x_a grad R_a'' = I (%.2g)', label, e));
  if (isfield (msh, 'shape_function_hessians'))
    H = msh.shape_function_hessians;
    if (isfield (msh, 'shape_function_laplacians'))
      tr = reshape (sum (reshape (H, r * r, []) (1:r + 1:end, :), 1), nqn, nsh, nel);
      e = frob (msh.shape_function_laplacians, tr);
      t = expect (t, e < 1e-12, sprintf ('%s: laplacian = trace of the Hessian (%.2g)', label, e));
    end
    if (r == rows (msh.quad_nodes))
      XH = sum (reshape (Xa, r, 1, 1, 1, nsh, nel) .* reshape (H, 1, r, r, nqn, nsh, nel), 5);
      e = max (abs (XH(:))) / (max (abs (H(:))) * max (abs (X(:))));
      t = expect (t, e < 1e-13, sprintf ('%s: sum x_a H_a = 0 (%.2g)', label, e));
    end
  end
end

% The Hessians at reference point z of element el against central differences of the gradients
% at z +- h along each parametric direction (one-node rules): H (J dxi) = P (grad(xi + dxi) -
% grad(xi - dxi)) / 2 + O(h^2), P the tangent projector (the identity where rdim = d): on a
% surface in 3-D the Hessian is the covariant one, tangential and symmetric. Options: MeshEval's.
function e = hessian_error (nrb, el, z, varargin)
  d = numel (z); h = 1e-5;
  at = @(z) MeshEval (nrb, 'elements', el, 'hessian', true, varargin{:}, ...
                      'quadrature', num2cell ([z(:)'; ones(1, d)], 1));
  m = at (z); r = m.rdim;
  H = reshape (m.shape_function_hessians, r, r, []);
  P = eye (r);
  if (isfield (m, 'normal')), P -= m.normal * m.normal'; end
  e = 0;
  for i = 1:d
    s = zeros (d, 1); s(i) = h;
    mp = at (z + s); mm = at (z - s);
    dx = m.geo_map_jac * (mp.quad_nodes - mm.quad_nodes) / 2;
    fd = P * reshape (mp.shape_function_gradients - mm.shape_function_gradients, r, []) / 2;
    e = max (e, frob (reshape (sum (H .* dx', 2), r, []), fd));
  end
end

pkg load nurbs
t = harness ();
rand ('seed', 7); randn ('seed', 7);
tic;

% Random isoparametric patches, every degree, curves and surfaces also in higher dimensions: the
% shape functions and connectivity are the twins' rows at the nodes, bit for bit; the physical
% fields agree with the twins' and with the nurbs package's evaluation of the map.
for d = 1:3
  maxp = 5 - 2 * (d == 3);
  for k = 1:5 - 2 * (d == 3)
    p = mod (k + (0:d - 1), maxp) + 1;
    rdim = min (3, d + mod (k, 2) * (k > 1));
    nrb = random_patch (p, rdim);
    label = sprintf ('%d-D patch %d, degrees %s, rdim %d', d, k, mat2str (p), rdim);
    msh = MeshEval (nrb);
    sp = basis_of (nrb);
    t = expect (t, msh.rdim == rdim && msh.ndim == d && msh.ndof == numel (sp.weights), ...
                [label ': dimensions']);
    [R, ~, idx] = twin (reshape (msh.quad_nodes, d, []), sp);
    S = reshape (permute (msh.shape_functions, [1 3 2]), [], msh.nsh_max);
    t = expect (t, isequal (bits (S), bits (R)), [label ': shape functions are the twin''s R']);
    E = repelem (1:msh.nel, msh.nqn);
    t = expect (t, isequal (msh.connectivity(:, E)', idx), ...
                [label ': connectivity is the twin''s idx']);
    ref = physical (msh, nrb, sp);
    e = [frob(msh.geo_map, ref.geo_map), frob(msh.geo_map_jac, ref.geo_map_jac), ...
         frob(msh.jacdet, ref.jacdet), frob(msh.shape_function_gradients, ref.grad)];
    t = expect (t, all (e < 1e-13), sprintf ('%s: map, J, jacdet, gradients from the twins %s', ...
                                             label, mat2str (e, 2)));
    xi = reshape (msh.quad_nodes, d, []);
    [pnt, jac] = nrbdeval (nrb, nrbderiv (nrb), xi);
    if (! iscell (jac)), jac = {jac}; end
    Jn = permute (cat (3, jac{:}), [1 3 2])(1:rdim, :, :);
    e = [frob(msh.geo_map(:), pnt(1:rdim, :)), frob(msh.geo_map_jac(:), Jn)];
    t = expect (t, all (e < 1e-13), sprintf ('%s: map and J from nrbdeval %s', label, ...
                                             mat2str (e, 2)));
  end
end

% A B-spline space of higher degree with an extra knot on a rational surface: its twin's rows.
nrb = random_patch ([2 1], 2);
sp = struct ('knots', {cell(1, 2)}, 'order', nrb.order + 1);
for i = 1:2
  U = nrb.knots{i}; p = nrb.order(i);
  sp.knots{i} = [zeros(1, p + 1), unique([U(p + 1:end - p), 0.55]), ones(1, p + 1)];
end
msh = MeshEval (nrb, 'space', sp);
[R, ~, idx] = twin (reshape (msh.quad_nodes, 2, []), sp);
S = reshape (permute (msh.shape_functions, [1 3 2]), [], msh.nsh_max);
t = expect (t, isequal (bits (S), bits (R)) ...
            && isequal (msh.connectivity(:, repelem (1:msh.nel, msh.nqn))', idx), ...
            'B-spline space: shape functions and connectivity are PolySurfShapeGradBatch''s');
t = expect (t, frob (msh.shape_function_gradients, physical (msh, nrb, sp).grad) < 1e-13, ...
            'B-spline space: gradients from the twins');

% Curved patches: the annulus refined (degrees 3 and 2, interior knots), its extrusion and a
% doubly curved torus patch (tube radius 1/2 at distance 2 from the axis, a quarter each way).
ann = annulus ();
fine = nrbkntins (nrbdegelev (ann, [1 1]), {[0.3 0.6], 0.5});
vol = nrbextrude (fine, [0 0 1]);
tube = nrbtform (nrbcirc (0.5, [0 0 0], 0, pi / 2), vecrotx (pi / 2));
tube = nrbtform (tube, vectrans ([2 0 0]));
torus = nrbrevolve (tube, [0 0 0], [0 0 1], pi / 2);
cases = {ann, 'annulus', 3 * pi / 4; fine, 'refined annulus', 3 * pi / 4; ...
         nrbextrude(ann, [0 0 1]), 'extruded annulus', 3 * pi / 4; ...
         vol, 'refined extrusion', 3 * pi / 4; ...
         torus, 'torus patch', 0.5 * pi / 2 * (2 * pi / 2 + 0.5)};
for k = 1:rows (cases)
  [g, label, measure] = cases{k, :};
  msh = MeshEval (g, 'hessian', true, 'laplacian', true);
  t = identities (t, msh, points (g, msh.rdim), label);
  m16 = MeshEval (g, 'quadrature', 16, 'gradient', false);
  e = abs (sum (m16.quad_weights(:) .* m16.jacdet(:)) - measure) / measure;
  t = expect (t, e < 1e-13, sprintf ('%s: area or volume (%.2g)', label, e));
end

% The torus: unit normals orthogonal to J's columns, along J1 x J2; the Laplace-Beltrami operator
% of the coordinates is the mean curvature vector -(1/r + cos(theta)/rho) n, n pointing out of
% the tube (r = 1/2, rho the distance from the axis, rho = 2 + r cos(theta)).
msh = MeshEval (torus, 'laplacian', true);
n = msh.normal(:, :); J = reshape (msh.geo_map_jac, 3, 2, []);
cr = cross (squeeze (J(:, 1, :)), squeeze (J(:, 2, :)));
t = expect (t, max (abs (sum (n .^ 2) - 1)) < 1e-14 && all (sum (n .* cr) > 0) ...
            && max (abs (sum (n .* squeeze (J(:, 1, :))))) < 1e-14 ...
            && max (abs (sum (n .* squeeze (J(:, 2, :))))) < 1e-14, ...
            'torus: normal unit, orthogonal to J, along J1 x J2');
x = msh.geo_map(:, :); rho = hypot (x(1, :), x(2, :));
nout = (x - 2 * [x(1:2, :) ./ rho; zeros(1, columns (x))]) / 0.5;
X = points (torus, 3);
L = msh.shape_function_laplacians;
XL = reshape (sum (reshape (X(:, msh.connectivity), 3, 1, msh.nsh_max, []) .* ...
                   reshape (L, 1, msh.nqn, msh.nsh_max, []), 3), 3, []);
e = frob (XL, -(2 + (rho - 2) / 0.5 ./ rho) .* nout);
t = expect (t, e < 1e-12, sprintf ('torus: Laplace-Beltrami of x, the mean curvature (%.2g)', e));

% Sides of the annulus and the extrusion: outward normals on the arcs, the arcs' lengths.
for k = 3:4
  m = MeshEval (ann, 'side', k, 'quadrature', 16);
  x = m.geo_map(:, :); sgn = 2 * k - 7;                      % -1 inner arc (k = 3), +1 outer
  e = [max(abs(m.normal(:, :) - sgn * x ./ sqrt (sum (x .^ 2)))(:)), ...
       abs(sum (m.quad_weights(:) .* m.jacdet(:)) - (k - 2) * pi / 2)];
  t = expect (t, all (e < 1e-13) && m.ndim == 1, sprintf ('annulus side %d: normals, length %s', ...
                                                          k, mat2str (e, 2)));
end
m = MeshEval (nrbextrude (ann, [0 0 1]), 'side', 4, 'quadrature', 16);
x = m.geo_map(:, :); nx = [x(1:2, :) ./ hypot(x(1, :), x(2, :)); zeros(1, columns (x))];
e = [max(abs (m.normal(:, :) - nx)(:)), abs(sum (m.quad_weights(:) .* m.jacdet(:)) - pi)];
t = expect (t, all (e < 1e-13), sprintf ('extrusion side 4: normals, area pi %s', mat2str (e, 2)));
for k = 5:6
  m = MeshEval (vol, 'side', k, 'quadrature', 8);
  e = [max(abs (m.normal(:, :) - [0; 0; 2 * k - 11])(:)), ...
       abs(sum (m.quad_weights(:) .* m.jacdet(:)) - 3 * pi / 4)];
  t = expect (t, all (e < 1e-13) && max (abs (m.geo_map(3, :) - (k - 5))) < 1e-15, ...
              sprintf ('extrusion side %d: normal (0, 0, -+1), area %s', k, mat2str (e, 2)));
end

% Hessians against differences of gradients at random nodes, among them the annulus, whose
% radial direction has only two functions, and the torus.
for k = 1:rows (cases)
  [g, label] = cases{k, 1:2};
  m = MeshEval (g, 'quadrature', 1);
  for el = unique ([1, m.nel])
    d = rows (m.quad_nodes);
    e = hessian_error (g, el, 0.2 + 0.6 * rand (d, 1));
    t = expect (t, e < 1e-7, sprintf ('%s element %d: Hessians by differences (%.2g)', ...
                                      label, el, e));
  end
end
e = hessian_error (random_patch (4, 1), 2, 0.4);
t = expect (t, e < 1e-7, sprintf ('curve: Hessians by differences (%.2g)', e));

% A space refining the geometry (degree elevation and knot insertion, the refined weights) gives
% the fields of the refined isoparametric patch and reproduces its control points' coordinates.
for k = 1:2
  g = {ann, nrbextrude(ann, [0 0 1])}{k}; d = numel (g.order);
  ref = nrbkntins (nrbdegelev (g, ones (1, d)), {[0.25 0.5], 0.4, 0.5}(1:d));
  a = MeshEval (g, 'space', basis_of (ref), 'hessian', true); b = MeshEval (ref, 'hessian', true);
  e = [frob(a.geo_map, b.geo_map), frob(a.jacdet, b.jacdet), ...
       frob(a.shape_function_gradients, b.shape_function_gradients), ...
       frob(a.shape_function_hessians, b.shape_function_hessians)];
  label = sprintf ('%d-D refined space', d);
  t = expect (t, all (e < 1e-13) && isequal (a.connectivity, b.connectivity) ...
              && a.ndof == b.ndof, ...
              sprintf ('%s: the refined patch''s fields %s', label, mat2str (e, 2)));
  t = identities (t, a, points (ref, d), label);
  e = hessian_error (g, 1, 0.2 + 0.6 * rand (d, 1), 'space', basis_of (ref));
  t = expect (t, e < 1e-7, sprintf ('%s: Hessians by differences (%.2g)', label, e));
end

% Options and layout on a random surface: elements numbered the first direction fastest, each
% node in its element's box; 'elements' gives the matching columns of the whole mesh.
nrb = random_patch ([2 3], 2);
full = MeshEval (nrb, 'hessian', true, 'laplacian', true);
b = cellfun (@unique, nrb.knots, 'UniformOutput', false);
t = expect (t, isequal (full.nel_dir, cellfun (@numel, b) - 1) ...
            && full.nel == prod (full.nel_dir), ...
            'nel_dir: the non-empty spans');
ok = true;
for el = 1:full.nel
  [i, j] = ind2sub (full.nel_dir, el); q = full.quad_nodes(:, :, el);
  inside = q(1, :) > b{1}(i) & q(1, :) < b{1}(i + 1) & q(2, :) > b{2}(j) & q(2, :) < b{2}(j + 1);
  area = diff (b{1}(i:i + 1)) * diff (b{2}(j:j + 1));
  ok = ok && all (inside) && abs (sum (full.quad_weights(:, el)) - area) < 1e-15;
end
t = expect (t, ok, 'elements first direction fastest; weights sum to the element''s area');
e = frob (full.element_size, sqrt (sum (full.quad_weights .* full.jacdet)));
t = expect (t, e < 1e-15, sprintf ('element_size is the square root of the area (%.2g)', e));
els = [full.nel, 1, 3];
sub = MeshEval (nrb, 'elements', els, 'hessian', true, 'laplacian', true);
fields = {'quad_nodes', 'quad_weights', 'geo_map', 'geo_map_jac', 'jacdet', 'element_size', ...
          'connectivity', 'shape_functions', 'shape_function_gradients', ...
          'shape_function_hessians', 'shape_function_laplacians'};
ok = sub.nel == 3 && isequal (sub.elements, els) && isequal (full.elements, 1:full.nel);
for f = fields
  A = reshape (full.(f{1}), [], full.nel);
  ok = ok && isequal (reshape (sub.(f{1}), [], 3), A(:, els));
end
t = expect (t, ok, '''elements'': the matching columns of the whole mesh');
t = expect_error (t, @() MeshEval (nrb, 'elements', 0), 'MeshEval:elementOutOfRange', ...
                  '''elements'', 0 is out of range, not every element');

% A call large enough for threads: the same bits serial and threaded, its inputs unchanged.
k = (1:11) / 12; big = nrbkntins (nrbextrude (ann, [0 0 1]), {k, k, k});
coefs = unshared (big.coefs);
runs = cell (1, 2);
for r = 1:2
  setenv ('NURBS_NUM_THREADS', {'1', ''}{r});
  runs{r} = MeshEval (big, 'hessian', true, 'laplacian', true);
end
setenv ('NURBS_NUM_THREADS', '');
same = isequal (fieldnames (runs{1}), fieldnames (runs{2}));
for f = fieldnames (runs{1})'
  same = same && isequal (bits (runs{1}.(f{1})), bits (runs{2}.(f{1})));
end
t = expect (t, same && runs{1}.nel == 1728, '1728 elements: serial and threaded bits agree');
t = expect (t, isequal (bits (big.coefs), bits (coefs)), 'the geometry is unchanged');

% Quadrature as a count, scalar or one per direction (the first direction fastest), and as rules.
m2 = MeshEval (nrb, 'quadrature', [2 4]); q = m2.quad_nodes(:, :, 1);
t = expect (t, m2.nqn == 8 && q(2, 1) == q(2, 2) && q(1, 1) < q(1, 2) && q(1, 1) == q(1, 3) ...
            && isequal (MeshEval (nrb, 'quadrature', 3).quad_nodes, ...
                        MeshEval (nrb, 'quadrature', [3 3]).quad_nodes), ...
            'quadrature [2 4]: 8 nodes, the first direction fastest; 3 is [3 3]');
lob = [0 1; 0.5 0.5];
m = MeshEval (nrb, 'quadrature', {lob, lob});
xi = reshape (m.quad_nodes, 2, []);
corners = all (ismember (xi(1, :), b{1}) & ismember (xi(2, :), b{2}));
[pnt, jac] = nrbdeval (nrb, nrbderiv (nrb), xi);
e = [frob(m.geo_map(:, :), pnt(1:2, :)), max(abs (sum (m.shape_functions, 2)(:) - 1))];
t = expect (t, corners && e(1) < 1e-13 && e(2) < 1e-14 && max (m.quad_nodes(:)) == 1, ...
            sprintf ('Lobatto rule: nodes on the corners, map as nrbeval %s', mat2str (e, 2)));
t = expect (t, abs (sum (m.quad_weights(:)) - 1) < 1e-14, ...
            'Lobatto rule: weights sum to the domain''s area');

% Which fields: gradients on request, Hessians and Laplacians off by default, no normal in a plane.
m = MeshEval (nrb, 'gradient', false, 'hessian', true);
t = expect (t, ! isfield (m, 'shape_function_gradients') ...
            && isfield (m, 'shape_function_hessians') ...
            && ! isfield (m, 'shape_function_laplacians'), ...
            '''gradient'', false, ''hessian'', true');
none = {'shape_function_hessians', 'shape_function_laplacians', 'normal', 'dofs'};
t = expect (t, isfield (m2, 'shape_function_gradients') && ! any (isfield (m2, none)), ...
            'default fields');

% 'rdim', 3 for the (negatively oriented) annulus: normal (0, 0, sign det J), the same fields.
a = MeshEval (ann, 'rdim', 3); b = MeshEval (ann);
J = reshape (b.geo_map_jac, 2, 2, []);
sgn = sign (squeeze (J(1, 1, :) .* J(2, 2, :) - J(1, 2, :) .* J(2, 1, :)))';
e = [frob(a.jacdet, b.jacdet), ...
     frob(a.shape_function_gradients(1:2, :), b.shape_function_gradients(:, :))];
t = expect (t, a.rdim == 3 && isequal (a.normal(:, :), [0; 0; 1] .* sgn) ...
            && all (a.geo_map(3, :) == 0) && all (a.shape_function_gradients(3, :) == 0) ...
            && all (e < 1e-13), ...
            sprintf ('rdim 3 for a planar surface %s', mat2str (e, 2)));

% Sides of random surfaces and volumes: the face on the start or end of its coordinate, the
% outward unit normal orthogonal to the face, dofs the functions the twin finds not zero there,
% and on start faces the shape functions are the twin's rows bit for bit.
for p = {[2 3], [1 2 3]}
  nrb = random_patch (p{1}, numel (p{1})); d = numel (p{1}); sp = basis_of (nrb);
  for k = 1:2 * d
    m = MeshEval (nrb, 'side', k);
    i = ceil (k / 2); xi = reshape (m.quad_nodes, d, []);
    [R, ~, idx] = twin (xi, sp);
    n = m.normal(:, :); J = reshape (m.geo_map_jac, d, d, []);
    out = 2 * mod (k + 1, 2) - 1;                              % -1 at a start, +1 at an end
    ok = m.ndim == d - 1 && all (xi(i, :) == mod (k + 1, 2)) ...
         && isequal (m.dofs(:)', unique (idx(abs (R) > 1e-10))') ...
         && max (abs (sum (n .^ 2) - 1)) < 1e-14 && all (out * n(i, :) > 0.5);
    for j = setdiff (1:d, i)
      ok = ok && max (abs (sum (n .* squeeze (J(:, j, :))))) < 1e-13;
    end
    if (mod (k, 2))
      S = reshape (permute (m.shape_functions, [1 3 2]), [], m.nsh_max);
      ok = ok && isequal (bits (S), bits (R));
    end
    t = expect (t, ok, sprintf ('%d-D side %d: face, normal, dofs', d, k));
  end
end

% A curve's sides are its end points: a point's measure, jacdet exactly 1, and the outward
% normal -1 at the start and +1 at the end (the other way round when the map reverses). The
% first, x = 49 xi, has 49 * (1 / 49) < 1 in floating point.
ones_ok = true; ok = true;
for k = 0:8
  c = random_patch (mod (k, 4) + 1, 1);
  if (k == 0), c = nrbmak ([0 49; 0 0; 0 0; 1 1], [0 0 1 1]); end
  X = points (c, 1);
  for rev = [1 -1]
    if (rev < 0), c = nrbmak (fliplr (c.coefs), 1 - fliplr (c.knots)); X = fliplr (X); end
    m1 = MeshEval (c, 'side', 1); m2 = MeshEval (c, 'side', 2);
    ones_ok = ones_ok && m1.jacdet == 1 && m2.jacdet == 1;
    ok = ok && m1.normal == -rev && m2.normal == rev && m1.ndim == 0 && m1.element_size == 0 ...
         && abs (m1.geo_map - X(1)) < 1e-15 && abs (m2.geo_map - X(end)) < 1e-15 ...
         && isequal (m1.dofs, 1) && isequal (m2.dofs, columns (X));
  end
end
t = expect (t, ones_ok, 'curve sides: jacdet exactly 1');
t = expect (t, ok, 'curve sides: end points, normals, dofs, element_size 0');
m = MeshEval (nrbcirc (1, [0 0], 0, pi / 2), 'side', 1);
t = expect (t, max (abs (m.normal - [0; -1])) < 1e-15, ...
            'quarter circle: the start''s normal is minus the unit tangent');

% Faults: one call for each identifier.
g = ann; set = @(f, v) setfield (g, f, v);
bad = @(c, i, v) subsasgn (c, substruct ('()', i), v);
sp = @(varargin) struct ('knots', {g.knots}, 'order', g.order, varargin{:});
calls = {'notStruct', {1}; 'missingField', {rmfield(g, 'order')};
         'fieldType', {set('knots', [0 0 1 1])}; 'unknownOption', {g, 'quadrtaure', 3};
         'optionValue', {g, 'gradient', 2}; 'notRefinement', {fine, 'space', sp()};
         'dimensions', {g, 'space', struct('knots', {{[0 0 1 1]}}, 'order', 2)};
         'quadratureCount', {g, 'quadrature', 65}; 'sideOutOfRange', {g, 'side', 5};
         'quadratureRule', {g, 'quadrature', {[1.5; 1], [0.5; 1]}};
         'elementOutOfRange', {g, 'elements', 2}; 'orderTooLarge', {set('order', [30 2])};
         'knotsDecreasing', {set('knots', {[0 0 0 1 0.5 1], [0 0 1 1]})};
         'knotsNaN', {set('knots', {[0 0 0 NaN 1 1], [0 0 1 1]})};
         'knotsNotFinite', {set('knots', {[-Inf -Inf 0 1 Inf Inf], [0 0 1 1]})};
         'knotsNotFinite', {set('knots', {[-1 -1 -1 1 1 1] * 1e308, [0 0 1 1]})};
         'coefsNotFinite', {set('coefs', bad (g.coefs, {4, 1, 1}, 1e-310))};
         'coefsSize', {set('coefs', permute (g.coefs, [1 3 2]))};
         'coefsSize', {g, 'space', sp('weights', ones (2, 3))};
         'usage', {};
         'domainEmpty', {set('knots', {zeros(1, 6), [0 0 1 1]})};
         'knotsNotRow', {set('knots', {[0 0 0 1 1 1]', [0 0 1 1]})};
         'coefsSize', {set('coefs', g.coefs(:, 1:2, :))};
         'coefsNotFinite', {set('coefs', bad (g.coefs, {1, 2, 2}, Inf))};
         'weightsNotPositive', {set('coefs', bad (g.coefs, {4, 2, 2}, 0))};
         'weightsNotPositive', {g, 'space', sp('weights', -ones (3, 2))};
         'orderNotInteger', {set('order', [2.5 2])}; 'orderTooSmall', {set('order', [0 2])};
         'notDouble', {set('coefs', single (g.coefs))}};
for k = 1:rows (calls)
  t = expect_error (t, @() MeshEval (calls{k, 2}{:}), ['MeshEval:' calls{k, 1}], calls{k, 1});
end

% The space as a NURBS struct (nrbmak's): its weights are its coefs(4, ...), as given in
% 'weights'; weights as a vector in order are read as the grid. Repeated options: the last wins.
ref = nrbkntins (nrbdegelev (ann, [0 1]), {0.5, 0.5});
w = squeeze (ref.coefs(4, :, :));
want = MeshEval (ann, 'space', struct ('knots', {ref.knots}, 'order', ref.order, 'weights', w));
for s = {ref, struct('knots', {ref.knots}, 'order', ref.order, 'weights', w(:)')}
  m = MeshEval (ann, 'space', s{1});
  t = expect (t, isequal (m.shape_function_gradients, want.shape_function_gradients), ...
              'a NURBS struct or a vector of weights as the space');
end
m = MeshEval (ann, 'quadrature', 2, 'side', 1, 'quadrature', 3, 'side', 0);
t = expect (t, m.nqn == 9 && ! isfield (m, 'normal'), 'repeated options: the last wins');

% Outputs the host cannot make (an exabyte: beyond any address space): outOfMemory, so that a
% caller can evaluate in chunks.
many = [0 linspace(0, 1, 4e6) 1];
huge = struct ('knots', {{many, many}}, 'order', [2 2]);
sq = nrbmak (permute (cat (3, [0 1; 0 1], [0 0; 1 1], zeros (2), ones (2)), [3 1 2]), ...
             {[0 0 1 1], [0 0 1 1]});
t = expect_error (t, @() MeshEval (sq, 'space', huge, 'quadrature', 64), ...
                  'MeshEval:outOfMemory', 'an output beyond the memory');

% A singular map, a triangle from a collapsed edge (eta = 1): jacdet 0 and gradients not finite
% there, finite elsewhere, no error; its area is exact with Gauss nodes.
x = [0 0; 1 0]; y = [0 1; 0 1];
tri = nrbmak (permute (cat (3, x, y, zeros (2, 2), ones (2, 2)), [3 1 2]), ...
              {[0 0 1 1], [0 0 1 1]});
m = MeshEval (tri, 'quadrature', {lob, lob});
top = m.quad_nodes(2, :) == 1; G = reshape (m.shape_function_gradients, 2, 4, []);
t = expect (t, all (m.jacdet(top) == 0) && all (m.jacdet(! top) > 0) ...
            && ! any (all (isfinite (G(:, top, :)), [1 3])) ...
            && all (isfinite (G(:, ! top, :))(:)), ...
            'collapsed edge: jacdet 0 and gradients not finite there');
m = MeshEval (tri);
t = expect (t, abs (sum (m.quad_weights .* m.jacdet) - 0.5) < 1e-15, ...
            'collapsed edge: the triangle''s area');

% Orientation: the annulus reverses it; with its directions swapped or xi reversed it keeps it.
% jacdet is positive and the gradients are right either way.
swapped = nrbmak (permute (ann.coefs, [1 3 2]), fliplr (ann.knots));
reversed = nrbmak (ann.coefs(:, end:-1:1, :), ann.knots);
for g = {ann, swapped, reversed; 'annulus', 'swapped', 'reversed'}
  m = MeshEval (g{1}, 'quadrature', 16); ref = physical (m, g{1}, basis_of (g{1}));
  e = [frob(m.shape_function_gradients, ref.grad), frob(m.jacdet, ref.jacdet), ...
       abs(sum (m.quad_weights(:) .* m.jacdet(:)) - 3 * pi / 4)];
  t = expect (t, all (m.jacdet(:) > 0) && all (e < 1e-13), ...
              sprintf ('%s: jacdet > 0, gradients, area %s', g{2}, mat2str (e, 2)));
end

printf ('test_MeshEval: %.1f s\n', toc);
report (t);
