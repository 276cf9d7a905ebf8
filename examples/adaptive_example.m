% ADAPTIVE_EXAMPLE  Adaptive refinement with truncated hierarchical B-splines: solve, estimate,
% mark, refine.
%   - The L-shape of multipatch_example (three patches in mixed orientations, u = r^(2/3)
%     sin(2 theta / 3) on the boundary, -Laplace(u) = 0), degrees 2 and 3 from 4 x 4 elements
%     a patch: HierarchicalSpace over the domain, DirichletValues, StiffnessMatrix, the residual
%     estimator with the interfaces' flux jumps (ErrorEstimate), Doerfler marking (theta 1/2)
%     and admissible refinement (class 2), until the H1 error is below 1e-3 (degree 2) or 1e-4
%     (degree 3). The error against the unknowns falls at least like ndof^(-p/2), where uniform
%     refinement gives ndof^(-1/3) (h^(2/3)) whatever the degree; the uniform meshes of
%     multipatch_example are solved too, for the time and unknowns a tolerance costs each way.
%   - A cube with an interior layer, u = atan(40 (|x - c| - 1/4)) about its centre c, degree 2
%     from 4 x 4 x 4 elements: adaptive against uniform refinement at like numbers of unknowns.
%   results = adaptive_example ()         the tables
%   results = adaptive_example (folder)   also the L-shape's refined mesh and solution drawn
%                                         into folder/adaptive_lshape.png
% Returns the figures in a struct so that a test can check them.
function results = adaptive_example (folder)
  if (exist ('OCTAVE_VERSION', 'builtin'))
    pkg load nurbs
  end
  theta = @(x, y) mod (atan2 (y, x), 2 * pi);
  u = @(x, y) (x .^ 2 + y .^ 2) .^ (1 / 3) .* sin (2 / 3 * theta (x, y));
  du = @(x, y) (2 / 3) * (x .^ 2 + y .^ 2) .^ (-1 / 6) .* ...
       [-sin(theta (x, y) / 3); cos(theta (x, y) / 3)];
  lshape = @(p, n) Multipatch ({square([-1 0], p, n), reverse(square ([0 0], p, n)), ...
                                swap(square ([-1 -1], p, n))});

  fprintf ('Adaptive THB on the L-shape, u = r^(2/3) sin(2 theta/3), Doerfler 1/2, class 2\n');
  fprintf ('%6s %5s %7s %7s %7s %11s %11s %7s\n', 'degree', 'step', 'dofs', 'elements', ...
           'levels', 'H1 error', 'estimate', 'time s');
  results.lshape = struct ('p', {}, 'ndof', {}, 'nel', {}, 'levels', {}, 'h1', {}, ...
                           'estimate', {}, 'seconds', {});
  results.rates = [];
  tolerance = [1e-3 1e-4];
  for p = [2 3]
    hs = HierarchicalSpace (lshape (p, 4));
    clock = tic;
    for step = 1:40
      uh = solve_lshape (hs, u);
      e = h1_error (hs, uh, du, p + 3);
      eta = ErrorEstimate (hs, uh, 0, 1);
      seconds = toc (clock);
      results.lshape(end + 1) = struct ('p', p, 'ndof', hs.ndof, 'nel', hs.nel, 'levels', ...
                                        hs.levels, 'h1', e, 'estimate', norm (eta), ...
                                        'seconds', seconds);
      if (mod (step, 4) == 1 || e < tolerance(p - 1))
        fprintf ('%6d %5d %7d %7d %7d %11.3e %11.3e %7.1f\n', p, step, hs.ndof, hs.nel, ...
                 hs.levels, e, norm (eta), seconds);
      end
      if (e < tolerance(p - 1)), break; end
      hs = RefineElements (hs, MarkElements (eta, 'doerfler', 0.5));
    end
    % The rate over the last half of the steps, a least-squares slope of log e against log ndof.
    rows = results.lshape([results.lshape.p] == p);
    last = rows(ceil (end / 2):end);
    c = polyfit (log ([last.ndof]), log ([last.h1]), 1);
    results.rates(end + 1) = -c(1);
    fprintf ('degree %d: H1 error %.2e with %d unknowns in %.1f s; rate %.2f in ndof (p/2 = %.1f)\n', ...
             p, rows(end).h1, rows(end).ndof, rows(end).seconds, -c(1), p / 2);
    if (p == 2), final = hs; final_u = uh; end
  end

  % Uniform refinement of the same L-shape, degree 3: what it reaches, and at what cost.
  results.uniform = struct ('n', {}, 'ndof', {}, 'h1', {}, 'seconds', {});
  for n = [4 8 16 32]
    clock = tic;
    hs = HierarchicalSpace (lshape (3, n));
    uh = solve_lshape (hs, u);
    e = h1_error (hs, uh, du, 6);
    results.uniform(end + 1) = struct ('n', n, 'ndof', hs.ndof, 'h1', e, 'seconds', toc (clock));
  end
  U = results.uniform;
  c = polyfit (log ([U(end - 1:end).ndof]), log ([U(end - 1:end).h1]), 1);
  results.uniform_rate = -c(1);
  results.uniform_ndof_for_tolerance = exp ((log (1e-4) - c(2)) / c(1));
  rows = results.lshape([results.lshape.p] == 3);
  fprintf (['uniform, degree 3: H1 error %.2e with %d unknowns (%.1f s), rate %.2f; 1e-4 would ' ...
            'take some %.0e unknowns, adaptive %d\n'], U(end).h1, U(end).ndof, U(end).seconds, ...
           results.uniform_rate, results.uniform_ndof_for_tolerance, rows(end).ndof);

  % A cube with an interior layer.
  [results.layer, results.layer_uniform] = layer_example ();

  if (nargin > 0)
    fig = figure ('visible', 'off');
    cleanup = onCleanup (@() close (fig));
    PlotField (final, final_u, 'edges', true, 'subdivisions', 2);
    title (sprintf ('degree 2, %d unknowns, %d levels', final.ndof, final.levels));
    results.picture = fullfile (folder, 'adaptive_lshape.png');
    print (fig, '-dpngcairo', '-r80', results.picture);
  end
