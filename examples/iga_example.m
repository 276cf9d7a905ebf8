% IGA_EXAMPLE  An isogeometric computation with the plug-ins, printed as a short table:
%   - the area of a quarter annulus (radii 1 and 2), exact rational geometry, by Gauss
%     quadrature of the Jacobian of the geometry map (RatSurfShapeGrad);
%   - the volume of that annulus extruded to height 1 (RatVolShapeGrad);
%   - -Laplace(u) = f on the unit square with u = sin(pi x) sin(pi y), u = 0 on the boundary,
%     solved with B-splines of degrees 2 and 3 on uniform meshes: stiffness and load assembled
%     element by element with RatSurfShapeGradAtSpan (the element gives the spans), the L2 error
%     measured with PolySurfShapeGrad; it falls like h^(p+1).
% Returns the figures in a struct so that a test can check them.
function results = iga_example ()
  % Quarter annulus: degree 2 around (xi), degree 1 across (eta), one element.
  U = [0 0 0 1 1 1]; V = [0 0 1 1];
  s = 1 / sqrt (2);
  Px = [1 1 0; 2 2 0]'; Py = [0 1 1; 0 2 2]';  % control points (a, b), a around, b across
  W = [1 s 1; 1 s 1]';
  [g, gw] = gauss_legendre (16, 0, 1);  % the Jacobian is rational: more points than a polynomial needs
  area = 0;
  for i = 1:numel (g)
    for j = 1:numel (g)
      [R, dRdxi, dRdeta] = RatSurfShapeGrad ([g(i) g(j)], 2, 1, U, V, W);
      J = [dRdxi * Px(:), dRdeta * Px(:); dRdxi * Py(:), dRdeta * Py(:)];
      area += abs (det (J)) * gw(i) * gw(j);
    end
  end

  % Extruded to height 1: degree 1 along zeta.
  T = [0 0 1 1];
  Px3 = cat (3, Px, Px); Py3 = cat (3, Py, Py); Pz3 = cat (3, zeros (3, 2), ones (3, 2));
  W3 = cat (3, W, W);
  volume = 0;
  for i = 1:numel (g)
    for j = 1:numel (g)
      for k = 1:numel (g)
        [~, dx, dy, dz] = RatVolShapeGrad ([g(i) g(j) g(k)], 2, 1, 1, U, V, T, W3);
        J = [dx * Px3(:), dy * Px3(:), dz * Px3(:); dx * Py3(:), dy * Py3(:), dz * Py3(:); ...
             dx * Pz3(:), dy * Pz3(:), dz * Pz3(:)];
        volume += abs (det (J)) * gw(i) * gw(j) * gw(k);
      end
    end
  end

  exact = 3 * pi / 4;
  printf ('%-28s %20s %20s %10s\n', 'quantity', 'computed', 'exact', 'error');
  printf ('%-28s %20.15f %20.15f %10.2e\n', 'quarter annulus area', area, exact, abs (area - exact));
  printf ('%-28s %20.15f %20.15f %10.2e\n', 'annulus extruded, volume', volume, exact, ...
          abs (volume - exact));
  results.area_error = abs (area - exact);
  results.volume_error = abs (volume - exact);

  printf ('\nPoisson on the unit square, u = sin(pi x) sin(pi y)\n');
  printf ('%7s %10s %8s %12s %6s\n', 'degree', 'elements', 'unknowns', 'L2 error', 'rate');
  results.poisson = struct ('p', {}, 'elements', {}, 'error', {}, 'rate', {});
  for p = [2 3]
    previous = NaN;
    for ne = [2 4 8 16]
      [err, dofs] = poisson (p, ne);
      rate = log2 (previous / err);
      if (isnan (rate))
        printf ('%7d %10s %8d %12.3e %6s\n', p, sprintf ('%dx%d', ne, ne), dofs, err, '-');
      else
        printf ('%7d %10s %8d %12.3e %6.2f\n', p, sprintf ('%dx%d', ne, ne), dofs, err, rate);
      end
      results.poisson(end + 1) = struct ('p', p, 'elements', ne, 'error', err, 'rate', rate);
      previous = err;
    end
  end
end

% -Laplace(u) = 2 pi^2 sin(pi x) sin(pi y) on [0, 1]^2 with u = 0 on the boundary, by B-splines
% of degree p on ne x ne uniform elements; returns the L2 error and the number of unknowns.
function [l2, dofs] = poisson (p, ne)
  knot = [zeros(1, p), linspace(0, 1, ne + 1), ones(1, p)];
  n = numel (knot) - p - 1;       % functions per direction
  w = ones (n, n);                % a B-spline surface: unit weights
  nen = (p + 1)^2;
  [g, gw] = gauss_legendre (p + 1, 0, 1);
  f = @(x, y) 2 * pi^2 * sin (pi * x) .* sin (pi * y);
  rows = zeros (nen^2 * ne^2, 1); cols = rows; vals = rows;
  F = zeros (n * n, 1);
  next = 0;
  for ey = 1:ne
    for ex = 1:ne
      spans = [ex - 1 + p, ey - 1 + p];  % 0-based knot spans of this element
      a = knot(spans(1) + 1); b = knot(spans(1) + 2);
      c = knot(spans(2) + 1); d = knot(spans(2) + 2);
      [ka, kb] = ndgrid (0:p, 0:p);
      dof = (spans(1) - p + ka(:)) + (spans(2) - p + kb(:)) * n + 1;  % xi fastest, as the outputs
      Ke = zeros (nen); Fe = zeros (nen, 1);
      for i = 1:p + 1
        for j = 1:p + 1
          x = a + (b - a) * g(i); y = c + (d - c) * g(j);
          [R, Rx, Ry] = RatSurfShapeGradAtSpan ([x y], p, p, knot, knot, w, spans);
          dA = (b - a) * (d - c) * gw(i) * gw(j);
          Ke += (Rx' * Rx + Ry' * Ry) * dA;
          Fe += R' * f (x, y) * dA;
        end
      end
      [I, J] = ndgrid (dof, dof);
      rows(next + 1:next + nen^2) = I(:); cols(next + 1:next + nen^2) = J(:);
      vals(next + 1:next + nen^2) = Ke(:);
      next += nen^2;
      F(dof) += Fe;
    end
  end
  K = sparse (rows, cols, vals, n * n, n * n);
  [ia, ib] = ndgrid (1:n, 1:n);
  inner = find (ia > 1 & ia < n & ib > 1 & ib < n);  % the boundary control values are 0
  u = zeros (n * n, 1);
  u(inner) = K(inner, inner) \ F(inner);
  dofs = numel (inner);

  [g, gw] = gauss_legendre (p + 2, 0, 1);
  l2 = 0;
  for ey = 1:ne
    for ex = 1:ne
      a = (ex - 1) / ne; c = (ey - 1) / ne; h = 1 / ne;
      for i = 1:numel (g)
        for j = 1:numel (g)
          x = a + h * g(i); y = c + h * g(j);
          R = PolySurfShapeGrad ([x y], p, p, knot, knot);
          [ka, kb] = ndgrid (0:p, 0:p);
          dof = (ex - 1 + ka(:)) + (ey - 1 + kb(:)) * n + 1;
          uh = R * u(dof);
          l2 += (uh - sin (pi * x) * sin (pi * y))^2 * h^2 * gw(i) * gw(j);
        end
      end
    end
  end
  l2 = sqrt (l2);
end
