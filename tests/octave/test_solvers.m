% The solvers in Octave: MatrixFreeOperator against the assembled forms on the free unknowns
% (every form, 2-D and 3-D, degrees 1 to 6, isoparametric NURBS, B-spline and NURBS spaces over a
% NURBS geometry, coefficients as handles and as values at the nodes, Dirichlet faces or none,
% several columns, domains glued with reversed and swapped faces); FastDiagonalisation as the
% exact inverse on boxes; pcg's solutions against backslash's on the ring, the annulus, an
% L-shape of three patches and two patches in 3-D, its iterations bounded as the mesh and the
% degree grow; a Neumann problem; gmres and minres; and every identifier of the m-functions.
% Prints 'N passed, N failed'.
1;  % a script: its helper functions first

function g = annulus ()
  s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
  g = nrbmak (permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]), ...
              {[0 0 0 1 1 1], [0 0 1 1]});
end

% The annulus (the thick ring with d = 3) at degree p in every direction, n elements a direction.
function g = curved (d, p, n)
  if (p == 1)
    g = box (d, 1, n, [2 1 1]);
    return;
  end
  g = annulus ();
  if (d == 3), g = nrbextrude (g, [0 0 1]); end
  raise = p - g.order + 1;
  g = nrbdegelev (g, max (raise, 0));
  k = (1:n - 1) / n;
  g = nrbkntins (g, repmat ({k}, 1, d));
end

% The unit square (cube) at [x0 ..] stretched by s, degree p, n elements a direction.
function g = box (d, p, n, s, x0)
  if (nargin < 5), x0 = zeros (1, d); end
  g = nrbmak (permute (cat (3, x0(1) + s(1) * [0 1; 0 1], x0(2) + s(2) * [0 0; 1 1], ...
                            zeros (2), ones (2)), [3 1 2]), {[0 0 1 1], [0 0 1 1]});
  if (d == 3), g = nrbextrude (g, [0 0 s(3)]); g.coefs(3, :) += x0(3) * g.coefs(4, :); end
  g = nrbkntins (nrbdegelev (g, (p - 1) * ones (1, d)), repmat ({(1:n - 1) / n}, 1, d));
end

function g = reversed (g, d)
  g.coefs = flip (g.coefs, d + 1);
  g.knots{d} = 1 - fliplr (g.knots{d});
end

function g = swapped (g)
  order = [1, 3, 2, 4:ndims(g.coefs)];
  g.coefs = permute (g.coefs, order);
  g.knots = g.knots([2 1 3:end]);
  g.order = g.order([2 1 3:end]);
  g.number = g.number([2 1 3:end]);
end

% max |A x - K(free, free) x| / max |K(free, free) x| over three random columns.
function e = mismatch (A, K, free)
  x = rand (numel (free), 3) - 0.5;
  r = K(free, free) * x;
  e = max (abs (A (x)(:) - r(:))) / max (abs (r(:)));
end

% The unknowns of a patch off its boundary (Dirichlet on every side).
function free = MeshFree (g)
  [~, free] = MatrixFreeOperator ('mass', g, 1, 'dirichlet', 1:2 * numel (g.order));
end

function n = sides_of (g)
  n = 2 * numel (g.order);
end

% Elements a direction for a test of degree p: fewer as the degree grows.
function n = ifelse_n (d, p)
  n = max (1, (d == 2) * 4 + (d == 3) * 3 - floor (p / 2));
end

pkg load nurbs
t = harness ();
rand ('state', 3);

% ---- every form against its assembled matrix -----------------------------------------------
for d = 2:3
  for p = 1:6
    n = ifelse_n (d, p);
    g = curved (d, p, n);
    c = @(x, y, varargin) 1 + x .* y;
    K = StiffnessMatrix (g, c);
    [A, free] = MatrixFreeOperator ('stiffness', g, c, 'dirichlet', [1 2 3]);
    t = expect (t, mismatch (A, K, free) < 1e-12, sprintf ('%d-D degree %d: the stiffness', d, p));
    m = MeshEval (g, 'gradient', false);
    values = 2 + squeeze (m.geo_map(1, :, :));   % at MeshEval's nodes, nqn x nel
    M = MassMatrix (g, values);
    [A, free] = MatrixFreeOperator ('mass', g, values);
    t = expect (t, mismatch (A, M, free) < 1e-12 && numel (free) == rows (M), ...
                sprintf ('%d-D degree %d: the mass, values at the nodes, no Dirichlet face', d, p));
  end
