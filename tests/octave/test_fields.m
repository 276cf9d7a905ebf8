% Solution fields: FieldEval against the nurbs package (nrbeval and nrbdeval on NURBS carrying
% the field, gradients pulled back through the geometry's Jacobian) and against the batch twins,
% in 1-D, 2-D, 3-D and on surfaces and curves in space, for NURBS and B-spline spaces, refined
% spaces and vector fields; the coordinates as a field; Hessians against differences of the
% gradient; a field of several patches continuous across their interface and equal to the
% unsplit patch's. ExportVTK's files read back by VTK's own XML readers (python3-vtk9): counts,
% points and every field and gradient against FieldEval, the multiblock file's names, and the
% files left behind by failures. PlotField drawn and printed without a display.
1;  % a script: its helper functions first

% The field with control values c (n x ncomp) in the space of NURBS s (its knots and weights) on
% geometry g, evaluated by the nurbs package: u ncomp x P, its physical gradient ncomp x rdim x P
% (grad_xi u pulled back by J, or by its pseudo-inverse where rdim > d), x rdim x P.
function [u, gradu, x] = oracle (g, s, c, xi, rdim)
  d = numel (g.order);
  if (d == 1), xi = reshape (xi, 1, []); end
  P = size (xi, 2);
  [x, J] = nrbdeval (g, nrbderiv (g), xi);
  if (~iscell (J)), J = {J}; end
  x = x(1:rdim, :);
  ncomp = columns (c);
  u = zeros (ncomp, P); gradu = zeros (ncomp, rdim, P);
  for k = 1:ncomp
    f = s;
    f.coefs = zeros (size (s.coefs));
    f.coefs(1, :) = c(:, k)' .* s.coefs(4, :);
    f.coefs(4, :) = s.coefs(4, :);
    [v, dv] = nrbdeval (f, nrbderiv (f), xi);
    if (~iscell (dv)), dv = {dv}; end
    u(k, :) = v(1, :);
    for j = 1:P
      Jj = cell2mat (cellfun (@(a) a(1:rdim, j), J, 'UniformOutput', false));
      du = cellfun (@(a) a(1, j), dv);
      gradu(k, :, j) = du * pinv (Jj);
    end
  end
end

% The B-spline space of g's knots and orders as a NURBS (weights 1), and as a space struct.
function [s, space] = bspline_space (g)
  s = g;
  s.coefs = zeros (size (g.coefs));
  s.coefs(4, :) = 1;
  space = struct ('knots', {g.knots}, 'order', g.order);
end

% The values Python's VTK readers found in a file (read_vtk.py): a struct array of blocks with
% name, counts (points, cells), dims and arrays (a struct of components x points matrices).
function blocks = read_vtk (file)
  here = fileparts (mfilename ('fullpath'));
  out = [tempname() '.txt'];
  quoted = @(p) ['''' strrep(p, '''', '''\''''') ''''];    % for the shell, any name
  [status, text] = system (sprintf ('/usr/bin/python3 %s %s %s 2>&1', ...
                                    quoted (fullfile (here, 'read_vtk.py')), quoted (file), ...
                                    quoted (out)));
  if (status ~= 0)
    error ('read_vtk: %s', text);
  end
  fid = fopen (out); lines = {};
  while (true)
    l = fgetl (fid);
    if (~ischar (l)), break; end
    lines{end + 1} = l;
  end
  fclose (fid); delete (out);
  blocks = struct ('name', {}, 'counts', {}, 'dims', {}, 'arrays', {});
  k = 1;
  while (k <= numel (lines))
    w = strsplit (lines{k});
    if (strcmp (w{1}, 'block'))
      n = str2double (w(3:end));
      blocks(end + 1) = struct ('name', decoded (w{2}), 'counts', n(1:2), 'dims', n(3:5), ...
                                'arrays', struct ());
      k += 1;
    else
      values = sscanf (lines{k + 1}, '%f');
      blocks(end).arrays.(decoded (w{2})) = reshape (values, str2double (w{3}), []);
      k += 2;
    end
  end
end

% A percent-encoded name (read_vtk.py's) as it was.
function name = decoded (name)
  at = strfind (name, '%');
  for k = numel (at):-1:1
    name = [name(1:at(k) - 1), char(hex2dec (name(at(k) + (1:2)))), name(at(k) + 3:end)];
  end
end

function g = annulus ()
  s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
  g = nrbmak (permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]), ...
              {[0 0 0 1 1 1], [0 0 1 1]});
end

t = harness ();
pkg load nurbs
rand ('seed', 7);
tol = 1e-12;

% --- FieldEval against the nurbs package -----------------------------------------------------
ring = annulus ();
fine = nrbkntins (nrbdegelev (ring, [1 2]), {[0.3 0.5 0.5 0.5], [0.25 0.7]});   % C0 at 0.5
xi = [rand(2, 40), [0 1 0.5 1; 1 0 0.5 1]];                               % corners included

% Isoparametric NURBS space, a scalar field.
c = rand (prod (fine.number), 1);
[u, gradu, x] = FieldEval (fine, c, xi);
[ur, gr, xr] = oracle (fine, fine, c, xi, 2);
t = expect (t, relative_error (u, ur) < tol && relative_error (gradu, gr) < tol && ...
            relative_error (x, xr) < tol, 'isoparametric scalar field on the annulus');
t = expect (t, isequal (size (u), [1 44]) && isequal (size (gradu), [1 2 44]) && ...
            isequal (size (x), [2 44]), 'output shapes for points');

% The same field from the batch twin and m-code: the same values to rounding.
w = reshape (fine.coefs(4, :), fine.number);
[R, dRdxi, dRdeta, idx] = RatSurfShapeGradBatch (xi, 3, 3, fine.knots{:}, w);
t = expect (t, relative_error (u', sum (R .* c(idx), 2)) < 1e-14, 'values as the twin gives them');

% The space of a refined NURBS struct on the coarse geometry; a vector field of 2 components.
c2 = rand (2 * prod (fine.number), 1);
[u, gradu, x] = FieldEval (ring, c2, xi, 'space', fine);
[ur, gr, xr] = oracle (ring, fine, reshape (c2, [], 2), xi, 2);
t = expect (t, relative_error (u, ur) < tol && relative_error (gradu, gr) < tol && ...
            relative_error (x, xr) < tol, 'refined NURBS space, vector field');
t = expect (t, isequal (size (gradu), [2 2 44]), 'vector field gradient shape');

% A B-spline space (no weights) refining the rational geometry.
[bs, space] = bspline_space (fine);
[u, gradu] = FieldEval (ring, c, xi, 'space', space, 'components', 1);
[ur, gr] = oracle (ring, bs, c, xi, 2);
t = expect (t, relative_error (u, ur) < tol && relative_error (gradu, gr) < tol, ...
            'B-spline space on a rational geometry');

% A tensor grid: the outputs shaped by it, the same values as its points.
grid = {[0 0.2 0.9 1], [0.1 0.5 1]};
[ug, gg, xg] = FieldEval (fine, c, grid);
[A, B] = ndgrid (grid{:});
[u, gradu, x] = FieldEval (fine, c, [A(:)'; B(:)']);
t = expect (t, isequal (size (ug), [1 4 3]) && isequal (size (gg), [1 2 4 3]) && ...
            isequal (size (xg), [2 4 3]) && isequal (ug(:), u(:)) && isequal (gg(:), gradu(:)) ...
            && isequal (xg(:), x(:)), 'a tensor grid as its points');

% Points in chunks (a call of the twin each): the same bits as one call, grids and values alone too.
out1 = cell (1, 4); out2 = out1;
[out1{:}] = FieldEval (ring, c2, xi, 'space', fine, 'hessian', true, 'chunk', 7);
[out2{:}] = FieldEval (ring, c2, xi, 'space', fine, 'hessian', true, 'chunk', Inf);
ug = FieldEval (fine, c, grid, 'chunk', 5);
t = expect (t, isequal (out1, out2) && isequal (ug, FieldEval (fine, c, grid)) && ...
            isequal (size (out1{4}), [2 2 2 44]), 'chunks of points give the same bits');
t = expect_error (t, @() FieldEval (fine, c, xi, 'chunk', 0), 'FieldEval:optionValue', 'chunk 0');

% The coordinates as a field: x itself, the identity as gradient, no Hessian.
X = reshape (fine.coefs(1:2, :) ./ fine.coefs(4, :), 2, [])';
[u, gradu, x, hess] = FieldEval (fine, X(:), xi, 'hessian', true);
t = expect (t, relative_error (u, x) < 1e-14 && ...
            relative_error (gradu, repmat (eye (2), 1, 1, 44)) < 1e-13 && ...
            max (abs (hess(:))) < 1e-11, 'coordinates reproduce x, identity gradient');

% 3-D: the annulus extruded, cubic in every direction, a vector field of 3 components.
vol = nrbkntins (nrbdegelev (nrbextrude (ring, [0 0.5 2]), [1 2 2]), {0.4, 0.5, [0.3 0.6]});
c3 = rand (3 * prod (vol.number), 1);
xi3 = [rand(3, 20), [0 1; 1 0; 1 0]];
[u, gradu, x] = FieldEval (vol, c3, xi3);
[ur, gr, xr] = oracle (vol, vol, reshape (c3, [], 3), xi3, 3);
t = expect (t, relative_error (u, ur) < tol && relative_error (gradu, gr) < tol && ...
            relative_error (x, xr) < tol, '3-D vector field');
X = reshape (vol.coefs(1:3, :) ./ vol.coefs(4, :), 3, [])';
[u, gradu, x] = FieldEval (vol, X(:), xi3);
t = expect (t, relative_error (u, x) < 1e-14 && ...
            relative_error (gradu, repmat (eye (3), 1, 1, 22)) < 1e-13, '3-D coordinates');

% A surface in 3-D (a quarter cylinder) and curves in the plane and on a line: tangential
% gradients.
arc = nrbcirc (1, [0 0 0], 0, pi / 2);
cyl = nrbkntins (nrbdegelev (nrbextrude (arc, [0 0 3]), [1 2]), {[0.5 0.7], 0.5});
cs = rand (prod (cyl.number), 1);
[u, gradu, x] = FieldEval (cyl, cs, xi);
[ur, gr, xr] = oracle (cyl, cyl, cs, xi, 3);
t = expect (t, relative_error (u, ur) < tol && relative_error (gradu, gr) < tol && ...
            relative_error (x, xr) < tol, 'surface in 3-D');
radial = reshape ([x(1:2, :); zeros(1, 44)], 1, 3, 44);
t = expect (t, max (abs (sum (gradu .* radial, 2))) < 1e-12, ...
            'a surface gradient is tangential');
curve = nrbkntins (nrbdegelev (arc, 1), [0.2 0.6]);
cc = rand (curve.number, 1);
s1 = [rand(1, 10), 0, 1];
[u, gradu, x] = FieldEval (curve, cc, s1);
[ur, gr, xr] = oracle (curve, curve, cc, s1, 2);
t = expect (t, relative_error (u, ur) < tol && relative_error (gradu, gr) < tol && ...
            relative_error (x, xr) < tol, 'curve in the plane');
line = nrbkntins (nrbmak ([0 1 3; 0 0 0; 0 0 0; 1 1 1], [0 0 0 1 1 1]), [0.3 0.3 0.8]);
cl = rand (line.number, 1);
[bl, lspace] = bspline_space (line);
[u, gradu, x] = FieldEval (line, cl, s1', 'space', lspace);
[ur, gr, xr] = oracle (line, bl, cl, s1, 1);
t = expect (t, relative_error (u, ur) < tol && relative_error (gradu, gr) < tol && ...
            relative_error (x, xr) < tol, 'curve on a line (1-D), B-spline space, column points');

% Hessians: the change of the gradient along xi_k is H J(:, k) (central differences).
for geo = {fine, vol, ring, line}
  g = geo{1}; d = numel (g.order);
  cf = rand (prod (g.number), 1);
  p0 = 0.2 + 0.6 * rand (d, 3);
  [~, gradu, ~, hess] = FieldEval (g, cf, p0, 'hessian', true);
  [~, J] = nrbdeval (g, nrbderiv (g), p0);
  if (~iscell (J)), J = {J}; end
  h = 1e-5; worst = 0;
  for k = 1:d
    e = zeros (d, 1); e(k) = h;
    [~, gp] = FieldEval (g, cf, p0 + e); [~, gm] = FieldEval (g, cf, p0 - e);
    for j = 1:3
      fd = (gp(1, :, j) - gm(1, :, j))' / (2 * h);
      worst = max (worst, norm (fd - squeeze (hess(1, :, :, j)) * J{k}(1:d, j)) / norm (fd));
    end
  end
  t = expect (t, worst < 1e-6 && relative_error (hess, permute (hess, [1 3 2 4])) < 1e-12, ...
              sprintf ('%d-D Hessian against differences of the gradient, symmetric', d));
end
% Values, gradients and Hessians at MeshEval's nodes against its shape functions' (a native
% code of its own): plane, volume, and the cylinder's surface Hessian.
for geo = {fine, vol, cyl}
  g = geo{1};
  m = MeshEval (g, 'hessian', true, 'quadrature', 2, 'elements', 1:3);
  cf = rand (prod (g.number), 1);
  C = reshape (cf(m.connectivity), 1, m.nsh_max, m.nel);
  ue = sum (reshape (m.shape_functions, m.nqn, m.nsh_max, m.nel) .* C, 2);
  ge = sum (m.shape_function_gradients .* reshape (C, 1, 1, m.nsh_max, m.nel), 3);
  he = sum (m.shape_function_hessians .* reshape (C, 1, 1, 1, m.nsh_max, m.nel), 4);
  [u, gradu, ~, hess] = FieldEval (g, cf, reshape (m.quad_nodes, m.ndim, []), 'hessian', true);
  r = m.rdim;
  t = expect (t, relative_error (u, ue(:)') < 1e-13 && ...
              relative_error (gradu(:), ge(:)) < 1e-12 && ...
              relative_error (hess(:), he(:)) < 1e-10, ...
              sprintf ('%d-D in %d-D: values, gradients, Hessians as MeshEval''s', m.ndim, r));
end

% The annulus has 2 functions across, fewer than the Hessian twin reads: its knots are padded.
cr = rand (6, 1);
[u1, g1] = FieldEval (ring, cr, xi);
[u2, g2, ~, hess] = FieldEval (ring, cr, xi, 'hessian', true);
[ur, gr] = oracle (ring, ring, cr, xi, 2);
t = expect (t, relative_error (u2, ur) < tol && relative_error (g2, gr) < tol && ...
            relative_error (u1, ur) < tol && relative_error (g1, gr) < tol && ...
            all (isfinite (hess(:))), 'padded knots for the Hessian twin: the same field');
% A quadratic in x on an affine map: its Hessian exactly.
sq = nrbdegelev (nrbmak (cat (1, permute (cat (3, [0 2; 1 3.5], [0 0.5; 1.5 2.2]), [3 1 2]), ...
                              zeros (1, 2, 2), ones (1, 2, 2)), {[0 0 1 1], [0 0 1 1]}), [1 1]);
sq = nrbkntins (sq, {0.5, 0.5});
pts = rand (2, 200);
[R, ~, ~, idx] = RatSurfShapeGradBatch (pts, 2, 2, sq.knots{:}, ...
                                        reshape (sq.coefs(4, :), sq.number));
M = zeros (200, prod (sq.number));
for j = 1:200, M(j, idx(j, :)) = R(j, :); end
p = nrbeval (sq, pts);
cq = M \ (p(1, :) .^ 2 + 3 * p(1, :) .* p(2, :))';
[~, ~, ~, hess] = FieldEval (sq, cq, rand (2, 5), 'hessian', true);
t = expect (t, relative_error (hess, repmat ([2 3; 3 0], 1, 1, 1, 5)) < 1e-9, ...
            'the Hessian of x^2 + 3 x y');

% --- Several patches ---------------------------------------------------------------------------
% The fine annulus split in two at xi = 0.5 (a C0 knot): a field on the domain, continuous
% across the cut, equals the unsplit field.
[a, b] = split_patch (fine, 1, 0.5);
mp = Multipatch ({a, b});
cg = zeros (mp.ndof, 1);
ca = reshape (c, fine.number);
cb = ca(1:a.number(1), :);
cg(mp.gnum{1}) = cb(:);
cb = ca(end - b.number(1) + 1:end, :);
cg(mp.gnum{2}) = cb(:);
eta = rand (1, 6);
u1 = FieldEval (mp, cg, [ones(1, 6); eta], 'patch', 1);
u2 = FieldEval (mp, cg, [zeros(1, 6); eta], 'patch', 2);
t = expect (t, relative_error (u1, u2) < 1e-12, ...
            'a domain field is continuous across the interface');
xi2 = rand (2, 6);
[u2, g2] = FieldEval (mp, cg, xi2, 'patch', 2);
[uw, gw] = FieldEval (fine, c, [0.5 + 0.5 * xi2(1, :); xi2(2, :)]);
t = expect (t, relative_error (u2, uw) < 1e-13 && relative_error (g2, gw) < 1e-12, ...
            'a patch of the domain gives the unsplit field');

% --- Faults --------------------------------------------------------------------------------------
t = expect_error (t, @() FieldEval (fine, c(1:end - 1), xi), 'FieldEval:coefsLength', ...
                  'short coefs');
t = expect_error (t, @() FieldEval (fine, c2, xi, 'components', 3), 'FieldEval:coefsLength', ...
                  'components not matching');
t = expect_error (t, @() FieldEval (fine, c, [0.5; 1.5]), 'FieldEval:pointsOutOfRange', ...
                  'a point outside the domain');
t = expect_error (t, @() FieldEval (fine, c, [NaN; 0.5]), 'FieldEval:pointsOutOfRange', ...
                  'a NaN point');
[t, err] = expect_error (t, @() FieldEval (fine, c, [0.5; 1.0000001]), ...
                         'FieldEval:pointsOutOfRange', 'a point just past the end');
t = expect (t, ~isempty (err) && ~isempty (strfind (err.message, 'is 1.0000001,')), ...
            'a point just past the end: printed with the digits that show it is');
t = expect_error (t, @() FieldEval (fine, c, rand (3, 2)), 'FieldEval:pointsShape', ...
                  '3 x P on a surface');
t = expect_error (t, @() FieldEval (fine, c, {0.5}), 'FieldEval:pointsShape', ...
                  'a grid of 1 direction');
t = expect_error (t, @() FieldEval (fine, {c}, xi), 'FieldEval:coefsType', 'coefs a cell');
t = expect_error (t, @() FieldEval (fine, c), 'FieldEval:usage', 'no points');
t = expect_error (t, @() FieldEval (fine, c, xi, 'hesian', true), 'FieldEval:unknownOption', ...
                  'misspelt option');
t = expect_error (t, @() FieldEval (mp, cg, xi), 'FieldEval:optionValue', 'a domain without patch');
t = expect_error (t, @() FieldEval (mp, cg, xi, 'patch', 3), 'FieldEval:optionValue', ...
                  'patch 3 of 2');
t = expect_error (t, @() FieldEval (mp, cg, xi, 'patch', 1, 'space', fine), ...
                  'FieldEval:optionValue', 'a space over a domain');
bad = fine; bad.knots{1}([2 3]) = bad.knots{1}([3 2]) + [0.1 0];
t = expect_error (t, @() FieldEval (bad, c, xi), 'FieldEval:knotsDecreasing', ...
                  'a geometry''s fault');
other = struct ('knots', {{[0 0 1 1], [0 0 2 2]}}, 'order', [2 2]);
t = expect_error (t, @() FieldEval (ring, c, xi, 'space', other), 'FieldEval:notRefinement', ...
                  'a space on another domain');

% --- ExportVTK, read back by VTK ------------------------------------------------------------------
folder = tempname ();
mkdir (folder);
% One patch: a scalar and a vector field with gradients, 3 intervals an element.
files = ExportVTK (fullfile (folder, 'ring.vts'), ring, struct ('u', c, 'v', c2), 'space', fine, ...
                   'gradient', true, 'subdivisions', 3);
blocks = read_vtk (files{1});
grid = {unique([linspace(0, 0.3, 4), linspace(0.3, 0.5, 4), linspace(0.5, 1, 4)]), ...
        unique([linspace(0, 0.25, 4), linspace(0.25, 0.7, 4), linspace(0.7, 1, 4)])};
[u, gradu, x] = FieldEval (ring, c, grid, 'space', fine);
[v, gradv] = FieldEval (ring, c2, grid, 'space', fine);
N = 100;
A = blocks.arrays;
t = expect (t, isequal (blocks.counts, [100 81]) && isequal (blocks.dims, [10 10 1]), ...
            'a patch''s grid: points and cells');
t = expect (t, isequal (files, {fullfile(folder, 'ring.vts')}), 'the .vts named');
t = expect (t, relative_error (A.Points, [reshape(x, 2, N); zeros(1, N)]) < tol, ...
            'points read back');
t = expect (t, relative_error (A.u, reshape (u, 1, N)) < tol && ...
            relative_error (A.v, [reshape(v, 2, N); zeros(1, N)]) < tol, 'fields read back');
gv = zeros (3, 3, N); gv(1:2, 1:2, :) = reshape (gradv, 2, 2, N);
t = expect (t, relative_error (A.u_gradient, [reshape(gradu, 2, N); zeros(1, N)]) < tol && ...
            relative_error (A.v_gradient, reshape (permute (gv, [2 1 3]), 9, N)) < tol, ...
            'gradients read back (a vector, a 3 x 3 tensor by rows)');
text = fileread (files{1});
t = expect (t, ~isempty (strfind (text, 'byte_order="LittleEndian"')) && ...
            ~isempty (strfind (text, 'header_type="UInt64"')) && ...
            ~isempty (strfind (text, '<AppendedData encoding="raw">')), 'declared binary layout');

% A curve in the plane: a line of cells, its tangential gradient.
files = ExportVTK (fullfile (folder, 'arc'), curve, struct ('c', cc), 'gradient', true);
blocks = read_vtk (files{1});
[u, gradu, x] = FieldEval (curve, cc, {unique([linspace(0, 0.2, 7), linspace(0.2, 0.6, 7), ...
                                               linspace(0.6, 1, 7)])});
t = expect (t, isequal (blocks.dims, [19 1 1]) && blocks.counts(2) == 18 && ...
            relative_error (blocks.arrays.Points, [reshape(x, 2, []); zeros(1, 19)]) < tol && ...
            relative_error (blocks.arrays.c, u) < tol && ...
            relative_error (blocks.arrays.c_gradient, ...
                            [reshape(gradu, 2, []); zeros(1, 19)]) < tol, ...
            'a curve: 18 cells, points, field and gradient');

% A 3-D domain of two patches: the .vtm names both, every block's points and field.
[va, vb] = split_patch (vol, 2, 0.5);
vmp = Multipatch ({va, vb});
Xg = zeros (vmp.ndof, 3);
for i = 1:2
  P = vmp.patches{i};
  Xg(vmp.gnum{i}, :) = reshape (P.coefs(1:3, :) ./ P.coefs(4, :), 3, [])';
end
files = ExportVTK (fullfile (folder, 'block'), vmp, struct ('X', Xg(:)), 'gradient', true, ...
                   'subdivisions', [1 2 1]);
blocks = read_vtk (files{end});
t = expect (t, numel (files) == 3 && strcmp (files{3}, fullfile (folder, 'block.vtm')) && ...
            numel (blocks) == 2 && all (strcmp ({blocks.name}, {'patch_1', 'patch_2'})), ...
            'a multiblock file naming every patch');
ok = true;
for i = 1:2
  B = blocks(i);
  n = prod (B.dims);
  ok = ok && B.counts(2) == prod (B.dims - 1) && ...
       relative_error (B.arrays.X, B.arrays.Points) < 1e-14 && ...
       relative_error (B.arrays.X_gradient, repmat (reshape (eye (3), 9, 1), 1, n)) < 1e-13;
  P = vmp.patches{i};
  b = unique (P.knots{2});
  grid = {unique(P.knots{1}), sort([b, (b(1:end - 1) + b(2:end)) / 2]), unique(P.knots{3})};
  [~, ~, x] = FieldEval (vmp, Xg(:), grid, 'patch', i);
  ok = ok && relative_error (B.arrays.Points, reshape (x, 3, [])) < tol;
end
t = expect (t, ok, '3-D blocks: points exact, the coordinates field and its gradient');

% Names as data: field and file names with % & < > " and line breaks, written escaped and read
% back by VTK as they were (a name went through a format twice, unescaped: VTK read no block).
odd = struct ();
names = {'u%d', 'a&b', 'c<d>', 'e"f', sprintf('g\nh')};
for k = 1:numel (names), odd.(names{k}) = k * cg; end
try
  files = ExportVTK (fullfile (folder, 'odd %s & <"name">'), mp, odd);
  blocks = read_vtk (files{end});
  ok = numel (blocks) == 2 && all (strcmp ({blocks.name}, {'patch_1', 'patch_2'}));
  for b = 1:numel (blocks)
    ok = ok && isequal (sort (fieldnames (blocks(b).arrays)), sort ([names, {'Points'}]'));
    for k = 1:numel (names)
      ok = ok && isfield (blocks(b).arrays, names{k}) && ...
           relative_error (blocks(b).arrays.(names{k}) / k, blocks(b).arrays.(names{1})) < 1e-15;
    end
  end
  cellfun (@delete, files);
catch err
  ok = false;
  printf ('  %s\n', err.message);
end
t = expect (t, ok, 'names with % & < > " and a line break: files VTK reads, the names as given');
t = expect_error (t, @() ExportVTK (fullfile (folder, sprintf ('a\nb')), ring, struct ()), ...
                  'ExportVTK:fileName', 'a file name with a line break');
t = expect_error (t, @() ExportVTK (fullfile (folder, 'bell'), ring, ...
                                   struct (char ([98 7]), c)), 'ExportVTK:fieldsType', ...
                  'a field name with a control character');

% Failures leave nothing behind.
before = dir (folder);
t = expect_error (t, @() ExportVTK (fullfile (folder, 'no', 'such', 'x'), ring, struct ()), ...
                  'ExportVTK:fileOpen', 'a folder that does not exist');
t = expect_error (t, @() ExportVTK (fullfile (folder, 'short'), ring, struct ('u', rand (6, 1)), ...
                                   'space', fine), 'ExportVTK:coefsLength', ...
                  'a field of the wrong length for the space');
[~, err] = expect_error (t, @() ExportVTK (fullfile (folder, 'short'), mp, ...
                         struct ('u', cg, 'w', cg(2:end))), 'ExportVTK:coefsLength', 'x');
t = expect (t, ~isempty (strfind (err.message, 'fields.w')), 'the message names the field');
mkdir (fullfile (folder, 'taken.vtm'));                   % the .vtm cannot be written
t = expect_error (t, @() ExportVTK (fullfile (folder, 'taken'), mp, struct ('u', cg)), ...
                  'ExportVTK:fileOpen', 'an unwritable .vtm');
after = dir (folder);
t = expect (t, isequal (sort ({after.name}), sort ([{before.name}, {'taken.vtm'}])), ...
            'failed calls leave no file behind');
t = expect_error (t, @() ExportVTK (3, ring, struct ()), 'ExportVTK:fileName', 'a numeric name');
t = expect_error (t, @() ExportVTK ('x', mp, struct (), 'space', fine), 'ExportVTK:optionValue', ...
                  'a space over a domain');
t = expect_error (t, @() ExportVTK ('x', ring, {c}), 'ExportVTK:fieldsType', 'fields a cell');

% --- PlotField without a display ---------------------------------------------------------------
warning ('off', 'all');                                   % gnuplot's and print's notices
graphics_toolkit ('gnuplot');
fig = figure ('visible', 'off');
h = PlotField (mp, cg, 'subdivisions', 2);
t = expect (t, numel (h) == 3 && all (ishghandle (h)), 'two patches and a colorbar');
clf (fig);
h = PlotField (vol, c3, 'deform', 0.1, 'subdivisions', 1);
t = expect (t, numel (h) == 7, 'a volume''s six faces, deformed');
png = fullfile (folder, 'field.png');
print (fig, '-dpngcairo', png);
info = dir (png);
t = expect (t, numel (info) == 1 && info.bytes > 1000, 'printed to a PNG');
clf (fig);
h = PlotField (vmp, Xg(:), 'component', 3, 'subdivisions', 1);
t = expect (t, numel (h) == numel (vmp.boundaries) + 1 && numel (vmp.boundaries) == 10, ...
            'a 3-D domain: its ten boundary faces');
clf (fig);
h = PlotField (curve, cc);
t = expect (t, numel (h) == 2, 'a curve as a coloured line');
t = expect_error (t, @() PlotField (vol, c3, 'component', 4), 'PlotField:optionValue', ...
                  'a component beyond the field''s');
t = expect_error (t, @() PlotField (fine, c, 'deform', 1), 'PlotField:optionValue', ...
                  'deforming by a scalar field');
clf (fig);
try
  h = PlotField (fine, c, 'value', @(u, g, x) u > 0.5, 'subdivisions', 2);
  ok = numel (h) == 2;
catch err
  ok = false;
  printf ('  %s\n', err.message);
end
t = expect (t, ok, 'a logical value: a region coloured 0 and 1');
for v = {{@(u, g, x) u + 1i, 'complex'}, {@(u, g, x) repmat ('a', size (u)), 'char'}}
  [t, err] = expect_error (t, @() PlotField (fine, c, 'value', v{1}{1}), ...
                           'PlotField:optionValue', ['a ' v{1}{2} ' value']);
  t = expect (t, ~isempty (err) && ~isempty (strfind (err.message, v{1}{2})), ...
              ['a ' v{1}{2} ' value: the message says what it is, not a count']);
end
close (fig);
confirm_recursive_rmdir (false);
rmdir (folder, 's');
report (t);
