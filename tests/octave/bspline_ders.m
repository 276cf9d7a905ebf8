% BSPLINE_DERS  The p + 1 B-spline functions of one direction that do not vanish at x, with
% derivatives up to order nd (row k + 1 holds the k-th), from the nurbs package; x is clamped at
% the last knot the way the plug-ins document it. s is the 0-based span.
function [D, s] = bspline_ders (x, p, U, nd)
  tol = 2.220446049250313e-14;
  if (abs (x - U(end)) < tol), x = U(end) - tol; end
  s = findspan (numel (U) - p - 2, p, x, U);
  D = reshape (basisfunder (s, p, x, U, nd), nd + 1, p + 1);
end
