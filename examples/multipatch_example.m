% MULTIPATCH_EXAMPLE  Poisson on an L-shaped domain of three patches, glued natively, with the
% corner singularity's exact solution as non-homogeneous Dirichlet data:
%     u = r^(2/3) sin(2 theta / 3) on (-1, 1)^2 less its fourth quadrant,
% harmonic, so -Laplace(u) = 0, its gradient infinite at the re-entrant corner. The patches,
% squares of side 1 under B-splines of degree 2 and 3 with n x n elements each, are given in
% mixed orientations (one reversed, one with its directions swapped): Multipatch finds the two
% interfaces and numbers the functions C0 across them, DirichletValues projects u onto the
% boundary functions, StiffnessMatrix assembles the whole domain in one call. On uniform meshes
% the H1 error falls like h^(2/3) whatever the degree: the singularity, not the degree, limits
% the rate. Returns the figures in a struct so that a test can check them.
function results = multipatch_example ()
  if (exist ('OCTAVE_VERSION', 'builtin'))
    pkg load nurbs
  end
  theta = @(x, y) mod (atan2 (y, x), 2 * pi);
  u = @(x, y) (x .^ 2 + y .^ 2) .^ (1 / 3) .* sin (2 / 3 * theta (x, y));
  du = @(x, y) (2 / 3) * (x .^ 2 + y .^ 2) .^ (-1 / 6) .* ...
       [-sin(theta (x, y) / 3); cos(theta (x, y) / 3)];

  fprintf ('Poisson on an L-shape of 3 patches, u = r^(2/3) sin(2 theta/3) on the boundary\n');
  fprintf ('%6s %9s %7s %11s %6s %11s %6s %10s\n', 'degree', 'elements', 'dofs', 'L2 error', ...
           'rate', 'H1 error', 'rate', 'solve ms');
  results.lshape = struct ('p', {}, 'elements', {}, 'dofs', {}, 'l2', {}, 'h1', {}, ...
                           'l2_rate', {}, 'h1_rate', {});
  for p = [2 3]
    previous = [NaN NaN];
    for n = [4 8 16 32]
      clock = tic;
      patches = {square([-1 0], p, n), reverse(square ([0 0], p, n)), swap(square ([-1 -1], p, n))};
      mp = Multipatch (patches);
      [dofs, values] = DirichletValues (mp, 1:numel (mp.boundaries), u);
      K = StiffnessMatrix (mp, 1);
      free = setdiff (1:mp.ndof, dofs);
      uh = zeros (mp.ndof, 1);
      uh(dofs) = values;
      uh(free) = K(free, free) \ (-K(free, dofs) * values);
      ms = toc (clock) * 1e3;
      e = [0 0];
      for i = 1:mp.npatch
        m = MeshEval (mp, 'patch', i, 'quadrature', p + 3);
        U = reshape (uh(m.connectivity), 1, m.nsh_max, m.nel);
        v = reshape (sum (m.shape_functions .* U, 2), 1, []);
        G = reshape (sum (m.shape_function_gradients .* reshape (U, 1, 1, m.nsh_max, m.nel), 3), ...
                     2, []);
        x = m.geo_map(1, :); y = m.geo_map(2, :); w = (m.quad_weights .* m.jacdet)(:)';
        e += [sum(w .* (v - u (x, y)) .^ 2), sum(w .* sum ((G - du (x, y)) .^ 2))];
      end
      e = sqrt (e);
      rate = log (previous ./ e) / log (2);
      fprintf ('%6d %9d %7d %11.3e %6.2f %11.3e %6.2f %10.1f\n', p, 3 * n ^ 2, mp.ndof, e(1), ...
               rate(1), e(2), rate(2), ms);
      results.lshape(end + 1) = struct ('p', p, 'elements', 3 * n ^ 2, 'dofs', mp.ndof, ...
                                        'l2', e(1), 'h1', e(2), 'l2_rate', rate(1), ...
                                        'h1_rate', rate(2));
      previous = e;
    end
  end
  results.interfaces = numel (mp.interfaces);
  results.boundaries = numel (mp.boundaries);
end

% The unit square with corner (x0, y0), degree p, n x n elements.
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
