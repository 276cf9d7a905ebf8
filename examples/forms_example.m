% FORMS_EXAMPLE  Isogeometric solves with the native forms, printed as two short tables:
%   - -Laplace(u) = f on the quarter annulus (radii 1 and 2) with
%       u = -(x^2 + y^2 - 1) (x^2 + y^2 - 4) x y^2,
%     zero on the whole boundary, in refined NURBS spaces of the exact geometry (isoparametric)
%     of degrees 2 and 3: L2 and H1-seminorm errors and their rates (theory: p + 1 and p). Each
%     run times the native assembly (StiffnessMatrix + LoadVector) against the same assembly
%     from the batch twin RatSurfShapeGradBatch and vectorised m-code, and checks that the two
%     agree to 1e-12;
%   - linear elasticity (plane strain) on a quarter of a square plate of side 8 with a circular
%     hole of radius 1, under remote tension 10 along x: Kirsch's exact tractions on the outer
%     edges, symmetry conditions on the axes, the hole free; energy-norm error and its rate
%     (theory: p).
% Returns the figures in a struct so that a test can check them.
function results = forms_example ()
  if (exist ('OCTAVE_VERSION', 'builtin'))
    pkg load nurbs
  end
  started = tic;

  % The quarter annulus: degree 2 around (xi), degree 1 across (eta), one element.
  s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
  annulus = nrbmak (permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]), ...
                    {[0 0 0 1 1 1], [0 0 1 1]});
  [u, f, du] = poisson_solution ();
  StiffnessMatrix (annulus, 1); LoadVector (annulus, f);   % load the plug-ins before timing

  fprintf ('Poisson on the quarter annulus; assembly of K and F in ms\n');
  fprintf ('%6s %9s %7s %11s %6s %11s %6s %8s %8s %9s\n', 'degree', 'elements', 'dofs', ...
           'L2 error', 'rate', 'H1 error', 'rate', 'native', 'twins', 'agree');
  results.poisson = struct ('p', {}, 'elements', {}, 'dofs', {}, 'l2', {}, 'h1', {}, ...
                            'l2_rate', {}, 'h1_rate', {}, 'native_ms', {}, 'twins_ms', {}, ...
                            'difference', {});
  for p = [2 3]
    previous = [NaN NaN];
    for ne = [8 16 32 64]
      knots = (1:ne - 1) / ne;
      g = nrbkntins (nrbdegelev (annulus, [p p] - annulus.order + 1), {knots, knots});

      clock = tic;
      K = StiffnessMatrix (g, 1);
      F = LoadVector (g, f);
      native = toc (clock);
      [K2, F2, twins] = twin_assembly (g, f);
      difference = max (norm (K - K2, 'fro') / norm (K, 'fro'), norm (F - F2) / norm (F));

      % Homogeneous Dirichlet conditions: the functions not zero on any side are fixed at 0.
      fixed = [];
      for k = 1:4
        side = MeshEval (g, 'side', k, 'gradient', false);
        fixed = union (fixed, side.dofs(:)');
      end
      free = setdiff (1:size (K, 1), fixed);
      uh = zeros (size (K, 1), 1);
      uh(free) = K(free, free) \ F(free);
      [l2, h1] = poisson_errors (g, uh, u, du);

      rates = log2 (previous ./ [l2 h1]);
      fprintf ('%6d %9s %7d %11.3e %6s %11.3e %6s %8.1f %8.1f %9.1e\n', p, ...
               sprintf ('%dx%d', ne, ne), numel (free), l2, rate_text (rates(1)), h1, ...
               rate_text (rates(2)), 1e3 * native, 1e3 * twins, difference);
      results.poisson(end + 1) = struct ('p', p, 'elements', ne * ne, 'dofs', numel (free), ...
                                         'l2', l2, 'h1', h1, 'l2_rate', rates(1), ...
                                         'h1_rate', rates(2), 'native_ms', 1e3 * native, ...
                                         'twins_ms', 1e3 * twins, 'difference', difference);
      previous = [l2 h1];
    end
  end

  % The plate with a hole, ruled between the hole's quarter arc and the outer square's two
  % edges, both C0 at their middle (a double knot): the arc's 45 degree point faces the corner.
  % Side 1 lies on y = 0, side 2 on x = 0, side 3 is the hole, side 4 the outer edges.
  arc = nrbkntins (nrbcirc (1, [0 0 0], 0, pi / 2), [0.5 0.5]);
  outer = nrbmak ([4 4 4 2 0; 0 2 4 4 4], [0 0 0 0.5 0.5 1 1 1]);
  plate = nrbruled (arc, outer);
  E = 1e5; nu = 0.3;
  lambda = E * nu / ((1 + nu) * (1 - 2 * nu)); mu = E / (2 * (1 + nu));

  fprintf ('\nPlate with a hole, plane strain, remote tension 10: energy-norm error\n');
  fprintf ('%6s %9s %7s %11s %11s %6s\n', 'degree', 'elements', 'dofs', 'energy', ...
           'relative', 'rate');
  results.elasticity = struct ('p', {}, 'elements', {}, 'dofs', {}, 'energy', {}, ...
                               'relative', {}, 'rate', {});
  for p = [2 3]
    previous = NaN;
    for ne = [4 8 16 32 64]
      knots = (1:ne - 1) / ne;
      g = nrbkntins (nrbdegelev (plate, [p p] - plate.order + 1), ...
                     {[knots / 2, 0.5 + knots / 2], knots});
      n = numel (g.coefs) / 4;
      K = ElasticityMatrix (g, lambda, mu);

      % Tractions sigma n of the exact stresses at the outer edges' nodes.
      side = MeshEval (g, 'side', 4, 'gradient', false);
      sigma = kirsch (side.geo_map(1, :), side.geo_map(2, :));
      normal = reshape (side.normal, 2, []);
      traction = [sigma(1, :) .* normal(1, :) + sigma(3, :) .* normal(2, :);
                  sigma(3, :) .* normal(1, :) + sigma(2, :) .* normal(2, :)];
      F = LoadVector (g, reshape (traction, 2, side.nqn, side.nel), 'side', 4);

      % Symmetry: u_y = 0 on y = 0 (side 1), u_x = 0 on x = 0 (side 2).
      bottom = MeshEval (g, 'side', 1, 'gradient', false);
      left = MeshEval (g, 'side', 2, 'gradient', false);
      fixed = [n + bottom.dofs(:)', left.dofs(:)'];
      free = setdiff (1:2 * n, fixed);
      uh = zeros (2 * n, 1);
      uh(free) = K(free, free) \ F(free);
      [energy, relative] = energy_error (g, uh, lambda, mu);

      rate = log2 (previous / energy);
      fprintf ('%6d %9s %7d %11.3e %11.3e %6s\n', p, sprintf ('2x%dx%d', ne, ne), ...
               numel (free), energy, relative, rate_text (rate));
      results.elasticity(end + 1) = struct ('p', p, 'elements', 2 * ne * ne, ...
                                            'dofs', numel (free), 'energy', energy, ...
                                            'relative', relative, 'rate', rate);
      previous = energy;
    end
  end
  results.seconds = toc (started);
  fprintf ('\n%.1f s in all\n', results.seconds);
end

% The manufactured solution on the quarter annulus, zero on its four sides: u, f = -Laplace(u)
% and grad u (two rows).
function [u, f, du] = poisson_solution ()
  u = @(x, y) -(x .^ 2 + y .^ 2 - 1) .* (x .^ 2 + y .^ 2 - 4) .* x .* y .^ 2;
  f = @(x, y) 2 * x .* (x .^ 2 + y .^ 2 - 1) .* (x .^ 2 + y .^ 2 - 4) ...
              + 40 * x .* y .^ 2 .* (x .^ 2 + y .^ 2 - 2);
  du = @(x, y) -[2 * (2 * (x .^ 2 + y .^ 2) - 5) .* x .^ 2 .* y .^ 2 ...
                 + (x .^ 2 + y .^ 2 - 1) .* (x .^ 2 + y .^ 2 - 4) .* y .^ 2;
                 2 * (2 * (x .^ 2 + y .^ 2) - 5) .* x .* y .^ 3 ...
                 + 2 * (x .^ 2 + y .^ 2 - 1) .* (x .^ 2 + y .^ 2 - 4) .* x .* y];
end

% Stiffness and load of the isoparametric space of the surface g, from RatSurfShapeGradBatch's
% rows at every Gauss node (order(i) nodes a direction, as the native forms) and vectorised
% m-code: the map's Jacobian, its inverse, the physical gradients, the element matrices and one
% sparse() call. Returns the time it took (s).
function [K, F, seconds] = twin_assembly (g, f)
  clock = tic;
  p = g.order - 1; U = g.knots{1}; V = g.knots{2};
  sz = size (g.coefs); sz = sz(2:3); N = prod (sz);
  W = reshape (g.coefs(4, :), sz);
  Px = reshape (g.coefs(1, :), sz) ./ W; Py = reshape (g.coefs(2, :), sz) ./ W;

  % The nodes of every element, element by element (element e's nq nodes consecutive).
  bu = unique (U); bv = unique (V); hu = diff (bu); hv = diff (bv);
  [gu, wu] = gauss_legendre (p(1) + 1, 0, 1);
  [gv, wv] = gauss_legendre (p(2) + 1, 0, 1);
  [qu, qv] = ndgrid (1:numel (gu), 1:numel (gv));
  [eu, ev] = ndgrid (1:numel (hu), 1:numel (hv));
  nq = numel (qu); E = numel (eu);
  xi = bu(eu(:)') + gu(qu(:)) * hu(eu(:)');                  % nq x E
  eta = bv(ev(:)') + gv(qv(:)) * hv(ev(:)');
  dA = (wu(qu(:)) .* wv(qv(:))) * (hu(eu(:)') .* hv(ev(:)'));

  [R, Rxi, Reta, idx] = RatSurfShapeGradBatch ([xi(:)'; eta(:)'], p(1), p(2), U, V, W);
  X = Px(idx); Y = Py(idx);
  J11 = sum (Rxi .* X, 2); J12 = sum (Reta .* X, 2);         % dx/dxi, dx/deta
  J21 = sum (Rxi .* Y, 2); J22 = sum (Reta .* Y, 2);         % dy/dxi, dy/deta
  detJ = J11 .* J22 - J12 .* J21;
  Rx = (J22 .* Rxi - J21 .* Reta) ./ detJ;                   % J^-T [dR/dxi; dR/deta]
  Ry = (J11 .* Reta - J12 .* Rxi) ./ detJ;
  wq = reshape (dA(:) .* abs (detJ), nq, E);
  fq = reshape (f (sum (R .* X, 2), sum (R .* Y, 2)), nq, E);

  nsh = size (R, 2);
  dofs = idx(1:nq:end, :)';                                  % nsh x E
  R = reshape (R, nq, E, nsh); Rx = reshape (Rx, nq, E, nsh); Ry = reshape (Ry, nq, E, nsh);
  vals = zeros (nsh, nsh, E);
  for a = 1:nsh
    vals(a, :, :) = permute (sum (wq .* (Rx(:, :, a) .* Rx + Ry(:, :, a) .* Ry), 1), [1 3 2]);
  end
  I = repmat (reshape (dofs, nsh, 1, E), 1, nsh, 1);
  J = repmat (reshape (dofs, 1, nsh, E), nsh, 1, 1);
  K = sparse (I(:), J(:), vals(:), N, N);
  Fe = reshape (sum (R .* (fq .* wq), 1), E, nsh)';
  F = accumarray (dofs(:), Fe(:), [N 1]);
  seconds = toc (clock);
end

% L2 and H1-seminorm errors of the solution's control values uh on g, with p + 3 nodes a
% direction.
function [l2, h1] = poisson_errors (g, uh, u, du)
  m = MeshEval (g, 'quadrature', max (g.order) + 2);
  U = reshape (uh(m.connectivity), 1, m.nsh_max, m.nel);
  v = reshape (sum (m.shape_functions .* U, 2), 1, []);
  G = reshape (sum (m.shape_function_gradients .* reshape (U, 1, 1, m.nsh_max, m.nel), 3), 2, []);
  x = m.geo_map(1, :); y = m.geo_map(2, :);
  w = reshape (m.quad_weights .* m.jacdet, 1, []);
  l2 = sqrt (sum (w .* (v - u (x, y)) .^ 2));
  h1 = sqrt (sum (w .* sum ((G - du (x, y)) .^ 2, 1)));
end

% Kirsch's exact stresses [sxx; syy; sxy] around a hole of radius 1 under remote tension 10
% along x.
function s = kirsch (x, y)
  r2 = 1 ./ (x .^ 2 + y .^ 2); th = atan2 (y, x);
  c2 = cos (2 * th); c4 = cos (4 * th); s2 = sin (2 * th); s4 = sin (4 * th);
  s = 10 * [1 - r2 .* (1.5 * c2 + c4) + 1.5 * r2 .^ 2 .* c4;
            -r2 .* (0.5 * c2 - c4) - 1.5 * r2 .^ 2 .* c4;
            -r2 .* (0.5 * s2 + s4) + 1.5 * r2 .^ 2 .* s4];
end

% The energy-norm error of the displacement uh (component by component) from the stresses:
% sqrt of the integral of e : C^-1 e, e = sigma_h - sigma; C^-1 s = (s - lambda tr(s) I /
% (2 (lambda + mu))) / (2 mu) in plane strain. Also relative to the exact energy norm.
function [energy, relative] = energy_error (g, uh, lambda, mu)
  m = MeshEval (g, 'quadrature', max (g.order) + 2);
  n = numel (g.coefs) / 4; P = m.nqn * m.nel;
  G = m.shape_function_gradients;
  grad = zeros (2, 2, P);                                    % grad(i, j) = d u_i / d x_j
  for i = 1:2
    U = reshape (uh((i - 1) * n + m.connectivity), 1, 1, m.nsh_max, m.nel);
    grad(i, :, :) = reshape (sum (G .* U, 3), 1, 2, P);
  end
  ex = reshape (grad(1, 1, :), 1, P); ey = reshape (grad(2, 2, :), 1, P);
  gxy = reshape (grad(1, 2, :) + grad(2, 1, :), 1, P);
  sigma = kirsch (m.geo_map(1, :), m.geo_map(2, :));
  d = [lambda * (ex + ey) + 2 * mu * ex; lambda * (ex + ey) + 2 * mu * ey; mu * gxy] - sigma;
  w = reshape (m.quad_weights .* m.jacdet, 1, P);
  density = @(s) (s(1, :) .^ 2 + s(2, :) .^ 2 + 2 * s(3, :) .^ 2 ...
                  - lambda / (2 * (lambda + mu)) * (s(1, :) + s(2, :)) .^ 2) / (2 * mu);
  energy = sqrt (sum (w .* density (d)));
  relative = energy / sqrt (sum (w .* density (sigma)));
end

function text = rate_text (rate)
  if (isnan (rate))
    text = '-';
  else
    text = sprintf ('%.2f', rate);
  end
end
