% MESH_EXAMPLE  A whole mesh's quadrature data in one call (MeshEval), printed as short tables:
%   - the area of the quarter annulus of radii 1 and 2 and the volume of its extrusion to height
%     1, from the quadrature weights and Jacobian determinants of the exact rational geometry;
%   - the L2 projection of u = sin(x) exp(y) onto cubic C^2 B-splines of N x N elements on the
%     annulus: mass matrix and load vector summed in m-code from MeshEval's fields, the error
%     falling like h^4.
% Returns the figures in a struct so that a test can check them.
function results = mesh_example ()
  g = annulus ();
  msh = MeshEval (g, 'quadrature', 16);   % the Jacobian is rational: more nodes than a polynomial needs
  area = sum (msh.quad_weights(:) .* msh.jacdet(:));
  ring = extrude (g);
  vol = MeshEval (ring, 'quadrature', [16 16 2], 'gradient', false);
  volume = sum (vol.quad_weights(:) .* vol.jacdet(:));
  exact = 3 * pi / 4;
  printf ('%-28s %20s %20s %10s\n', 'from MeshEval', 'computed', 'exact', 'error');
  printf ('%-28s %20.15f %20.15f %10.2e\n', 'quarter annulus area', area, exact, abs (area - exact));
  printf ('%-28s %20.15f %20.15f %10.2e\n', 'thick ring volume', volume, exact, ...
          abs (volume - exact));
  results.area_error = abs (area - exact);
  results.volume_error = abs (volume - exact);

  printf ('\nL2 projection of sin(x) exp(y) on the annulus, cubic C^2 B-splines\n');
  printf ('%10s %8s %12s %6s %12s\n', 'elements', 'unknowns', 'L2 error', 'rate', 'MeshEval ms');
  u = @(x, y) sin (x) .* exp (y);
  results.projection = struct ('N', {}, 'error', {}, 'rate', {});
  previous = NaN;
  for N = [4 8 16 32]
    k = linspace (0, 1, N + 1);
    space.knots = {[0 0 0 k 1 1 1], [0 0 0 k 1 1 1]};
    space.order = [4 4];
    tic;
    m = MeshEval (g, 'space', space, 'gradient', false);
    took = toc;
    [M, F] = mass_and_load (m, u);
    c = M \ F;
    e = l2_error (m, c, u);
    rate = log2 (previous / e);
    text = '-';
    if (~isnan (rate)), text = sprintf ('%.2f', rate); end
    printf ('%10s %8d %12.3e %6s %12.2f\n', sprintf ('%dx%d', N, N), m.ndof, e, text, 1e3 * took);
    results.projection(end + 1) = struct ('N', N, 'error', e, 'rate', rate);
    previous = e;
  end
end

% The quarter annulus: degree 2 around, 1 across; control points (a, b), a around, b across.
function g = annulus ()
  s = 1 / sqrt (2);
  w = [1 s 1; 1 s 1]';
  x = [1 1 0; 2 2 0]';
  y = [0 1 1; 0 2 2]';
  g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
  g.knots = {[0 0 0 1 1 1], [0 0 1 1]};
  g.order = [3 2];
end

% The annulus extruded to height 1: degree 1 along z.
function v = extrude (g)
  bottom = g.coefs;
  top = g.coefs;
  top(3, :, :) = g.coefs(4, :, :);   % w z with z = 1
  v.coefs = cat (4, bottom, top);
  v.knots = [g.knots, {[0 0 1 1]}];
  v.order = [g.order, 2];
end

% M(i, j) = int R_i R_j and F(i) = int u R_i, summed element by element from MeshEval's fields.
function [M, F] = mass_and_load (m, u)
  nsh = m.nsh_max;
  dx = m.quad_weights .* m.jacdet;                                   % nqn x nel
  R = m.shape_functions;                                             % nqn x nsh x nel
  x = reshape (m.geo_map(1, :, :), m.nqn, m.nel);
  y = reshape (m.geo_map(2, :, :), m.nqn, m.nel);
  Rw = R .* reshape (dx, m.nqn, 1, m.nel);
  Me = zeros (nsh, nsh, m.nel);
  for e = 1:m.nel
    Me(:, :, e) = Rw(:, :, e)' * R(:, :, e);
  end
  I = repmat (reshape (m.connectivity, nsh, 1, m.nel), 1, nsh, 1);
  J = repmat (reshape (m.connectivity, 1, nsh, m.nel), nsh, 1, 1);
  M = sparse (I(:), J(:), Me(:), m.ndof, m.ndof);
  Fe = squeeze (sum (Rw .* reshape (u (x, y), m.nqn, 1, m.nel), 1));  % nsh x nel
  F = accumarray (m.connectivity(:), Fe(:), [m.ndof, 1]);
end

function e = l2_error (m, c, u)
  uh = squeeze (sum (m.shape_functions .* reshape (c(m.connectivity), 1, m.nsh_max, m.nel), 2));
  x = reshape (m.geo_map(1, :, :), m.nqn, m.nel);
  y = reshape (m.geo_map(2, :, :), m.nqn, m.nel);
  e = sqrt (sum (sum ((uh - u (x, y)) .^ 2 .* m.quad_weights .* m.jacdet)));
end
