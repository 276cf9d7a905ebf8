% Domains of several patches against an independent reference and against known solutions: the
% interfaces and boundary faces Multipatch finds, compared with the nurbs package's
% nrbmultipatch on 2-D and 3-D domains glued in every relative orientation (reversed and swapped
% faces, a cube cut into 8, L-shapes, a Y-junction where three patches meet at a point, closed
% rings, domains with no interface), with the C0 numbering checked through the control points;
% then convergence at the theoretical rates on curved domains of several patches: Poisson with
% non-homogeneous Dirichlet data in 2-D and 3-D (isoparametric and on refined spaces, the same
% space split differently giving the same errors), and plane-strain elasticity on the plate with
% a hole cut into two patches against the same plate as one patch.
1;  % a script: its helper functions first

% The point of a perturbed lattice at integer coordinates (i, j[, k]): neighbouring cells share
% their corners, and no cell is a box, so a face matched the wrong way round does not coincide.
function X = lattice (i, j, k)
  if (nargin < 3)
    X = [i + 0.1 * j .^ 2 + 0.03 * i .* j; j + 0.12 * i - 0.05 * i .^ 2];
  else
    X = [i + 0.1 * j .^ 2 + 0.05 * k; j + 0.1 * i - 0.07 * k .^ 2; k + 0.08 * i .* j - 0.03 * j];
  end
end

% The bilinear (trilinear) patch on the lattice cell [c, c + s], raised to the degrees p and
% refined with the interior knots k{d} of each direction.
function g = cell_patch (c, s, p, k)
  d = numel (c);
  if (d == 2)
    [I, J] = ndgrid (c(1) + [0 s], c(2) + [0 s]);
    X = lattice (I(:)', J(:)');
  else
    [I, J, K] = ndgrid (c(1) + [0 s], c(2) + [0 s], c(3) + [0 s]);
    X = lattice (I(:)', J(:)', K(:)');
  end
  coefs = reshape ([X; zeros(3 - d, 2 ^ d); ones(1, 2 ^ d)], [4, 2 * ones(1, d)]);
  g = nrbmak (coefs, repmat ({[0 0 1 1]}, 1, d));
  g = nrbkntins (nrbdegelev (g, p - 1), k);
end

% The patch with direction d reversed: the same geometry, its functions in another order.
function g = reversed (g, d)
  g.coefs = flip (g.coefs, d + 1);
  g.knots{d} = g.knots{d}(1) + g.knots{d}(end) - fliplr (g.knots{d});
end

% The patch with its directions permuted: new direction i is old direction order(i).
function g = permuted (g, order)
  g.coefs = permute (g.coefs, [1, order + 1]);
  g.knots = g.knots(order);
  g.order = g.order(order);
  g.number = g.number(order);
end

% One of the 2^d d! parametrisations of a patch, chosen by code (0-based): the permutation
% code / 2^d of perms (d), then direction i reversed where bit i - 1 of code is set.
function g = oriented (g, code)
  d = numel (g.order);
  P = perms (1:d);
  g = permuted (g, P(1 + mod (floor (code / 2 ^ d), rows (P)), :));
  for i = 1:d
    if (bitand (code, 2 ^ (i - 1))), g = reversed (g, i); end
  end
end

% The functions of a C0 space on a union of unit lattice cells (rows of cells), each with m(i)
% functions in direction i: distinct positions of functions on the global grid.
function n = c0_count (cells, m)
  d = numel (m);
  local = cell (1, d);
  [local{:}] = ndgrid (arrayfun (@(mi) 0:mi - 1, m, 'UniformOutput', false){:});
  local = cell2mat (cellfun (@(v) v(:), local, 'UniformOutput', false));
  all_positions = [];
  for c = 1:rows (cells)
    all_positions = [all_positions; local + cells(c, :) .* (m - 1)];
  end
  n = rows (unique (all_positions, 'rows'));
end

% Interfaces as rows (patch1, side1, patch2, side2, codes), each written from the face with the
% lower (patch, side) so that both lists read the same: a d = 3 code with the directions
% crossed (flag -1) swaps ornt1 and ornt2 when read from the other face.
function R = canonical (I, d, names)
  R = zeros (numel (I), 4 + numel (names));
  for k = 1:numel (I)
    codes = cellfun (@(n) I(k).(n), names);
    r = [I(k).patch1, I(k).side1, I(k).patch2, I(k).side2, codes];
    if (r(3) < r(1) || (r(3) == r(1) && r(4) < r(2)))
      r(1:4) = r([3 4 1 2]);
      if (d == 3 && r(5) == -1), r(6:7) = r([7 6]); end
    end
    R(k, :) = r;
  end
  R = sortrows (R);
end

% The indices of patch g's functions on side s (MeshEval's numbering), in g's own order.
function a = side_functions (g, s)
  n = size (g.coefs)(2:end);
  d = ceil (s / 2);
  idx = arrayfun (@(m) 1:m, n, 'UniformOutput', false);
  if (mod (s, 2)), idx{d} = 1; else, idx{d} = n(d); end
  A = reshape (1:prod (n), [n, 1]);
  a = reshape (A(idx{:}), [], 1);
end

