% RATIONAL_TENSOR  Reference rational basis of a surface or volume from the nurbs package's
% B-spline derivatives: rows of R and first derivatives (one per direction) in the plug-ins'
% order (xi fastest), and the second derivatives (three for surfaces, six for volumes).
function [R, dR, d2R] = rational_tensor (c)
  dirs = numel (c.p);
  D = cell (1, dirs); s = zeros (1, dirs);
  for d = 1:dirs
    [D{d}, s(d)] = bspline_ders (c.x(d), c.p(d), c.U{d}, 2);
  end
  % Products over the directions for derivative orders a(d): xi fastest.
  prod_of = @(a) tensor_row (D, a);
  idx = arrayfun (@(d) (s(d) - c.p(d) + 1):(s(d) + 1), 1:dirs, 'UniformOutput', false);
  w = c.w(idx{:});
  w = w(:)';
  B = prod_of (zeros (1, dirs));
  W = sum (w .* B);
  R = w .* B / W;
  dR = cell (1, dirs);
  dW = zeros (1, dirs);
  for d = 1:dirs
    a = zeros (1, dirs); a(d) = 1;
    Bd = prod_of (a);
    dW(d) = sum (w .* Bd);
    dR{d} = w .* (Bd * W - B * dW(d)) / W^2;
  end
  % Second derivatives in the plug-ins' order: xixi, etaeta, (zetazeta,) xieta, (etazeta, xizeta).
  % d2(N w / W) = w (B_ab/W - B_a W_b/W^2 - B_b W_a/W^2 - B W_ab/W^2 + 2 B W_a W_b/W^3), with a
  % and b the two single derivatives that make up the pair.
  d2R = {};
  if (dirs == 2)
    pairs = [1 1; 2 2; 1 2];
  elseif (dirs == 3)
    pairs = [1 1; 2 2; 3 3; 1 2; 2 3; 1 3];
  else
    pairs = zeros (0, 2);
  end
  for k = 1:rows (pairs)
    da = zeros (1, dirs); da(pairs(k, 1)) = 1;
    db = zeros (1, dirs); db(pairs(k, 2)) = 1;
    Bab = prod_of (da + db);
    Wab = sum (w .* Bab);
    Ba = prod_of (da); Bb = prod_of (db);
    Wa = sum (w .* Ba); Wb = sum (w .* Bb);
    d2R{k} = w .* (Bab / W - Ba * Wb / W^2 - Bb * Wa / W^2 - B * Wab / W^2 + 2 * B * Wa * Wb / W^3);
  end
end

function row = tensor_row (D, a)
  row = D{1}(a(1) + 1, :);
  for d = 2:numel (D)
    row = kron (D{d}(a(d) + 1, :), row);
  end
end
