% IGA_EXAMPLE  An isogeometric computation with the plug-ins, printed as a short table:
%   - the area of a quarter annulus (radii 1 and 2), exact rational geometry, by Gauss
%     quadrature of the Jacobian of the geometry map (RatSurfShapeGrad);
%   - the volume of that annulus extruded to height 1 (RatVolShapeGrad);
%   - -Laplace(u) = f on the unit square with u = sin(pi x) sin(pi y), u = 0 on the boundary,
%     solved with B-splines of degrees 2 and 3 on uniform meshes. Stiffness and load are
%     assembled twice: with RatSurfShapeGradAtSpan called once per quadrature point (the element
%     gives the spans), and with its batch twin called once for the whole mesh, whose idx output
%     gives each element's unknowns; both must give the same matrix bit for bit. The L2 error is
%     measured with PolySurfShapeGradBatch; it falls like h^(p+1).
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

  printf ('\nPoisson on the unit square, u = sin(pi x) sin(pi y); assembly times in ms\n');
  printf ('%7s %10s %8s %12s %6s %11s %10s %6s\n', 'degree', 'elements', 'unknowns', 'L2 error', ...
          'rate', 'per point', 'batch', 'same');
  results.poisson = struct ('p', {}, 'elements', {}, 'error', {}, 'rate', {}, 'same', {}, ...
                            'points_ms', {}, 'batch_ms', {});
  for p = [2 3]
    previous = NaN;
    for ne = [2 4 8 16]
      [err, dofs, a] = poisson (p, ne);
      rate = log2 (previous / err);
      rate_text = '-';
      if (! isnan (rate)), rate_text = sprintf ('%.2f', rate); end
      printf ('%7d %10s %8d %12.3e %6s %11.1f %10.1f %6s\n', p, sprintf ('%dx%d', ne, ne), dofs, ...
              err, rate_text, 1e3 * a.points, 1e3 * a.batch, {'no', 'yes'}{a.same + 1});
      results.poisson(end + 1) = struct ('p', p, 'elements', ne, 'error', err, 'rate', rate, ...
                                         'same', a.same, 'points_ms', 1e3 * a.points, ...
                                         'batch_ms', 1e3 * a.batch);
      previous = err;
    end
  end
end

% The Gauss points of every element of an ne x ne uniform mesh, element by element (element e's
% nq points are columns (e - 1) nq + (1:nq)), their 0-based knot spans and quadrature weights.
function [X, S, dA] = quadrature (p, ne, g, gw)
  h = 1 / ne;
  [gi, gj] = ndgrid (1:numel (g), 1:numel (g));   % an element's points, x fastest
  [ex, ey] = ndgrid (0:ne - 1, 0:ne - 1);          % the elements, x fastest
  nq = numel (gi);
  px = (ex(:)' + g(gi(:))) * h;                    % point q of element e at (q, e)
  py = (ey(:)' + g(gj(:))) * h;
  X = [px(:)'; py(:)'];
  S = p + [repmat(ex(:)', nq, 1)(:)'; repmat(ey(:)', nq, 1)(:)'];
  dA = h^2 * repmat ((gw(gi(:)) .* gw(gj(:)))', 1, numel (ex));
end

% Stiffness and load from the rows of R, dR/dx and dR/dy at every quadrature point (element e's
% nq points are rows (e - 1) nq + (1:nq)) and each element's unknowns (column e of dofs), for
% all elements at once: the same arithmetic whichever plug-in made the rows.
function [K, F] = assemble (R, Rx, Ry, dofs, dA, f, nq, n)
  [nen, E] = size (dofs);
  R = reshape (R, nq, E, nen); Rx = reshape (Rx, nq, E, nen); Ry = reshape (Ry, nq, E, nen);
  dA = reshape (dA, nq, E);
  vals = zeros (nen, nen, E);
  for a = 1:nen
    vals(a, :, :) = permute (sum (dA .* (Rx(:, :, a) .* Rx + Ry(:, :, a) .* Ry), 1), [1 3 2]);
  end
  I = repmat (reshape (dofs, nen, 1, E), 1, nen, 1);
  J = repmat (reshape (dofs, 1, nen, E), nen, 1, 1);
  K = sparse (I(:), J(:), vals(:), n * n, n * n);
  Fe = squeeze (sum (R .* (reshape (f, nq, E) .* dA), 1))';   % nen x E
  F = accumarray (dofs(:), Fe(:), [n * n, 1]);
end

% -Laplace(u) = 2 pi^2 sin(pi x) sin(pi y) on [0, 1]^2 with u = 0 on the boundary, by B-splines
% of degree p on ne x ne uniform elements; returns the L2 error, the number of unknowns and the
% two assemblies' times (s) and whether they agree bit for bit.
function [l2, dofs, a] = poisson (p, ne)
  knot = [zeros(1, p), linspace(0, 1, ne + 1), ones(1, p)];
  n = numel (knot) - p - 1;       % functions per direction
  w = ones (n, n);                % a B-spline surface: unit weights
  nen = (p + 1)^2;
  [g, gw] = gauss_legendre (p + 1, 0, 1);
  nq = numel (g)^2;
  [X, S, dA] = quadrature (p, ne, g, gw);
  f = 2 * pi^2 * sin (pi * X(1, :)) .* sin (pi * X(2, :));
  P = columns (X);

  % Once per quadrature point, the rows stacked as user code stacks them; each element's
  % unknowns from its spans, xi fastest as the outputs.
  tic;
  R = zeros (P, nen); Rx = R; Ry = R;
  for k = 1:P
    [R(k, :), Rx(k, :), Ry(k, :)] = RatSurfShapeGradAtSpan (X(:, k), p, p, knot, knot, w, ...
                                                            S(:, k));
  end
  [ka, kb] = ndgrid (0:p, 0:p);
  first = S(:, 1:nq:end);
  dofs_of = (first(1, :) - p + ka(:)) + (first(2, :) - p + kb(:)) * n + 1;
  [K1, F1] = assemble (R, Rx, Ry, dofs_of, dA, f, nq, n);
  a.points = toc;

  % One call for the whole mesh; idx gives each row's unknowns.
  tic;
  [R, Rx, Ry, idx] = RatSurfShapeGradAtSpanBatch (X, p, p, knot, knot, w, S);
  [K2, F2] = assemble (R, Rx, Ry, idx(1:nq:end, :)', dA, f, nq, n);
  a.batch = toc;
  a.same = isequal (K1, K2) && isequal (F1, F2);

  [ia, ib] = ndgrid (1:n, 1:n);
  inner = find (ia > 1 & ia < n & ib > 1 & ib < n);  % the boundary control values are 0
  u = zeros (n * n, 1);
  u(inner) = K2(inner, inner) \ F2(inner);
  dofs = numel (inner);

  % The L2 error on p + 2 points a direction, every element at once.
  [g, gw] = gauss_legendre (p + 2, 0, 1);
  [X, ~, dA] = quadrature (p, ne, g, gw);
  [R, ~, ~, idx] = PolySurfShapeGradBatch (X, p, p, knot, knot);
  uh = sum (R .* u(idx), 2)';
  l2 = sqrt (sum ((uh - sin (pi * X(1, :)) .* sin (pi * X(2, :))).^2 .* dA));
end

function K = stiffness (vals, dofs_of, n)
  nen = rows (dofs_of);
  I = repmat (dofs_of, nen, 1);
  J = kron (dofs_of, ones (nen, 1));
  K = sparse (I(:), J(:), vals(:), n * n, n * n);
end
