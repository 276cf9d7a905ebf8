% GAUSS_LEGENDRE  n-point Gauss-Legendre rule on [a, b] (Golub-Welsch).
function [x, w] = gauss_legendre (n, a, b)
  k = 1:n - 1;
  beta = k ./ sqrt (4 * k.^2 - 1);
  [V, D] = eig (diag (beta, 1) + diag (beta, -1));
  [x, order] = sort (diag (D));
  w = 2 * V(1, order)'.^2;
  x = (a + b) / 2 + (b - a) / 2 * x;
  w = (b - a) / 2 * w;
end
