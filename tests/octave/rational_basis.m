% RATIONAL_BASIS  The rational curve basis and its first two derivatives at xi, built from the
% nurbs package's B-spline values (findspan, basisfunder) and the quotient rule; xi is clamped at
% the last knot the way the plug-ins document it. Also returns the span s (0-based).
function [R, dR, d2R, s] = rational_basis (xi, p, U, w)
  [d, s] = bspline_ders (xi, p, U, 2);
  ww = w(s - p + 1:s + 1);
  W = sum (ww .* d(1,:));
  dW = sum (ww .* d(2,:));
  d2W = sum (ww .* d(3,:));
  R = d(1,:) .* ww / W;
  dR = (d(2,:) * W - d(1,:) * dW) .* ww / W^2;
  d2R = ww .* (d(3,:) / W - 2 * d(2,:) * dW / W^2 - d(1,:) * d2W / W^2 + 2 * d(1,:) * dW^2 / W^3);
end
