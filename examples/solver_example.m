% SOLVER_EXAMPLE  Poisson on the thick ring solved without its matrix: the stiffness applied by
% sum factorisation (MatrixFreeOperator), the fast-diagonalisation preconditioner
% (FastDiagonalisation) and Octave's own pcg, to a relative residual of 1e-10.
%
%   r = solver_example ()                    12^3 elements against backslash, 48^3 alone
%   r = solver_example (n_small, n_large)
%
% The thick ring: the quarter annulus of radii 1 and 2 extruded to height 1, its NURBS basis at
% degree 2; u = x y (r^2 - 1)(r^2 - 4) sin(pi z), 0 on the boundary, f = -Laplacian u. On the
% small mesh the solution is compared with backslash's on the assembled matrix; on the large one
% (48^3 elements: 110,592 unknowns) the time, the iterations and the error against u at 1000
% random points are printed. r.small (unknowns, difference), r.large (unknowns, setup, solve,
% iterations, error).
function r = solver_example (n_small, n_large)
  if (nargin < 1), n_small = 12; end
  if (nargin < 2), n_large = 48; end
  pkg load nurbs
  u = @(x, y, z) x .* y .* (x.^2 + y.^2 - 1) .* (x.^2 + y.^2 - 4) .* sin (pi * z);
  f = @(x, y, z) -sin (pi * z) .* x .* y .* (32 * (x.^2 + y.^2) - 60 - ...
                  pi^2 * (x.^2 + y.^2 - 1) .* (x.^2 + y.^2 - 4));
  printf ('Poisson on the thick ring, degree 2, matrix-free with pcg and fast diagonalisation\n');

  g = ring (n_small);
  [A, free] = MatrixFreeOperator ('stiffness', g, 1, 'dirichlet', 1:6);
  P = FastDiagonalisation (g, 'dirichlet', 1:6);
  F = LoadVector (g, f);
  [uh, flag, ~, it] = pcg (A, F(free), 1e-10, 200, P);
  K = StiffnessMatrix (g, 1);
  ref = K(free, free) \ F(free);
  r.small = struct ('unknowns', numel (free), 'iterations', it, ...
                    'difference', norm (uh - ref) / norm (ref));
  printf ('  %2d^3 elements, %7d unknowns: %2d iterations, |u_pcg - u_backslash| / |u| = %.1e\n', ...
          n_small, numel (free), it, r.small.difference);

  g = ring (n_large);
  tic;
  [A, free] = MatrixFreeOperator ('stiffness', g, 1, 'dirichlet', 1:6);
  P = FastDiagonalisation (g, 'dirichlet', 1:6);
  setup = toc;
  F = LoadVector (g, f);
  tic;
  [uh, flag, ~, it] = pcg (A, F(free), 1e-10, 200, P);
  solve = toc;
  coefficients = zeros (numel (F), 1);
  coefficients(free) = uh;
  xi = rand (3, 1000);
  [v, ~, x] = FieldEval (g, coefficients, xi);
  e = max (abs (v(:) - u (x(1, :)', x(2, :)', x(3, :)'))) / max (abs (u (x(1, :), x(2, :), x(3, :))));
  r.large = struct ('unknowns', numel (free), 'setup', setup, 'solve', solve, ...
                    'iterations', it, 'flag', flag, 'error', e);
  printf (['  %2d^3 elements, %7d unknowns: operator and preconditioner %.1f s, pcg %.1f s, ' ...
           '%d iterations, max |u_h - u| / max |u| = %.1e\n'], n_large, numel (free), setup, ...
          solve, it, e);
end

function g = ring (n)
  s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
  annulus = nrbmak (permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]), ...
                    {[0 0 0 1 1 1], [0 0 1 1]});
  k = (1:n - 1) / n;
  g = nrbkntins (nrbdegelev (nrbextrude (annulus, [0 0 1]), [0 1 1]), {k, k, k});
end