end
for d = 2:3
  g = curved (d, 2, 3);
  K = StiffnessMatrix (g, 2); M = MassMatrix (g, 0.5);
  [A, free] = MatrixFreeOperator ('stiffness+mass', g, 2, 0.5, 'scale', [0.25 -3], ...
                                  'dirichlet', 1);
  t = expect (t, mismatch (A, 0.25 * K - 3 * M, free) < 1e-12, sprintf ('%d-D: a K + b M', d));
  E = ElasticityMatrix (g, @(varargin) 1 + varargin{1}, 2);
  [A, free] = MatrixFreeOperator ('elasticity', g, @(varargin) 1 + varargin{1}, 2, ...
                                  'dirichlet', [1 2], 'components', 1);
  ndof = rows (E) / d;
  m = MeshEval (g, 'side', 1); fixed = union (m.dofs, MeshEval (g, 'side', 2).dofs);
  t = expect (t, mismatch (A, E, free) < 1e-12 && isequal (free, setdiff (1:rows (E), fixed)'), ...
              sprintf ('%d-D: elasticity, one component fixed on two faces', d));
end
% A B-spline space and a NURBS space of their own over the NURBS geometry.
g = annulus ();
U = [0 0 0 0 0.25 0.4 0.4 0.7 1 1 1 1];
space = struct ('knots', {{U, U}}, 'order', [4 4]);
K = StiffnessMatrix (g, 1, 'space', space);
[A, free] = MatrixFreeOperator ('stiffness', g, 1, 'space', space, 'dirichlet', [2 4]);
t = expect (t, mismatch (A, K, free) < 1e-12, 'a B-spline space, a repeated knot');
space.weights = 0.5 + rand (8, 8);
K = StiffnessMatrix (g, 1, 'space', space, 'quadrature', [5 3]);
[A, free] = MatrixFreeOperator ('stiffness', g, 1, 'space', space, 'quadrature', [5 3]);
t = expect (t, mismatch (A, K, free) < 1e-12, 'a NURBS space of its own, another rule');

% ---- domains, glued with reversed and swapped faces ----------------------------------------
sq = @(x0, y0) box (2, 3, 4, [1 1], [x0 y0]);
L = {sq(-1, 0), reversed(sq(0, 0), 1), swapped(sq(-1, -1))};
mp = Multipatch (L);
faces = 1:numel (mp.boundaries);
K = StiffnessMatrix (mp, @(x, y) 1 + x .^ 2);
[A, free] = MatrixFreeOperator ('stiffness', mp, @(x, y) 1 + x .^ 2, 'dirichlet', faces);
t = expect (t, mismatch (A, K, free) < 1e-12, 'L-shape of three patches: the stiffness');
P = FastDiagonalisation (mp, 'dirichlet', faces, 'coefficients', {@(x, y) 1 + x .^ 2});
F = LoadVector (mp, 1);
[u, flag, ~, it] = pcg (A, F(free), 1e-10, 100, P);
ref = K(free, free) \ F(free);
t = expect (t, flag == 0 && norm (u - ref) < 1e-8 * norm (ref) && it <= 25, ...
            sprintf ('L-shape: pcg as backslash, %d iterations', it));
values = {2 * ones(16, 16), 3 + rand(16, 16), 4 * ones(16, 16)};
M = MassMatrix (mp, values);
[A, free] = MatrixFreeOperator ('mass', mp, values);
t = expect (t, mismatch (A, M, free) < 1e-12, 'L-shape: the mass, a coefficient a patch');
cube = @(x0) box (3, 2, 3, [1 1 1], x0);
mp3 = Multipatch ({cube([0 0 0]), swapped(reversed(cube([1 0 0]), 3))});
faces = 1:numel (mp3.boundaries);
E = ElasticityMatrix (mp3, 1, 1);
[A, free] = MatrixFreeOperator ('elasticity', mp3, 1, 1, 'dirichlet', faces(1:3));
t = expect (t, mismatch (A, E, free) < 1e-12, 'two cubes, a face swapped and reversed: elasticity');
K = StiffnessMatrix (mp3, 1); F = LoadVector (mp3, 1);
[A, free] = MatrixFreeOperator ('stiffness', mp3, 1, 'dirichlet', faces);
P = FastDiagonalisation (mp3, 'dirichlet', faces);
[u, flag, ~, it] = pcg (A, F(free), 1e-10, 100, P);
ref = K(free, free) \ F(free);
t = expect (t, flag == 0 && norm (u - ref) < 1e-8 * norm (ref) && it <= 20, ...
            sprintf ('two cubes: pcg as backslash, %d iterations', it));

% The ring cut into 2 x 2 x 2 patches: one box, one solver, one patch's iterations; each patch a
% solver of its own, some more.
g = curved (3, 3, 6);
[~, ~, ~, one] = pcg (MatrixFreeOperator ('stiffness', g, 1, 'dirichlet', 1:6), ...
                      LoadVector (g, 1)(MeshFree (g)), 1e-8, 100, ...
                      FastDiagonalisation (g, 'dirichlet', 1:6));
pieces = {g};
for d = 1:3
  next = {};
  for q = 1:numel (pieces), [a, b] = split_patch (pieces{q}, d, 0.5); next = [next, {a, b}]; end
  pieces = next;
end
mp8 = Multipatch (pieces);
faces = 1:numel (mp8.boundaries);
[A, free] = MatrixFreeOperator ('stiffness', mp8, 1, 'dirichlet', faces);
F = LoadVector (mp8, 1);
K = StiffnessMatrix (mp8, 1);
ref = K(free, free) \ F(free);
[u, flag, ~, grouped] = pcg (A, F(free), 1e-8, 100, FastDiagonalisation (mp8, 'dirichlet', faces));
t = expect (t, flag == 0 && norm (u - ref) < 1e-6 * norm (ref) && grouped <= one + 1, ...
            sprintf ('8 patches in a box: %d iterations, one patch %d', grouped, one));
[u, flag, ~, apart] = pcg (A, F(free), 1e-8, 100, ...
                           FastDiagonalisation (mp8, 'dirichlet', faces, 'group', false));
t = expect (t, flag == 0 && norm (u - ref) < 1e-6 * norm (ref) && apart <= 3 * one, ...
            sprintf ('8 patches apart: %d iterations', apart));

% ---- the preconditioner exact on boxes -------------------------------------------------------
b3 = box (3, 3, 4, [2 1 0.5]);
[A, free] = MatrixFreeOperator ('stiffness', b3, 3, 'dirichlet', [1 2 5]);
P = FastDiagonalisation (b3, 'dirichlet', [1 2 5], 'coefficients', {3});
[u, flag, ~, it] = pcg (A, rand (numel (free), 1), 1e-10, 20, P);
t = expect (t, flag == 0 && it <= 2, sprintf ('a box: the stiffness''s inverse (%d iterations)', it));
b2 = box (2, 4, 5, [3 1]);
[A, free] = MatrixFreeOperator ('stiffness+mass', b2, 1, 2, 'scale', [1 10], 'dirichlet', 1:4);
P = FastDiagonalisation (b2, 'form', 'stiffness+mass', 'scale', [1 10], 'coefficients', {1, 2}, ...
                         'dirichlet', 1:4);
[u, flag, ~, it] = pcg (A, rand (numel (free), 1), 1e-10, 20, P);
t = expect (t, flag == 0 && it <= 2, sprintf ('a rectangle: K + 10 M''s inverse (%d)', it));
[A, free] = MatrixFreeOperator ('mass', b3, 1);
P = FastDiagonalisation (b3, 'form', 'mass');
[u, flag, ~, it] = pcg (A, rand (numel (free), 1), 1e-10, 20, P);
t = expect (t, flag == 0 && it <= 2, sprintf ('a box: the mass''s inverse (%d)', it));

% ---- solutions and iterations on curved patches ---------------------------------------------
for d = 2:3
  for n = [4 8]
    for p = 2:3 + (d == 2)
      g = curved (d, p, n);
      faces = 1:sides_of (g);
      [A, free] = MatrixFreeOperator ('stiffness', g, 1, 'dirichlet', faces);
      P = FastDiagonalisation (g, 'dirichlet', faces);
      F = LoadVector (g, @(varargin) varargin{1} .* varargin{2});
      [u, flag, ~, it] = pcg (A, F(free), 1e-10, 100, P);
      K = StiffnessMatrix (g, 1);
      ref = K(free, free) \ F(free);
      t = expect (t, flag == 0 && norm (u - ref) < 1e-8 * norm (ref) && it <= 16, ...
                  sprintf ('%d-D degree %d, %d elements: pcg as backslash in %d iterations', ...
                           d, p, n, it));
    end
  end
end
g = curved (3, 2, 3);
[A, free] = MatrixFreeOperator ('elasticity', g, 1, 1, 'dirichlet', 1);
P = FastDiagonalisation (g, 'form', 'elasticity', 'dirichlet', 1);
E = ElasticityMatrix (g, 1, 1);
b = rand (numel (free), 1);
[u, flag, ~, it] = pcg (A, b, 1e-10, 200, P);
ref = E(free, free) \ b;
t = expect (t, flag == 0 && norm (u - ref) < 1e-7 * norm (ref), ...
            sprintf ('the ring: elasticity, a component a solver, %d iterations', it));
% A Neumann problem: P is the pseudo-inverse, pcg needs b orthogonal to the constants.
g = curved (2, 3, 6);
[A, free] = MatrixFreeOperator ('stiffness', g, 1);
P = FastDiagonalisation (g);
b = rand (numel (free), 1); b -= mean (b);
[u, flag, relres] = pcg (A, b, 1e-9, 100, P);
t = expect (t, flag == 0 && norm (A (u) - b) < 1e-8 * norm (b), 'no Dirichlet face: a solution');
% gmres and pcr take the same handles (Octave has no minres).
[A, free] = MatrixFreeOperator ('stiffness', g, 1, 'dirichlet', 1:4);
P = FastDiagonalisation (g, 'dirichlet', 1:4);
b = rand (numel (free), 1);
[u1, flag1] = gmres (A, b, [], 1e-10, 30, P);
[u2, flag2] = pcr (A, b, 1e-10, 30, P);
u3 = StiffnessMatrix (g, 1)(free, free) \ b;
t = expect (t, flag1 == 0 && flag2 == 0 && norm (u1 - u3) < 1e-7 * norm (u3) && ...
               norm (u2 - u3) < 1e-7 * norm (u3), 'gmres and pcr');

% ---- every identifier -------------------------------------------------------------------------
g = curved (2, 2, 2);
id = @(m) ['MatrixFreeOperator:' m];
t = expect_error (t, @() MatrixFreeOperator ('stiffness'), id ('usage'), 'no geometry');
t = expect_error (t, @() MatrixFreeOperator ('elasticity', g, 1), id ('usage'), 'one coefficient');
t = expect_error (t, @() MatrixFreeOperator ('stiffness', g, 'dirichlet', 1), id ('usage'), ...
                  'an option for a coefficient');
t = expect_error (t, @() MatrixFreeOperator ('laplace', g, 1), id ('optionValue'), 'a form');
t = expect_error (t, @() MatrixFreeOperator ('stiffness', g, 1, 'dirichlet', 5), ...
                  id ('optionValue'), 'a side');
t = expect_error (t, @() MatrixFreeOperator ('stiffness', g, 1, 'scale', [1 1]), ...
                  id ('optionValue'), 'scale of the stiffness');
t = expect_error (t, @() MatrixFreeOperator ('stiffness', g, 1, 'components', 1), ...
                  id ('optionValue'), 'components of the stiffness');
t = expect_error (t, @() MatrixFreeOperator ('elasticity', g, 1, 1, 'components', 3), ...
                  id ('optionValue'), 'a component');
t = expect_error (t, @() MatrixFreeOperator ('stiffness', g, 1, 'elements', 1), ...
                  id ('optionValue'), 'chosen elements');
t = expect_error (t, @() MatrixFreeOperator ('stiffness', g, 1, 'colour', 1), ...
                  id ('unknownOption'), 'an unknown option');
t = expect_error (t, @() MatrixFreeOperator ('stiffness', g, 1, 'dirichlet'), ...
                  id ('unknownOption'), 'an option without value');
t = expect_error (t, @() MatrixFreeOperator ('stiffness', g, @(x, y) [x y]), ...
                  id ('coefficientSize'), 'a handle of the wrong size');
t = expect_error (t, @() MatrixFreeOperator ('stiffness', g, @(x, y) error ('no')), ...
                  id ('coefficientError'), 'a handle that fails');
t = expect_error (t, @() MatrixFreeOperator ('stiffness', g, {1, 2}), ...
                  id ('coefficientSize'), 'a cell over a patch');
t = expect_error (t, @() MatrixFreeOperator ('stiffness', g, [1 2 3]), ...
                  id ('coefficientSize'), 'values of the wrong size');
g3 = g; g3.coefs(3, :) = 0.1 * g3.coefs(4, :);
t = expect_error (t, @() MatrixFreeOperator ('stiffness', g3, 1), id ('dimensions'), ...
                  'a surface in 3-D');
curve = nrbmak ([0 1; 0 0; 0 0; 1 1], [0 0 1 1]);
t = expect_error (t, @() MatrixFreeOperator ('mass', curve, 1), id ('dimensions'), 'a curve');
t = expect_error (t, @() MatrixFreeOperator ('stiffness', struct ('a', 1), 1), id ('missingField'), ...
                  'not a patch');
[A, free] = MatrixFreeOperator ('stiffness', g, 1);
t = expect_error (t, @() A (ones (numel (free) + 1, 1)), id ('xSize'), 'x of the wrong length');
t = expect (t, isequal (size (A (zeros (numel (free), 0))), [numel(free) 0]), 'no column');
t = expect_error (t, @() FastDiagonalisation (g, 'form', 'stiff'), ...
                  'FastDiagonalisation:optionValue', 'the preconditioner''s form');
t = expect_error (t, @() FastDiagonalisation (g, 'coefficients', 1), ...
                  'FastDiagonalisation:optionValue', 'coefficients not a cell');
t = expect_error (t, @() FastDiagonalisation (), 'FastDiagonalisation:usage', 'no geometry');
t = expect_error (t, @() FastDiagonalisation (mp, 'dirichlet', 99), ...
                  'FastDiagonalisation:optionValue', 'a face of the domain');
P = FastDiagonalisation (g);
t = expect_error (t, @() P (ones (2, 1)), 'FastDiagonalisation:xSize', 'a residual of the wrong length');
report (t);