end

% The L-shape's discrete solution with u on the boundary.
function uh = solve_lshape (hs, u)
  [dofs, values] = DirichletValues (hs, 1:numel (hs.boundaries), u);
  K = StiffnessMatrix (hs, 1);
  free = setdiff (1:hs.ndof, dofs);
  uh = zeros (hs.ndof, 1);
  uh(dofs) = values;
  uh(free) = K(free, free) \ (-K(free, dofs) * values);
end

% |u - u_h|_1 from the gradients at q nodes a direction of every element, patch by patch.
function e = h1_error (hs, uh, du, q)
  e = 0;
  for i = 1:hs.npatch
    m = MeshEval (hs, 'patch', i, 'quadrature', q, 'gradient', false);
    [~, G, X] = FieldEval (hs, uh, reshape (m.quad_nodes, hs.ndim, []), 'patch', i);
    X = reshape (X, hs.rdim, []);
    w = reshape (m.quad_weights .* m.jacdet, 1, []);
    e = e + sum (w .* sum ((reshape (G, hs.rdim, []) - du (X(1, :), X(2, :))) .^ 2, 1));
  end
  e = sqrt (e);
end

% -Laplace(u) = f on the unit cube, u = atan(a (r - r0)) with r the distance to its centre:
% adaptive from 4 x 4 x 4 elements of degree 2, and uniform refinement.
function [adaptive, uniform] = layer_example ()
  a = 40; r0 = 0.25;
  R = @(x, y, z) sqrt ((x - 0.5) .^ 2 + (y - 0.5) .^ 2 + (z - 0.5) .^ 2);
  ue = @(x, y, z) atan (a * (R (x, y, z) - r0));
  s = @(r) 1 + a ^ 2 * (r - r0) .^ 2;
  f = @(x, y, z) 2 * a ^ 3 * (R (x, y, z) - r0) ./ s (R (x, y, z)) .^ 2 - ...
      2 * a ./ s (R (x, y, z)) ./ R (x, y, z);
  grad = @(x, y, z) a ./ s (R (x, y, z)) ./ R (x, y, z) .* [x - 0.5; y - 0.5; z - 0.5];
  cube = @(n) nrbkntins (nrbdegelev (nrbextrude (nrb4surf ([0 0 0], [1 0 0], [0 1 0], ...
                                                          [1 1 0]), [0 0 1]), [1 1 1]), ...
                         repmat ({(1:n - 1) / n}, 1, 3));
  fprintf ('Interior layer in the unit cube, u = atan(%g (r - %g)), degree 2\n', a, r0);
  fprintf ('%9s %7s %7s %7s %11s %7s\n', '', 'dofs', 'elements', 'levels', 'H1 error', 'time s');
  adaptive = struct ('ndof', {}, 'nel', {}, 'levels', {}, 'h1', {}, 'seconds', {});
  hs = HierarchicalSpace (cube (4));
  clock = tic;
  for step = 1:7
    [uh, e] = solve_cube (hs, ue, f, grad);
    adaptive(end + 1) = struct ('ndof', hs.ndof, 'nel', hs.nel, 'levels', hs.levels, 'h1', e, ...
                                'seconds', toc (clock));
    fprintf ('%9s %7d %7d %7d %11.3e %7.1f\n', 'adaptive', hs.ndof, hs.nel, hs.levels, e, ...
             toc (clock));
    if (step < 7)
      hs = RefineElements (hs, MarkElements (ErrorEstimate (hs, uh, f, 1), 'doerfler', 0.5));
    end
  end
  uniform = struct ('ndof', {}, 'h1', {}, 'seconds', {});
  for n = [4 8 12]
    clock = tic;
    hs = HierarchicalSpace (cube (n));
    [~, e] = solve_cube (hs, ue, f, grad);
    uniform(end + 1) = struct ('ndof', hs.ndof, 'h1', e, 'seconds', toc (clock));
    fprintf ('%9s %7d %7d %7d %11.3e %7.1f\n', 'uniform', hs.ndof, hs.nel, 1, e, toc (clock));
  end
