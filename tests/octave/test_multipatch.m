% Domains of several patches (Multipatch) in the real host: the interfaces and boundaries
% against what the glued space must be, every form over a domain against the same forms
% assembled patch by patch and summed in m-code through gnum, a patch split in two against the
% whole one, renumbered and reversed patches, Dirichlet values, the singular solution on an
% L-shape at its known rate, chunks sized by their elements, threads, and faults by identifier.
1;  % a script: its helper functions first

function e = frob (a, b)
  e = norm (a - b, 'fro') / max (norm (b, 'fro'), realmin);
end

% A bilinear quadrilateral patch with corners P (2 x 4: (0,0), (1,0), (0,1), (1,1) of its
% parameters), raised to degrees p and cut into n x n elements.
function g = quad (P, p, n)
  g = nrbmak (permute (cat (3, reshape (P(1, :), 2, 2), reshape (P(2, :), 2, 2), zeros (2), ...
                            ones (2)), [3 1 2]), {[0 0 1 1], [0 0 1 1]});
  g = refine (g, p, n);
end

function g = refine (g, p, n)
  g = nrbdegelev (g, p - (g.order - 1));
  k = (1:n - 1) / n;
  g = nrbkntins (g, repmat ({k}, 1, numel (g.order)));
end

% The patch with its direction d reversed (the same surface, its functions in another order).
function g = reversed (g, d)
  g.coefs = flip (g.coefs, d + 1);
  g.knots{d} = 1 - fliplr (g.knots{d});
end

% The patch with its first two directions swapped.
function g = swapped (g)
  order = 1:ndims (g.coefs);
  order([2 3]) = [3 2];
  g.coefs = permute (g.coefs, order);
  g.knots([1 2]) = g.knots([2 1]);
  g.order([1 2]) = g.order([2 1]);
  g.number([1 2]) = g.number([2 1]);
end

