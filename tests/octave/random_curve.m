% RANDOM_CURVE  A clamped knot vector on [0, 1] of degree p with n basis functions (interior
% knots random, some repeated) and n random positive weights.
function [U, w] = random_curve (p, n)
  inner = sort (rand (1, n - p - 1));
  if (numel (inner) > 3 && p > 1)
    inner(3) = inner(2);  % a double knot
  end
  U = [zeros(1, p + 1), inner, ones(1, p + 1)];
  w = 0.2 + rand (1, n);
end