end

function [uh, e] = solve_cube (hs, ue, f, grad)
  [dofs, values] = DirichletValues (hs, 1:6, ue);
  K = StiffnessMatrix (hs, 1);
  F = LoadVector (hs, f);
  free = setdiff (1:hs.ndof, dofs);
  uh = zeros (hs.ndof, 1);
  uh(dofs) = values;
  uh(free) = K(free, free) \ (F(free) - K(free, dofs) * values);
  m = MeshEval (hs, 'quadrature', 4, 'gradient', false);
  [~, G, X] = FieldEval (hs, uh, reshape (m.quad_nodes, 3, []));
  X = reshape (X, 3, []);
  w = reshape (m.quad_weights .* m.jacdet, 1, []);
  e = sqrt (sum (w .* sum ((reshape (G, 3, []) - grad (X(1, :), X(2, :), X(3, :))) .^ 2, 1)));
end

% The unit square with corner (x0, y0), degree p, n x n elements (multipatch_example's).
function g = square (corner, p, n)
  x0 = corner(1); y0 = corner(2);
  g = nrbmak (permute (cat (3, [x0 x0+1; x0 x0+1], [y0 y0; y0+1 y0+1], zeros (2), ones (2)), ...
                       [3 1 2]), {[0 0 1 1], [0 0 1 1]});
  k = (1:n - 1) / n;
  g = nrbkntins (nrbdegelev (g, [p p] - 1), {k, k});
end

% The same patch with its first direction reversed, or its two directions swapped.
function g = reverse (g)
  g.coefs = flip (g.coefs, 2);
  g.knots{1} = 1 - fliplr (g.knots{1});
end

function g = swap (g)
  g.coefs = permute (g.coefs, [1 3 2]);
  g.knots = g.knots([2 1]);
  g.order = g.order([2 1]);
  g.number = g.number([2 1]);
end