% The physical points and solution values of a discrete field at MeshEval's nodes of every patch
% of a domain (or a patch): x rdim x N, v 1 x N.
function [x, v, w] = field_at_nodes (g, u, q)
  if (isfield (g, 'npatch'))
    x = []; v = []; w = [];
    for i = 1:g.npatch
      m = MeshEval (g, 'patch', i, 'quadrature', q, 'gradient', false);
      vi = sum (m.shape_functions .* reshape (u(m.connectivity), 1, m.nsh_max, m.nel), 2);
      wi = m.quad_weights(:) .* m.jacdet(:);
      x = [x, m.geo_map(:, :)];
      v = [v, vi(:)'];
      w = [w, wi'];
    end
  else
    m = MeshEval (g, 'quadrature', q, 'gradient', false);
    x = m.geo_map(:, :);
    v = reshape (sum (m.shape_functions .* reshape (u(m.connectivity), 1, m.nsh_max, m.nel), 2), 1, []);
    w = (m.quad_weights(:) .* m.jacdet(:))';
  end
end

% Values and gradients of a discrete field at the nodes of patch i of a domain.
function [x, v, G, w] = field_with_gradient (mp, u, i, q)
  m = MeshEval (mp, 'patch', i, 'quadrature', q);
  U = reshape (u(m.connectivity), 1, m.nsh_max, m.nel);
  x = m.geo_map(:, :);
  v = reshape (sum (m.shape_functions .* U, 2), 1, []);
  G = reshape (sum (m.shape_function_gradients .* reshape (U, 1, 1, m.nsh_max, m.nel), 3), m.rdim, []);
  w = (m.quad_weights(:) .* m.jacdet(:))';
end

% The form of every patch assembled alone and summed through gnum.
function A = summed (form, mp, coefs, opts)
  A = [];
  n = mp.ndof;
  for i = 1:mp.npatch
    args = {'rdim', mp.rdim};
    if (~mp.isoparametric(i)), args = [args, {'space', mp.spaces{i}}]; end
    Ai = feval (form, mp.patches{i}, coefs{:}, args{:}, opts{:});
    g = mp.gnum{i};
    C = rows (Ai) / numel (g);
    idx = reshape (g + n * (0:C - 1), [], 1);
    if (issparse (Ai))
      [I, J, V] = find (Ai);
      Ai = sparse (idx(I), idx(J), V, C * n, C * n);
    else
      Ai = accumarray (idx, Ai, [C * n, 1]);
    end
    if (isempty (A)), A = Ai; else, A = A + Ai; end
  end
end

% Poisson -lap u = f with u = 0 on the given boundary faces of a domain.
function u = poisson_dirichlet (mp, f, faces)
  K = StiffnessMatrix (mp, 1);
  F = LoadVector (mp, f);
  fixed = unique (vertcat (mp.boundaries(faces).dofs));
  free = setdiff (1:mp.ndof, fixed);
  u = zeros (mp.ndof, 1);
  u(free) = K(free, free) \ F(free);
end

% f () with the environment variable set to value, then unset.
function v = with_env (name, value, f)
  setenv (name, value);
  v = f ();
  setenv (name, '');
end

function m = ifelse_message (err)
  m = '';
  if (~isempty (err)), m = err.message; end
end

function t = rates (t, h, err, expected, label)
  r = diff (log (err)) ./ diff (log (h));
  t = expect (t, all (r(end - 1:end) > expected - 0.2), ...
              sprintf ('%s: rates %s, expected %g', label, mat2str (r, 3), expected));
end

t = harness ();
pkg load nurbs
rand ('seed', 3);

% An L-shape of three unit squares: (0,0), (1,0), (0,1); degree 2, 3 x 3 elements each. Patch 2
% is reversed along x and patch 3 has its directions swapped, so that its interfaces run against
% each other and across directions.
sq = @(x0, y0, p, n) quad ([x0 x0+1 x0 x0+1; y0 y0 y0+1 y0+1], p, n);
L = {sq(0, 0, 2, 3), reversed(sq(1, 0, 2, 3), 1), swapped(sq(0, 1, 2, 3))};
mp = Multipatch (L);
t = expect (t, mp.npatch == 3 && mp.ndim == 2 && mp.rdim == 2, 'L-shape: dimensions');
t = expect (t, mp.ndof == 3 * 25 - 2 * 5, sprintf ('L-shape: %d functions, expected 65', mp.ndof));
t = expect (t, numel (mp.interfaces) == 2 && numel (mp.boundaries) == 8, ...
            'L-shape: two interfaces, eight boundary faces');
X = cellfun (@(g) reshape (g.coefs(1:2, :) ./ g.coefs(4, :), 2, []), L, 'UniformOutput', false);
same = true;
for i = 1:3
  for j = 1:3
    for a = 1:columns (X{i})
      b = find (mp.gnum{j} == mp.gnum{i}(a));
      same = same && all (all (abs (X{j}(:, b) - X{i}(:, a)) < 1e-12));
    end
  end
end
t = expect (t, same, 'L-shape: functions with one global index have one control point');
t = expect (t, isequal (sort (unique (vertcat (mp.gnum{:})))', 1:mp.ndof), ...
            'L-shape: the global indices are 1..ndof');

% Every form over the domain against the patches' own forms summed through gnum.
forms = {'StiffnessMatrix', {@(x, y) 1 + x .* y}; 'MassMatrix', {2}; ...
         'LoadVector', {@(x, y) x - y}; 'LoadVector', {[1; -2]}; ...
         'AdvectionMatrix', {[1; 2]}; 'ElasticityMatrix', {1, @(x, y) 2 + x}; ...
         'BilaplacianMatrix', {1}};
for f = 1:rows (forms)
  [form, coefs] = forms{f, :};
  A = feval (form, mp, coefs{:});
  R = summed (form, mp, coefs, {});
  e = frob (A, R);
  t = expect (t, e < 1e-14 && isequal (size (A), size (R)) && issparse (A) == issparse (R), ...
              sprintf ('%s over the L-shape against the patches summed (%.2g)', form, e));
  if (issparse (A) && ~strcmp (form, 'AdvectionMatrix'))
    t = expect (t, isequal (A, A.'), sprintf ('%s over the L-shape: exactly symmetric', form));
  end
end
K = StiffnessMatrix (mp, 1);
t = expect (t, norm (K * ones (mp.ndof, 1), inf) < 1e-12, 'stiffness annihilates constants');
M = MassMatrix (mp, 1);
t = expect (t, abs (sum (M(:)) - 3) < 1e-13, 'the mass of the L-shape is its area, 3');
Mb = MassMatrix (mp, 1, 'boundary', 1:numel (mp.boundaries));
t = expect (t, abs (sum (Mb(:)) - 8) < 1e-13, 'the boundary mass is its perimeter, 8');
F = LoadVector (mp, 1, 'boundary', 1:numel (mp.boundaries));
t = expect (t, abs (sum (F) - 8) < 1e-13, 'the boundary load of 1 is the perimeter');

% Values at the nodes as a cell, one array a patch, equal the handle's.
h = @(x, y) 1 + x .^ 2 .* y;
c = cell (1, 3);
for i = 1:3
  m = MeshEval (mp, 'patch', i, 'gradient', false);
  c{i} = h (m.geo_map(1, :, :), m.geo_map(2, :, :));
  c{i} = reshape (c{i}, m.nqn, m.nel);
end
t = expect (t, frob (StiffnessMatrix (mp, c), StiffnessMatrix (mp, h)) < 1e-15, ...
            'a cell of values a patch gives the handle''s matrix');

% 'patches' and 'elements': parts sum to the whole, and a chunk's storage is its own.
parts = StiffnessMatrix (mp, 1, 'patches', [1 3]) + StiffnessMatrix (mp, 1, 'patches', 2);
t = expect (t, frob (parts, K) < 1e-15, 'patches [1 3] and 2 sum to the whole');
chunks = 0;
for e = 1:9
  chunks = chunks + StiffnessMatrix (mp, 1, 'elements', {e, [], 10 - e});
end
chunks = chunks + StiffnessMatrix (mp, 1, 'patches', 2);
t = expect (t, frob (chunks, K) < 1e-14, 'element by element on two patches sums to the whole');
m = MeshEval (mp, 'patch', 2, 'gradient', false);
t = expect (t, isequal (m.connectivity, mp.gnum{2}(MeshEval (L{2}, 'gradient', false).connectivity)), ...
            'MeshEval of a patch: its connectivity in global numbering');
m = MeshEval (mp, 'boundary', 3, 'gradient', false);
t = expect (t, isequal (m.dofs(:), mp.boundaries(3).dofs), 'MeshEval of a boundary face: its dofs');

% One element of a 100 x 100 cubic patch: storage for its own pairs, not the mesh's.
big = sq (0, 0, 3, 100);
one = StiffnessMatrix (big, 1, 'elements', 5050);
t = expect (t, nnz (one) == 256 && nzmax (one) <= 256, ...
            sprintf ('one element of 10^4: nnz %d, nzmax %d', nnz (one), nzmax (one)));
tic; whole = StiffnessMatrix (big, 1); t1 = toc;
tic; sum100 = sparse (rows (whole), columns (whole));
for c = 1:100
  sum100 = sum100 + StiffnessMatrix (big, 1, 'elements', (c - 1) * 100 + (1:100));
end
t100 = toc;
t = expect (t, frob (sum100, whole) < 1e-14, '100 chunks sum to the whole');
printf ('100 x 100 cubic stiffness: one call %.3f s, 100 chunks %.3f s (%.2fx)\n', t1, t100, ...
        t100 / t1);

% A patch split in two by knot insertion gives the glued space of the original: the same
% Poisson solution, at every node, up to rounding; renumbered and reversed patches too.
s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; xa = [1 1 0; 2 2 0]'; ya = [0 1 1; 0 2 2]';
ann = nrbmak (permute (cat (3, xa .* w, ya .* w, zeros (3, 2), w), [3 1 2]), ...
              {[0 0 0 1 1 1], [0 0 1 1]});
ann = nrbkntins (nrbdegelev (ann, [0 1]), {[0.25 0.5 0.5 0.75], [0.25 0.5 0.75]});
f = @(x, y) 1 + x .* y;
solve = @(g, fixed) poisson_dirichlet (g, f, fixed);
[a, b] = split_patch (ann, 1, 0.5);
whole = Multipatch ({ann});
halves = Multipatch ({a, b});
t = expect (t, halves.ndof == whole.ndof && numel (halves.interfaces) == 1, ...
            sprintf ('split annulus: %d functions, the whole %d', halves.ndof, whole.ndof));
uw = solve (whole, 1:numel (whole.boundaries));
uh = solve (halves, 1:numel (halves.boundaries));
[xw, vw] = field_at_nodes (whole, uw, 4);
[xh, vh] = field_at_nodes (halves, uh, 4);
[~, iw] = sortrows (round (xw' * 1e8)); [~, ih] = sortrows (round (xh' * 1e8));
e = max (abs (vw(iw) - vh(ih))) / max (abs (vw));
t = expect (t, numel (vw) == numel (vh) && e < 1e-12, ...
            sprintf ('split annulus: the Poisson solution of the whole (%.2g)', e));
for variant = {{b, a}, {reversed(a, 1), swapped(b)}, {swapped(reversed (b, 2)), a}}
  v = Multipatch (variant{1});
  uv = solve (v, 1:numel (v.boundaries));
  [xv, vv] = field_at_nodes (v, uv, 4);
  [~, iv] = sortrows (round (xv' * 1e8));
  e = max (abs (vw(iw) - vv(iv))) / max (abs (vw));
  t = expect (t, e < 1e-12, sprintf ('split annulus, patches renumbered or reversed (%.2g)', e));
end

% The same bits on one thread and on several.
big3 = Multipatch ({sq(0, 0, 3, 24), sq(1, 0, 3, 24), sq(0, 1, 3, 24)});
K1 = with_env ('NURBS_NUM_THREADS', '1', @() StiffnessMatrix (big3, 1));
K2 = StiffnessMatrix (big3, 1);
F1 = with_env ('NURBS_NUM_THREADS', '1', @() LoadVector (big3, @(x, y) x .* y));
t = expect (t, isequal (K1, K2) && isequal (F1, LoadVector (big3, @(x, y) x .* y)), ...
            'a domain: the same bits on one thread and on several');

% Poisson on the L-shape (-1,1)^2 minus the fourth quadrant, three patches, with the singular
% solution r^(2/3) sin(2 theta / 3) as Dirichlet data on the whole boundary: the H1 error falls
% like h^(2/3) on uniform meshes.
ue = @(x, y) (x .^ 2 + y .^ 2) .^ (1 / 3) .* sin (2 / 3 * mod (atan2 (y, x), 2 * pi));
due = @(x, y) (2 / 3) * (x .^ 2 + y .^ 2) .^ (-1 / 6) .* ...
      [sin(mod (atan2 (y, x), 2 * pi) / 3 * -1); cos(mod (atan2 (y, x), 2 * pi) / 3)];
levels = [2 4 8 16];
err = zeros (2, numel (levels));
for l = 1:numel (levels)
  n = levels(l);
  Ls = Multipatch ({quad([-1 0 -1 0; 0 0 1 1], 2, n), quad([0 1 0 1; 0 0 1 1], 2, n), ...
                    quad([-1 0 -1 0; -1 -1 0 0], 2, n)});
  [dofs, values] = DirichletValues (Ls, 1:numel (Ls.boundaries), ue);
  K = StiffnessMatrix (Ls, 1);
  free = setdiff (1:Ls.ndof, dofs);
  u = zeros (Ls.ndof, 1); u(dofs) = values;
  u(free) = K(free, free) \ (- K(free, dofs) * values);
  e2 = 0; e1 = 0;
  for i = 1:Ls.npatch
    [x, v, G, w] = field_with_gradient (Ls, u, i, 6);
    e2 += sum (w .* (v - ue (x(1, :), x(2, :))) .^ 2);
    e1 += sum (w .* sum ((G - due (x(1, :), x(2, :))) .^ 2));
  end
  err(:, l) = sqrt ([e2; e1]);
end
t = rates (t, 1 ./ levels, err(2, :), 2 / 3, 'L-shape singular solution, H1');
printf ('L-shape, r^(2/3) sin(2 theta/3): H1 errors %s\n', mat2str (err(2, :), 3));

% Empty lists choose nothing, in every form of every option and for every form: the full-size
% zero result (a boundary face list from find () is often empty). A handle gets rdim rows of no
% nodes, so that a vector load keeps its size.
faces = numel (mp.boundaries);
empty = {{'patches', []}, {'patches', zeros(1, 0)}, {'elements', {[], [], []}}, ...
         {'elements', []}, {'elements', zeros(1, 0)}, {'patches', 2, 'elements', []}, ...
         {'patches', 2, 'elements', zeros(1, 0)}};
wrong = {};
for f = 1:rows (forms)
  [form, coefs] = forms{f, :};
  whole = feval (form, mp, coefs{:});
  options = empty;
  if (any (strcmp (form, {'MassMatrix', 'LoadVector'})))
    options = [options, {{'boundary', []}, {'boundary', zeros(1, 0)}}];
  end
  for o = 1:numel (options)
    A = feval (form, mp, coefs{:}, options{o}{:});
    if (~isequal (size (A), size (whole)) || nnz (A) > 0 || issparse (A) ~= issparse (whole))
      wrong{end + 1} = sprintf ('%s, option list %d', form, o);
    end
  end
end
t = expect (t, isempty (wrong), sprintf ('empty lists give the full-size zero: not %s', ...
                                         strjoin (wrong, '; ')));
try
  none = SplitElements (L{1}, 40){end};                    % 9 elements, 40 parts
  Fp = LoadVector (L{1}, @(x, y) [x; y], none{:});
  Kp = StiffnessMatrix (L{1}, @(x, y) x + y, none{:});
  none = SplitElements (mp, 100){end};                     % 27 elements
  Fd = LoadVector (mp, @(x, y) [x; y], none{:});
  ok = isequal (size (Fp), [50 1]) && nnz (Fp) == 0 && nnz (Kp) == 0 && ...
       isequal (size (Fd), [2 * mp.ndof, 1]) && nnz (Fd) == 0;
catch err
  ok = false;
  printf ('  %s\n', err.message);
end
t = expect (t, ok, 'an empty part with handles of (x, y): zero, a vector load of full size');

% Repeats count once, where they first appear, in 'boundary' as in 'patches'.
Mb1 = MassMatrix (mp, 1, 'boundary', [3 1]);
t = expect (t, isequal (MassMatrix (mp, 1, 'boundary', [3 1 3 3 1]), Mb1) && ...
            isequal (LoadVector (mp, 1, 'boundary', [1 1]), LoadVector (mp, 1, 'boundary', 1)) ...
            && isequal (StiffnessMatrix (mp, 1, 'patches', [2 2]), ...
                        StiffnessMatrix (mp, 1, 'patches', 2)), ...
            'repeated faces and patches count once');

% A cell of values a patch (a face): each array checked as a patch's, its fault naming it (4 x 4
% nodes on 3 x 3 elements, so that the transpose differs).
q = {'quadrature', 4};
c = cell (1, 3);
for i = 1:3
  m = MeshEval (mp, 'patch', i, 'gradient', false, q{:});
  c{i} = reshape (h (m.geo_map(1, :, :), m.geo_map(2, :, :)), m.nqn, m.nel);
end
ct = cellfun (@transpose, c, 'UniformOutput', false);           % nel x nqn
[t, err] = expect_error (t, @() StiffnessMatrix (mp, ct, q{:}), 'StiffnessMatrix:coefficientSize', ...
                         'a cell of transposed values');
t = expect (t, ~isempty (err) && ~isempty (strfind (err.message, 'patch 1')), ...
            'the transposed values: the message names the patch');
split = {[c{1}(:); c{2}(1)], c{2}(2:end)(:), c{3}};              % the right total, split wrongly
[t, err] = expect_error (t, @() StiffnessMatrix (mp, split, q{:}), 'StiffnessMatrix:coefficientSize', ...
                         'values split wrongly between patches');
t = expect (t, ~isempty (err) && ~isempty (strfind (err.message, 'patch 1')), ...
            'values split wrongly: the message names the patch');
cv = cellfun (@(a) a(:)', c, 'UniformOutput', false);
t = expect (t, isequal (StiffnessMatrix (mp, cv, q{:}), StiffnessMatrix (mp, c, q{:})), ...
            'a cell of rows of values, each in node order');
b = [4 2];
cf = cell (1, 2);
for j = 1:2
  m = MeshEval (mp, 'boundary', b(j), 'gradient', false, q{:});
  cf{j} = reshape (h (m.geo_map(1, :, :), m.geo_map(2, :, :)), m.nqn, m.nel);
end
t = expect (t, frob (MassMatrix (mp, cf, 'boundary', b, q{:}), MassMatrix (mp, h, 'boundary', b, q{:})) ...
            < 1e-15, 'a cell of values a face');
t = expect_error (t, @() MassMatrix (mp, {cf{1}', cf{2}'}, 'boundary', b, q{:}), ...
                  'MassMatrix:coefficientSize', 'a cell of transposed values a face');
[t, err] = expect_error (t, @() StiffnessMatrix (mp, 1, 'boundary', 1), ...
                         'StiffnessMatrix:sideOutOfRange', 'boundary faces of a stiffness');
t = expect (t, ~isempty (err) && ~isempty (strfind (err.message, '''boundary''')), ...
            sprintf ('boundary faces of a stiffness: the message names the option (%s)', ...
                     ifelse_message (err)));

% Dirichlet values on faces collapsed to a point: a disk of four sectors (the centre a side of
% each), one sector alone, and the disk extruded (faces collapsed to the axis). The centre's
% functions had 0 where u = 1; now every value is that of a linear g at its control point (the
% space reproduces it), and the projection is never solved singular.
sector = @(a, b) nrbkntins (nrbdegelev (nrbruled (nrbcirc (0, [0 0 0], a, b), ...
                                                  nrbcirc (1, [0 0 0], a, b)), [0 1]), {0.5, 0.5});
disk = arrayfun (@(i) sector ((i - 1) * pi / 2, i * pi / 2), 1:4, 'UniformOutput', false);
cylinder = cellfun (@(g) nrbkntins (nrbdegelev (nrbextrude (g, [0 0 1]), [0 0 1]), ...
                                    {[], [], 0.5}), disk, 'UniformOutput', false);
lin2 = @(x, y) 2 + x - 3 * y;
lin3 = @(x, y, z) 2 + x - 3 * y + z;
cases = {Multipatch(disk), lin2; disk{1}, lin2; Multipatch(cylinder), lin3};
for k = 1:rows (cases)
  [g, u] = cases{k, :};
  domain = isfield (g, 'npatch');
  if (domain)
    faces = 1:numel (g.boundaries);
    X = zeros (g.ndof, 3);
    for i = 1:g.npatch
      C = reshape (g.patches{i}.coefs, 4, []);
      X(g.gnum{i}, :) = (C(1:3, :) ./ C(4, :))';
    end
  else
    faces = 1:4;
    C = reshape (g.coefs, 4, []);
    X = (C(1:3, :) ./ C(4, :))';
  end
  lastwarn ('');
  try
    [dofs, values] = DirichletValues (g, faces, u);
    x = num2cell (X(dofs, 1:nargin (u)), 1);
    e = max (abs (values - u (x{:})));
    [~, id] = lastwarn ();
    [d1, v1] = DirichletValues (g, faces, 1);
    ok = e < 1e-12 && max (abs (v1 - 1)) < 1e-12 && isequal (d1, dofs) && isempty (id);
  catch err
    ok = false; e = NaN;
    printf ('  %s\n', err.message);
  end
  t = expect (t, ok, sprintf ('Dirichlet values with collapsed faces, case %d (%.2g)', k, e));
end
% A function with no measure on the faces (a boundary's dofs tampered): refused, not solved.
tampered = Multipatch (disk);
tampered.boundaries(2).dofs(end + 1) = setdiff (1:tampered.ndof, ...
                                                vertcat (tampered.boundaries.dofs))(1);
t = expect_error (t, @() DirichletValues (tampered, 2, 1), 'DirichletValues:singularProjection', ...
                  'a function with no measure on the faces');
% Options it does not take, faces listed twice, faces that are not indices.
for o = {{'patches', 1}, {'boundary', 2}, {'elements', {1, 1, 1}}, {'rdim', 3}, {'components'}, ...
         {3, 1}}
  t = expect_error (t, @() DirichletValues (mp, 1:3, 1, o{1}{:}), ...
                    'DirichletValues:unknownOption', 'an option DirichletValues does not take');
end
[d1, v1] = DirichletValues (mp, [3 1 3 1], @(x, y) x + y);
[d2, v2] = DirichletValues (mp, [1 3], @(x, y) x + y);
t = expect (t, isequal (d1, d2) && isequal (v1, v2), 'DirichletValues: a face given twice counts once');
t = expect_error (t, @() DirichletValues (mp, 1 + 1i, 1), 'DirichletValues:optionValue', ...
                  'complex faces');
t = expect_error (t, @() DirichletValues (mp, NaN, 1), 'DirichletValues:optionValue', 'NaN faces');

% Faults.
t = expect_error (t, @() Multipatch (3), 'Multipatch:notStruct', 'not a struct');
t = expect_error (t, @() Multipatch (L, 'tolerance', 2), 'Multipatch:optionValue', 'tolerance');
t = expect_error (t, @() Multipatch (L, 'spaec', 1), 'Multipatch:unknownOption', 'option name');
curve = nrbline ([0 0], [1 0]);
t = expect_error (t, @() Multipatch ({L{1}, curve}), 'Multipatch:dimensions', 'a curve and a surface');
bad = L{1}; bad.knots{1} = [0 0 0 0.5 1 1];
t = expect_error (t, @() Multipatch ({bad, L{2}}), 'Multipatch:coefsSize', 'a patch''s own fault');
t = expect_error (t, @() StiffnessMatrix (mp, 1, 'side', 1), 'StiffnessMatrix:optionValue', ...
                  'side over a domain');
t = expect_error (t, @() StiffnessMatrix (mp, 1, 'patches', 4), 'StiffnessMatrix:optionValue', ...
                  'a patch out of range');
t = expect_error (t, @() StiffnessMatrix (mp, {1, 2}), 'StiffnessMatrix:coefficientSize', ...
                  'a cell of values for two of three patches');
t = expect_error (t, @() MeshEval (mp), 'MeshEval:optionValue', 'MeshEval of a domain, no patch');
t = expect_error (t, @() DirichletValues (mp, 99, 1), 'DirichletValues:optionValue', ...
                  'a face out of range');
report (t);