function m = ifelse_message (err)
  m = '';
  if (~isempty (err)), m = err.message; end
end

% A domain glued by Multipatch against nrbmultipatch's interfaces and boundary faces, and its
% numbering against the geometry: one global index, one control point (isoparametric spaces);
% distinct indices, distinct points; ndof the C0 count; each boundary face's dofs those of its
% side's functions.
function [t, mp] = glued_as_oracle (t, patches, ndof, label)
  try
    mp = Multipatch (patches);
  catch failure
    t = expect (t, false, sprintf ('%s: Multipatch failed: %s', label, ...
                                  strtok (failure.message, "\n")));
    mp = [];
    return;
  end
  quiet = warning ('off', 'all');                  % it warns where corners alone coincide
  [I, B] = nrbmultipatch ([patches{:}]);
  warning (quiet);
  d = mp.ndim;
  if (d == 2)
    ours = canonical (mp.interfaces, 2, {'flag'});
    theirs = canonical (I, 2, {'ornt'});
  else
    ours = canonical (mp.interfaces, 3, {'flag', 'ornt1', 'ornt2'});
    theirs = canonical (I, 3, {'flag', 'ornt1', 'ornt2'});
  end
  t = expect (t, isequal (ours, theirs), sprintf ('%s: interfaces %s, nrbmultipatch %s', ...
              label, mat2str (ours), mat2str (theirs)));
  names = {'patch1', 'side1', 'patch2', 'side2', 'flag', 'ornt'};
  if (d == 3), names = [names(1:5), {'ornt1', 'ornt2'}]; end
  have = all (isfield (mp.interfaces, names));
  t = expect (t, have, sprintf ('%s: interfaces has the fields %s', label, strjoin (names, ', ')));
  if (d == 2 && have)
    t = expect (t, isequal ([mp.interfaces.ornt], [mp.interfaces.flag]), ...
                sprintf ('%s: ornt repeats flag', label));
  end
  ob = sortrows ([[mp.boundaries.patch]', [mp.boundaries.side]']);
  tb = sortrows ([[B.patches]', [B.faces]']);
  t = expect (t, isequal (ob, tb), sprintf ('%s: boundary faces %s, nrbmultipatch %s', label, ...
              mat2str (ob'), mat2str (tb')));
  t = expect (t, mp.ndof == ndof, sprintf ('%s: %d functions, the C0 space has %d', label, ...
              mp.ndof, ndof));
  X = cell2mat (cellfun (@(g) reshape (g.coefs(1:3, :) ./ g.coefs(4, :), 3, []), patches, ...
                         'UniformOutput', false));
  G = vertcat (mp.gnum{:});
  spread = 0;
  for c = 1:3
    spread = max (spread, max (accumarray (G, X(c, :)', [], @max) - ...
                               accumarray (G, X(c, :)', [], @min)));
  end
  distinct = rows (unique (round (X' * 1e8), 'rows'));
  t = expect (t, isequal (unique (G)', 1:mp.ndof) && spread < 1e-10 && distinct == mp.ndof, ...
              sprintf (['%s: one index, one control point (spread %.2g; %d distinct points, ' ...
                        '%d functions)'], label, spread, distinct, mp.ndof));
  wrong = [];                                      % faces whose dofs are not exactly these
  for k = 1:numel (mp.boundaries)
    b = mp.boundaries(k);
    on = unique (mp.gnum{b.patch}(side_functions (patches{b.patch}, b.side)));
    m = MeshEval (mp, 'boundary', k, 'quadrature', 1, 'gradient', false);
    if (~isequal (b.dofs, on) || ~isequal (m.dofs(:), on)), wrong(end + 1) = k; end
  end
  t = expect (t, isempty (wrong), sprintf (['%s: the dofs of boundary faces %s (in ' ...
              'mp.boundaries or MeshEval''s) are not their sides'' functions, ascending, ' ...
              'once each'], label, mat2str (wrong)));
end

% Values and gradients of a discrete scalar field at the nodes of patch i of a domain.
function [x, v, G, w] = field_with_gradient (mp, u, i, q)
  m = MeshEval (mp, 'patch', i, 'quadrature', q);
  U = reshape (u(m.connectivity), 1, m.nsh_max, m.nel);
  x = m.geo_map(:, :);
  v = reshape (sum (m.shape_functions .* U, 2), 1, []);
  G = reshape (sum (m.shape_function_gradients .* reshape (U, 1, 1, m.nsh_max, m.nel), 3), ...
               m.rdim, []);
  w = (m.quad_weights(:) .* m.jacdet(:))';
end

% -lap u = f with u = ue on every boundary face (DirichletValues' projection), and the L2 and
% H1-seminorm errors against ue and its gradient due.
function err = poisson_errors (mp, f, ue, due, q)
  [dofs, values] = DirichletValues (mp, 1:numel (mp.boundaries), ue);
  K = StiffnessMatrix (mp, 1);
  F = LoadVector (mp, f);
  free = setdiff (1:mp.ndof, dofs);
  u = zeros (mp.ndof, 1); u(dofs) = values;
  u(free) = K(free, free) \ (F(free) - K(free, dofs) * values);
  e = [0; 0];
  for i = 1:mp.npatch
    [x, v, G, w] = field_with_gradient (mp, u, i, q);
    X = num2cell (x, 2);
    e += [sum(w .* (v - ue (X{:})) .^ 2); sum(w .* sum ((G - due (X{:})) .^ 2, 1))];
  end
  err = sqrt (e);
end

% Convergence: errors falling, the rate between the two finest meshes within tol of expected.
function t = rates (t, h, err, expected, tol, label)
  r = log (err(1:end - 1) ./ err(2:end)) ./ log (h(1:end - 1) ./ h(2:end));
  printf ('  %-36s errors %s rates %s\n', label, mat2str (err, 3), mat2str (r, 3));
  t = expect (t, all (diff (err) < 0) && abs (r(end) - expected) < tol, ...
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

% Plane strain on the plate with a hole as a domain: exact Kirsch tractions on the outer
% edges, symmetry conditions on the axes (u_y on y = 0, u_x on x = 0), the hole free. Returns
% the energy-norm error, from the stresses (e : C^-1 e), where each boundary face lies (1 on
% y = 0, 2 on x = 0, 3 on the hole, 4 outside), and how far the load from a handle of the
% points is from the load of the same tractions given at the nodes (relative).
function [err, where, handle] = plate_error (mp, p, lambda, mu)
  nd = mp.ndof;
  % The faces by where they lie: on y = 0, on x = 0, on the hole, on the outer edges.
  where = zeros (1, numel (mp.boundaries));
  tr = {};
  for f = 1:numel (mp.boundaries)
    m = MeshEval (mp, 'boundary', f, 'quadrature', p + 1, 'gradient', false);
    x = m.geo_map(1, :); y = m.geo_map(2, :);
    if (all (abs (y) < 1e-12)), where(f) = 1;
    elseif (all (abs (x) < 1e-12)), where(f) = 2;
    elseif (all (abs (x .^ 2 + y .^ 2 - 1) < 1e-12)), where(f) = 3;
    else
      where(f) = 4;
      sg = kirsch (x, y); nn = m.normal(:, :);
      tr{end + 1} = reshape ([sg(1, :) .* nn(1, :) + sg(3, :) .* nn(2, :); ...
                              sg(3, :) .* nn(1, :) + sg(2, :) .* nn(2, :)], 2, m.nqn, m.nel);
    end
  end
  K = ElasticityMatrix (mp, lambda, mu);
  F = LoadVector (mp, tr, 'boundary', find (where == 4), 'quadrature', p + 1);
  % The same tractions from a handle of the points (the outer edges lie on x = 4 and y = 4).
  h = @(x, y) (x > 4 - 1e-12) .* kirsch (x, y)([1 3], :) + ...
              (x <= 4 - 1e-12) .* kirsch (x, y)([3 2], :);
  Fh = LoadVector (mp, h, 'boundary', find (where == 4), 'quadrature', p + 1);
  handle = norm (Fh - F) / norm (F);
  [d1, v1] = DirichletValues (mp, find (where == 1), [0; 0], 'components', 2);
  [d2, v2] = DirichletValues (mp, find (where == 2), [0; 0], 'components', 1);
  fixed = [d1; d2];
  free = setdiff (1:2 * nd, fixed);
  uh = zeros (2 * nd, 1); uh(fixed) = [v1; v2];
  uh(free) = K(free, free) \ (F(free) - K(free, fixed) * uh(fixed));
  e = 0;
  for i = 1:mp.npatch
    m = MeshEval (mp, 'patch', i, 'quadrature', p + 3);
    G = m.shape_function_gradients;
    grad = zeros (2, 2, m.nqn * m.nel);                     % grad(i, j) = d u_i / d x_j
    for c = 1:2
      U = reshape (uh((c - 1) * nd + m.connectivity), 1, 1, m.nsh_max, m.nel);
      grad(c, :, :) = reshape (sum (G .* U, 3), 1, 2, []);
    end
    ex = squeeze (grad(1, 1, :))'; ey = squeeze (grad(2, 2, :))';
    gxy = squeeze (grad(1, 2, :) + grad(2, 1, :))';
    sh = [lambda * (ex + ey) + 2 * mu * ex; lambda * (ex + ey) + 2 * mu * ey; mu * gxy];
    dd = sh - kirsch (m.geo_map(1, :), m.geo_map(2, :));
    wq = (m.quad_weights .* m.jacdet)(:)';
    e += sum (wq .* (dd(1, :) .^ 2 + dd(2, :) .^ 2 + 2 * dd(3, :) .^ 2 ...
                     - lambda / (2 * (lambda + mu)) * (dd(1, :) + dd(2, :)) .^ 2) / (2 * mu));
  end
  err = sqrt (e);
end

t = harness ();
pkg load nurbs
started = tic;

% ---- Interfaces and boundaries against nrbmultipatch ----

% Degrees and knots differ between the directions (and the knots are not symmetric), so a face
% glued with its directions crossed or reversed by mistake would not conform.
p2 = [2 3]; k2 = {[0.3 0.6], [0.25 0.7]};
m2 = cellfun (@numel, k2) + p2 + 1;

% Two surfaces, the second in each of its 8 parametrisations (swapped or not, each direction
% reversed or not), and the first in a reversed one too.
for code = 0:7
  A = cell_patch ([0 0], 1, p2, k2);
  B = oriented (cell_patch ([1 0], 1, p2, k2), code);
  t = glued_as_oracle (t, {A, B}, c0_count ([0 0; 1 0], m2), sprintf ('2 surfaces, B as %d', code));
  t = glued_as_oracle (t, {B, reversed(A, 2)}, c0_count ([0 0; 1 0], m2), ...
                       sprintf ('2 surfaces, B as %d first, A reversed', code));
end

% Domains with no interface: a surface alone, a volume alone, two squares apart. Every face is
% a boundary face; interfaces is empty (with the fields of the domain's dimension).
sq = cell_patch ([0 0], 1, p2, k2);
t = glued_as_oracle (t, {sq}, prod (m2), 'a surface alone');
t = glued_as_oracle (t, {sq, cell_patch([2 0], 1, p2, k2)}, 2 * prod (m2), 'two surfaces apart');
t = glued_as_oracle (t, {cell_patch([0 0 0], 1, [2 3 2], {0.4, [], 0.5})}, 4 * 4 * 4, ...
                     'a volume alone');

% Four surfaces around a vertex, every one parametrised differently.
cells = [0 0; 1 0; 0 1; 1 1];
P = arrayfun (@(c) oriented (cell_patch (cells(c, :), 1, p2, k2), [0 5 6 3](c)), 1:4, ...
              'UniformOutput', false);
t = glued_as_oracle (t, P, c0_count (cells, m2), '2 x 2 surfaces, mixed');

% L-shapes of 3 and of 8 surfaces (the 3 x 3 square less a corner), mixed parametrisations.
cells = [0 0; 1 0; 0 1];
P = arrayfun (@(c) oriented (cell_patch (cells(c, :), 1, p2, k2), [0 6 5](c)), 1:3, ...
              'UniformOutput', false);
t = glued_as_oracle (t, P, c0_count (cells, m2), 'L-shape of 3');
[I, J] = ndgrid (0:2, 0:2);
cells = [I(:), J(:)](1:8, :);
P = arrayfun (@(c) oriented (cell_patch (cells(c, :), 1, p2, k2), mod (3 * c, 8)), 1:8, ...
              'UniformOutput', false);
t = glued_as_oracle (t, P, c0_count (cells, m2), 'L-shape of 8');

% Two volumes glued on B's first side or (B's directions cycled) its fifth, B's face directions
% swapped or not and each reversed or not: all 8 relative orientations of the face, twice.
p3 = [2 3 2]; k3 = {0.4, [0.3 0.6], [0.2 0.45]};
m3 = cellfun (@numel, k3) + p3 + 1;
A = cell_patch ([0 0 0], 1, p3, k3);
for cycle = {[1 2 3], [2 3 1]}
  B0 = permuted (cell_patch ([1 0 0], 1, p3, k3), cycle{1});
  face = setdiff (1:3, find (cycle{1} == 1));               % B's directions along the face
  for code = 0:7
    B = B0;
    if (bitand (code, 4))
      order = 1:3; order(face) = face([2 1]);
      B = permuted (B, order);
    end
    if (bitand (code, 1)), B = reversed (B, face(1)); end
    if (bitand (code, 2)), B = reversed (B, face(2)); end
    t = glued_as_oracle (t, {A, B}, c0_count ([0 0 0; 1 0 0], m3), ...
                         sprintf ('2 volumes, B cycled %s, face as %d', mat2str (cycle{1}), code));
  end
end

% A cube cut into 8 at the middle of every direction, the pieces in mixed parametrisations: the
% C0 space of the whole cube with its middle knots at multiplicity p, 12 interfaces.
whole = cell_patch ([0 0 0], 2, p3, k3);
for d = 1:3
  whole = nrbkntins (whole, [repmat({[]}, 1, d - 1), {repmat(0.5, 1, p3(d))}, ...
                             repmat({[]}, 1, 3 - d)]);
end
pieces = {whole};
for d = 1:3
  next = {};
  for c = 1:numel (pieces)
    [a, b] = split_patch (pieces{c}, d, 0.5);
    next = [next, {a, b}];
  end
  pieces = next;
end
pieces = arrayfun (@(c) oriented (pieces{c}, [0 9 18 27 36 45 14 31](c)), 1:8, ...
                   'UniformOutput', false);
[t, mp] = glued_as_oracle (t, pieces, prod (size (whole.coefs)(2:4)), 'cube in 8');
if (~isempty (mp))
  t = expect (t, numel (mp.interfaces) == 12 && numel (mp.boundaries) == 24, ...
              sprintf ('cube in 8: %d interfaces, %d boundary faces', numel (mp.interfaces), ...
                       numel (mp.boundaries)));
end

% An L-shape of 3 volumes.
cells = [0 0 0; 1 0 0; 0 1 0];
P = arrayfun (@(c) oriented (cell_patch (cells(c, :), 1, p3, k3), [0 13 42](c)), 1:3, ...
              'UniformOutput', false);
t = glued_as_oracle (t, P, c0_count (cells, m3), 'L-shape of 3 volumes');

% Closed rings: the annulus of radii 1 and 2 as one patch glued to itself, as two halves (two
% interfaces between the same two patches, faces whose ends coincide with those of the faces
% across the hole), and as four quarters in mixed parametrisations (a cycle of interfaces).
arcs = @(a, b) nrbruled (nrbcirc (1, [0 0 0], a, b), nrbcirc (2, [0 0 0], a, b));
fine = @(g) nrbkntins (nrbdegelev (g, [0 1]), {[], [0.3 0.6]});
ring = nrbkntins (fine (arcs (0, 2 * pi)), {[0.1 0.3], []});
across = size (ring.coefs, 3);
t = glued_as_oracle (t, {ring}, numel (ring.coefs) / 4 - across, 'a ring glued to itself');
halves = {fine(arcs (0, pi)), reversed(fine (arcs (pi, 2 * pi)), 2)};
t = glued_as_oracle (t, halves, sum (cellfun (@(g) numel (g.coefs) / 4, halves)) - 2 * across, ...
                     'a ring of two halves');
quarters = arrayfun (@(i) oriented (fine (arcs ((i - 1) * pi / 2, i * pi / 2)), [4 0 7 2](i)), ...
                     1:4, 'UniformOutput', false);
t = glued_as_oracle (t, quarters, sum (cellfun (@(g) numel (g.coefs) / 4, quarters)) - ...
                     4 * across, 'a ring of four quarters');
tube = nrbkntins (nrbextrude (ring, [0 0 1]), {[], [], 0.5});
t = glued_as_oracle (t, {permuted(tube, [3 1 2])}, numel (tube.coefs) / 4 - 3 * across, ...
                     'a thick ring glued to itself');

% A Y-junction: three curved quadrilaterals around the centre of a disk of radius 2, patch i
% between the rays at 90 + 120 (i - 1) and 90 + 120 i degrees: straight edges along the rays
% (each shared with a neighbour, all three meeting at the centre), two 60 degree arcs outside.
c30 = cos (pi / 6);
Y = cell (1, 3);
for i = 1:3
  a = pi / 2 + 2 * pi / 3 * (i - 1);
  ray = @(b) 2 * [cos(b); sin(b)];
  R1 = ray (a); R2 = ray (a + 2 * pi / 3); C = ray (a + pi / 3);
  M1 = ray (a + pi / 6) / c30; M2 = ray (a + pi / 2) / c30;   % the arcs' middle control points
  X = zeros (2, 3, 3); W = ones (3, 3);
  X(:, :, 1) = [[0; 0], R1 / 2, R1];                           % along the first ray
  X(:, 1, :) = reshape ([[0; 0], R2 / 2, R2], 2, 1, 3);        % along the second
  X(:, 3, 2) = M1; W(3, 2) = c30; X(:, 3, 3) = C;
  X(:, 2, 3) = M2; W(2, 3) = c30;
  X(:, 2, 2) = 0.45 * (R1 + R2 + C) / 2;
  coefs = cat (1, X .* reshape (W, 1, 3, 3), zeros (1, 3, 3), reshape (W, 1, 3, 3));
  Y{i} = nrbmak (coefs, {[0 0 0 1 1 1], [0 0 0 1 1 1]});
end
n = 3;
Yo = cellfun (@(g) nrbkntins (g, {(1:n - 1) / n, (1:n - 1) / n}), Y, 'UniformOutput', false);
Yo = {Yo{1}, reversed(Yo{2}, 1), permuted(Yo{3}, [2 1])};
N = n + 2;
[t, mp] = glued_as_oracle (t, Yo, 3 * N ^ 2 - 3 * N + 1, 'Y-junction of 3 surfaces');
if (~isempty (mp))
  at_centre = @(g) find (all (abs (reshape (g.coefs(1:2, :), 2, [])) < 1e-14), 1);
  centre = unique (arrayfun (@(i) mp.gnum{i}(at_centre (Yo{i})), 1:3));
  t = expect (t, isscalar (centre) && numel (mp.interfaces) == 3, ...
              'Y-junction: three interfaces, one function at the centre');
end
Yv = cellfun (@(g) nrbkntins (nrbdegelev (nrbextrude (g, [0 0 1]), [0 0 1]), {[], [], 0.4}), ...
              Yo, 'UniformOutput', false);
Yv{2} = permuted (Yv{2}, [3 1 2]);
Yv{3} = reversed (permuted (Yv{3}, [2 3 1]), 3);
t = glued_as_oracle (t, Yv, (3 * N ^ 2 - 3 * N + 1) * 4, 'Y-junction of 3 volumes');

% ---- What is no domain, and coordinates of any magnitude ----

% A patch given twice, in any parametrisation: every face coincides with its twin's, both
% patches on the same side of it. Overlapping patches, not a domain with every face glued.
A2 = cell_patch ([0 0], 1, p2, k2);
A3 = cell_patch ([0 0 0], 1, p3, k3);
twins = {{A2, A2}, {A2, reversed(A2, 1)}, {A2, permuted(A2, [2 1])}, {A3, A3}, ...
         {A3, oriented(A3, 29)}, {A2, cell_patch([0 0], 1, p2, k2), cell_patch([1 0], 1, p2, k2)}};
for k = 1:numel (twins)
  t = expect_error (t, @() Multipatch (twins{k}), 'Multipatch:patchesOverlap', ...
                    sprintf ('overlapping patches, case %d', k));
end

% Faces of volumes that overlap in part with no corner of either on the other: a cube on a cube
% turned 45 degrees about the vertical (an octagon in common), and two bars crossed as a +.
brick = @(lo, hi) nrbkntins (nrbdegelev (nrbmak (reshape ([kron(ones (1, 4), [lo(1) hi(1)]); ...
          kron(ones (1, 2), [lo(2) lo(2) hi(2) hi(2)]); kron([lo(3) hi(3)], ones (1, 4)); ...
          ones(1, 8)], [4 2 2 2]), {[0 0 1 1], [0 0 1 1], [0 0 1 1]}), [1 1 1]), {0.5, 0.5, 0.5});
below = brick ([-1 -1 -1], [1 1 0]);
above = nrbtform (brick ([-1 -1 0], [1 1 1]), vecrotz (pi / 4));
t = expect_error (t, @() Multipatch ({below, above}), 'Multipatch:partialContact', ...
                  'a cube on a cube turned 45 degrees');
t = expect_error (t, @() Multipatch ({brick([-3 -1 -1], [3 1 0]), brick([-1 -3 0], [1 3 1])}), ...
                  'Multipatch:partialContact', 'two bars crossed as a +');
t = expect_error (t, @() Multipatch ({brick([-3 -0.1 -1], [3 0.1 0]), ...
                                      brick([-0.1 -3 0], [0.1 3 1])}), ...
                  'Multipatch:partialContact', 'two thin bars crossed');

% An L-shape of 1 m squares at x, y = 4.2e6 (geo-referenced coordinates), one patch reversed
% along the shared edge before refinement, so that refinement rounds the edge's control points
% differently: glued as at the origin, with the same numbering.
unit = @(x, y) nrbmak (permute (cat (3, [x x+1; x x+1], [y y; y+1 y+1], zeros (2), ...
                                     ones (2)), [3 1 2]), {[0 0 1 1], [0 0 1 1]});
refined = @(g) nrbkntins (nrbdegelev (g, [2 2]), {(1:7) / 8, (1:7) / 8});
glued = {};
for at = [0 4.2e6]
  P = {refined(unit (at, at)), refined(reversed (unit (at + 1, at), 1)), refined(unit (at, at + 1))};
  try
    glued{end + 1} = Multipatch (P);
  catch failure
    t = expect (t, false, sprintf ('an L-shape at %g: %s', at, failure.message));
  end
end
if (numel (glued) == 2)
  t = expect (t, numel (glued{2}.interfaces) == 2 && isequal (glued{1}.gnum, glued{2}.gnum) && ...
              isequal (glued{1}.interfaces, glued{2}.interfaces), ...
              sprintf ('an L-shape at 4.2e6: %d interfaces, numbered as at the origin', ...
                       numel (glued{2}.interfaces)));
end
% A different refinement: the message says how far apart the points are, within what.
bent = nrbdegelev (unit (1, 0), [2 2]);
bent.coefs(2, 2, 1) += 0.1;                         % the left edge (x = 1) run at another pace
P = {refined(unit (0, 0)), nrbkntins(bent, {(1:7) / 8, (1:7) / 8})};
[t, err] = expect_error (t, @() Multipatch (P), 'Multipatch:nonConforming', 'another refinement');
t = expect (t, ~isempty (err) && ~isempty (regexp (err.message, ['up to [0-9.e+-]+ apart ' ...
            'where the tolerance is [0-9.e+-]+'], 'once')), sprintf (['another refinement: ' ...
            'the message says how far and within what (%s)'], ifelse_message (err)));

% Coordinates far beyond 1e154 or below 1e-154, whose squares overflow or underflow: the same
% interfaces, boundary faces and numbering as at unit size.
cells = [0 0 0; 1 0 0; 0 1 0];
P = arrayfun (@(c) oriented (cell_patch (cells(c, :), 1, p3, k3), [0 13 42](c)), 1:3, ...
              'UniformOutput', false);
reference = Multipatch (P);
for scale = [1e200 1e-200 1e300]
  try
    mp = Multipatch (cellfun (@(g) nrbtform (g, vecscale ([scale scale scale])), P, ...
                              'UniformOutput', false));
    same = isequal (mp.gnum, reference.gnum) && isequal (mp.interfaces, reference.interfaces) ...
           && isequal ([mp.boundaries.side], [reference.boundaries.side]);
  catch failure
    same = false;
    printf ('  %s\n', failure.message);
  end
  t = expect (t, same, sprintf ('an L-shape of volumes scaled by %g: glued as at unit size', ...
                                scale));
end
printf ('gluing against nrbmultipatch: %.1f s\n', toc (started));

% ---- Poisson with non-homogeneous Dirichlet data on curved domains of several patches ----

% u = e^x sin 2y + x^2 y (z): not harmonic, not polynomial, non-zero on every face.
ue2 = @(x, y) exp (x) .* sin (2 * y) + x .^ 2 .* y;
f2 = @(x, y) 3 * exp (x) .* sin (2 * y) - 2 * y;
due2 = @(x, y) [exp(x) .* sin(2 * y) + 2 * x .* y; 2 * exp(x) .* cos(2 * y) + x .^ 2];
ue3 = @(x, y, z) exp (x) .* sin (2 * y) + x .^ 2 .* y .* z;
f3 = @(x, y, z) 3 * exp (x) .* sin (2 * y) - 2 * y .* z;
due3 = @(x, y, z) [exp(x) .* sin(2 * y) + 2 * x .* y .* z; ...
                   2 * exp(x) .* cos(2 * y) + x .^ 2 .* z; x .^ 2 .* y];

% The quarter annulus of radii 1 and 2 (exact, rational) cut along its angle into 3 patches at
% a third and two thirds: the second reversed around, the third with its directions swapped.
s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; xa = [1 1 0; 2 2 0]'; ya = [0 1 1; 0 2 2]';
ann = nrbmak (permute (cat (3, xa .* w, ya .* w, zeros (3, 2), w), [3 1 2]), ...
              {[0 0 0 1 1 1], [0 0 1 1]});
% The same spaces on the coarse pieces (degree 2 around, 1 across: the 'space' option, not
% isoparametric) give the same discrete problem, so the same errors.
orient = @(P) {P{1}, reversed(P{2}, 1), reversed(permuted (P{3}, [2 1]), 1)};
[a, rest] = split_patch (ann, 1, 1 / 3);
[b, c] = split_patch (rest, 1, 1 / 2);
coarse = orient ({a, b, c});
space = @(g) struct ('knots', {g.knots}, 'order', g.order, ...
                     'weights', reshape (g.coefs(4, :), size (g.coefs)(2:end)));
levels = [2 4 8 16];
for p = [2 3]
  err = zeros (4, numel (levels));
  for l = 1:numel (levels)
    n = levels(l); k = (1:n - 1) / n;
    g = nrbdegelev (ann, [p p] - (ann.order - 1));
    [a, rest] = split_patch (g, 1, 1 / 3);
    [b, c] = split_patch (rest, 1, 1 / 2);
    parts = orient (cellfun (@(h) nrbkntins (h, {k, k}), {a, b, c}, 'UniformOutput', false));
    mp = Multipatch (parts);
    err(1:2, l) = poisson_errors (mp, f2, ue2, due2, p + 3);
    ms = Multipatch (coarse, 'space', cellfun (space, parts, 'UniformOutput', false));
    err(3:4, l) = poisson_errors (ms, f2, ue2, due2, p + 3);
  end
  t = expect (t, numel (mp.interfaces) == 2 && numel (mp.boundaries) == 8, ...
              'annulus in 3: two interfaces, eight boundary faces');
  e = max (reshape (abs (err(1:2, :) - err(3:4, :)) ./ err(1:2, :), 1, []));
  t = expect (t, ~any (ms.isoparametric) && ms.ndof == mp.ndof && e < 1e-8, ...
              sprintf (['annulus in 3, p = %d: refined spaces on the coarse pieces, the same ' ...
                        'errors (%.2g)'], p, e));
  t = rates (t, 1 ./ levels, err(1, :), p + 1, 0.3, sprintf ('annulus in 3, p = %d, L2', p));
  t = rates (t, 1 ./ levels, err(2, :), p, 0.3, sprintf ('annulus in 3, p = %d, H1', p));
end

% The whole annulus as four quarters in mixed parametrisations (a cycle of interfaces) and as
% one patch glued to itself, C0 at the quarters: the same discrete space, so the same errors.
levels = [4 8 16 32];
for p = [2 3]
  err = zeros (4, numel (levels));
  for l = 1:numel (levels)
    n = levels(l); k = (1:n - 1) / n;
    quarters = arrayfun (@(i) oriented (nrbkntins (nrbdegelev (arcs ((i - 1) * pi / 2, ...
                          i * pi / 2), [p - 2, p - 1]), {k, k}), [4 0 7 2](i)), 1:4, ...
                         'UniformOutput', false);
    err(1:2, l) = poisson_errors (Multipatch (quarters), f2, ue2, due2, p + 3);
    whole = nrbkntins (nrbdegelev (arcs (0, 2 * pi), [p - 2, p - 1]), {(k' + (0:3))(:)' / 4, k});
    err(3:4, l) = poisson_errors (Multipatch ({whole}), f2, ue2, due2, p + 3);
  end
  e = max (reshape (abs (err(1:2, :) - err(3:4, :)) ./ err(3:4, :), 1, []));
  t = expect (t, e < 1e-8, sprintf (['annulus, p = %d: four quarters and one ring, the same ' ...
                                     'errors (%.2g)'], p, e));
  t = rates (t, 1 ./ levels, err(1, :), p + 1, 0.3, sprintf ('annulus of 4, p = %d, L2', p));
  t = rates (t, 1 ./ levels, err(2, :), p, 0.3, sprintf ('annulus of 4, p = %d, H1', p));
end

% The thick quarter ring (the annulus extruded by 1) cut in two around; the second patch's
% directions cycled and its first reversed, so the shared face runs across both its directions.
ring = nrbextrude (ann, [0 0 1]);
for p = [2 3]
  levels = {[2 4 8], [3 6 10]}{p - 1};                    % p = 3 is asymptotic later
  err = zeros (2, numel (levels));
  for l = 1:numel (levels)
    n = levels(l); k = (1:n - 1) / n;
    g = nrbdegelev (ring, [p p p] - (ring.order - 1));
    [a, b] = split_patch (g, 1, 0.5);
    parts = cellfun (@(h) nrbkntins (h, {k, k, k}), {a, b}, 'UniformOutput', false);
    mp = Multipatch ({parts{1}, reversed(permuted (parts{2}, [3 1 2]), 2)});
    err(:, l) = poisson_errors (mp, f3, ue3, due3, p + 2);
  end
  t = expect (t, numel (mp.interfaces) == 1 && numel (mp.boundaries) == 10, ...
              'thick ring in 2: one interface, ten boundary faces');
  t = rates (t, 1 ./ levels, err(1, :), p + 1, 0.3, sprintf ('thick ring in 2, p = %d, L2', p));
  t = rates (t, 1 ./ levels, err(2, :), p, 0.3, sprintf ('thick ring in 2, p = %d, H1', p));
end
% The Y-junction, scaled to the unit disk, extruded: three volumes sharing the disk's axis, the
% second's directions cycled, the third's cycled and reversed.
unit = vecscale ([0.5 0.5 1]);
for p = 2                                         % the thick ring has p = 3
  levels = [2 4 8];
  err = zeros (2, numel (levels));
  for l = 1:numel (levels)
    n = levels(l); k = (1:n - 1) / n;
    P = cellfun (@(g) nrbkntins (nrbdegelev (nrbextrude (nrbtform (g, unit), [0 0 1]), ...
                                             [p - 2, p - 2, p - 1]), {k, k, k}), Y, ...
                 'UniformOutput', false);
    mp = Multipatch ({P{1}, permuted(P{2}, [3 1 2]), reversed(permuted (P{3}, [2 3 1]), 3)});
    err(:, l) = poisson_errors (mp, f3, ue3, due3, p + 2);
  end
  t = rates (t, 1 ./ levels, err(1, :), p + 1, 0.3, sprintf ('Y-junction volumes, p = %d, L2', p));
  t = rates (t, 1 ./ levels, err(2, :), p, 0.3, sprintf ('Y-junction volumes, p = %d, H1', p));
end
printf ('Poisson: %.1f s so far\n', toc (started));

% ---- Plane-strain elasticity on the plate with a hole, two patches ----

% A quarter of a square of side 8 around a hole of radius 1, ruled between the hole's arc and
% the outer edges, C0 at the middle of its angle (the arc's 45 degree point faces the square's
% corner) and cut there into two patches, the second with its directions swapped. The energy
% error falls like h^p; at every mesh it is the error of the same plate as one patch with the
% same knots (the same discrete space), up to the solver's rounding.
arc = nrbkntins (nrbcirc (1, [0 0 0], 0, pi / 2), [0.5 0.5]);
outer = nrbmak ([4 4 4 2 0; 0 2 4 4 4], [0 0 0 0.5 0.5 1 1 1]);
plate = nrbruled (arc, outer);
E = 1e5; nu = 0.3; lambda = E * nu / ((1 + nu) * (1 - 2 * nu)); mu = E / (2 * (1 + nu));
levels = [4 8 16 32];
for p = [2 3]
  err = zeros (2, numel (levels));
  handle = zeros (1, numel (levels));
  for l = 1:numel (levels)
    n = levels(l); k = (1:n - 1) / n;
    g = nrbdegelev (plate, [p p] - plate.order + 1);
    [a, b] = split_patch (g, 1, 0.5);
    parts = cellfun (@(h) nrbkntins (h, {k, k}), {a, b}, 'UniformOutput', false);
    mp = Multipatch ({parts{1}, permuted(parts{2}, [2 1])});
    [err(1, l), where, handle(l)] = plate_error (mp, p, lambda, mu);
    try
      whole = Multipatch ({nrbkntins(g, {[k / 2, 0.5 + k / 2], k})});
      err(2, l) = plate_error (whole, p, lambda, mu);
    catch failure
      err(2, l) = NaN;
      if (l == 1), printf ('  the plate as one patch: %s\n', strtok (failure.message, "\n")); end
    end
  end
  t = expect (t, isequal (sort (where), [1 2 3 3 4 4]) && numel (mp.interfaces) == 1, ...
              sprintf ('plate in 2: faces on y = 0, x = 0, the hole (2), outside (2): %s', ...
                       mat2str (where)));
  t = expect (t, max (handle) < 1e-13, sprintf (['plate in 2, p = %d: tractions from a handle ' ...
              'and at the nodes, the same load (%.2g)'], p, max (handle)));
  e = max (abs (err(1, :) - err(2, :)) ./ err(2, :));
  t = expect (t, e < 1e-8, sprintf ('plate in 2, p = %d: the one patch''s errors (%.2g)', p, e));
  t = rates (t, 1 ./ levels, err(1, :), p, 0.3, sprintf ('plate in 2, p = %d, energy', p));
end
printf ('test_domains: %.1f s\n', toc (started));
report (t);
