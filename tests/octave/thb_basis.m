% THB_BASIS  A hierarchical space's functions in its finest level's tensor basis, in m-code from
% the space's refined cells alone: T(a, j) is function a's coefficient of level L's B-spline j,
% the two-scale relation from the nurbs package's knot insertion (bspkntins), truncation where
% hs.truncated. For a rational space (weights w of level 0), the coefficients of level L's
% rational functions and its weights wL: R_a = sum_j T(a, j) R^L_j. One patch (patch), levels
% 0 .. L = numel (hs.knots{patch}) - 1.
function [T, wL, knots] = thb_basis (hs, patch, w0)
  pkg load nurbs
  % Every level's knots from level 0's: s^l - 1 more in every element, the t-th at a + (b - a)
  % (t / s^l).
  s0 = hs.patches{patch};
  if (~hs.isoparametric(patch)), s0 = hs.spaces{patch}; end
  U0 = s0.knots;
  if (~iscell (U0)), U0 = {U0}; end
  d = numel (U0);
  p = double (s0.order) - 1;
  at = hs.refined(1, :) == patch;
  L = max ([-1, hs.refined(2, at)]) + 1;
  K = cell (1, L + 1);
  for l = 0:L
    S = hs.subdivision ^ l;
    for k = 1:d
      U = U0{k};
      b = unique (U(p(k) + 1:end - p(k)));
      V = U;
      for j = 1:numel (b) - 1
        V = [V, b(j) + (b(j + 1) - b(j)) * ((1:S - 1) / S)];
      end
      K{l + 1}{k} = sort (V);
    end
  end
  n = @(l) cellfun (@(U, q) numel (U) - q - 1, K{l + 1}, num2cell (p));
  nel = @(l) cellfun (@(U) numel (unique (U)) - 1, K{l + 1});
  % Each level's refined cells, and each direction's two-scale matrix from level l to l + 1.
  R = cell (1, L + 1);
  for l = 0:L
    at = hs.refined(1, :) == patch & hs.refined(2, :) == l;
    R{l + 1} = hs.refined(3, at) - 1;
  end
  S = cell (L, d);
  for l = 0:L - 1
    for k = 1:d
      U = K{l + 1}{k}; V = K{l + 2}{k};
      add = setdiff_multi (V, U);
      [~, ~, S{l + 1, k}] = deal ([], [], bspkntins (p(k), eye (n(l)(k)), U, add)');
    end
  end
  % Supports: cells of level l (0-based per direction) of every function.
  [rows, cols] = deal ([]);
  A = active_functions (hs, patch);
  % Each level's functions whose support lies in Omega^m, truncated away.
  drop = cell (1, L + 1);
  for m = 1:L
    drop{m + 1} = in_omega (K{m + 1}, p, m, R{m}, hs.subdivision, nel (m - 1));
  end
  % Every function of one level at once: the columns of C.
  T = zeros (numel (A.level), prod (n(L)));
  for l = 0:L
    at = find (A.level == l);
    if (isempty (at)), continue; end
    C = sparse (A.index(at), 1:numel (at), 1, prod (n(l)), numel (at));
    for m = l + 1:L
      C = kron_apply (S(m, :), C, n(m - 1));
      if (hs.truncated), C(drop{m + 1}, :) = 0; end
    end
    T(at, :) = C';
  end
  wL = [];
  if (nargin > 2 && ~isempty (w0))
    % Rational: W's coefficients at every level; R_a = w_a^l tau_a / W.
    w = {w0(:)};
    for m = 1:L
      w{m + 1} = kron_apply (S(m, :), w{m}, n(m - 1));
    end
    wL = w{L + 1};
    for a = 1:numel (A.level)
      T(a, :) = w{A.level(a) + 1}(A.index(a)) * T(a, :) ./ wL';
    end
  end
  knots = K{L + 1};
end

% The active functions of the patch in hs's order: its levels and tensor indices.
function A = active_functions (hs, patch)
  A.level = hs.local{patch}.level;
  A.index = hs.local{patch}.index;
end

% The knots of V that U lacks, with multiplicity.
function add = setdiff_multi (V, U)
  add = [];
  for x = unique (V)
    add = [add, repmat(x, 1, sum (V == x) - sum (U == x))];
  end
end

% The tensor product of the directions' matrices (first direction fastest) applied to each
% column of C.
function C = kron_apply (S, C, n)
  M = sparse (S{1});
  for k = 2:numel (S)
    M = kron (sparse (S{k}), M);
  end
  C = M * C;
end

% Level m's functions whose support lies in Omega^m: every level-(m-1) parent of their support's
% cells refined, counted in a summed-volume table of the refined parents.
function drop = in_omega (K, p, m, refinedParents, s, parentNel)
  d = numel (K);
  nfun = cellfun (@(U, q) numel (U) - q - 1, K, num2cell (p));
  lo = cell (1, 3); hi = cell (1, 3);
  for k = 1:3
    lo{k} = 0; hi{k} = 0;
    if (k > d), continue; end
    U = K{k};
    spans = find (diff (U) > 0) - 1;             % 0-based spans of the elements
    spans = spans(spans >= p(k) & spans <= nfun(k) - 1);
    i = (0:nfun(k) - 1)';
    % Each function's elements: those whose span lies in [i, i + p].
    first = arrayfun (@(j) find (spans >= j, 1), i);
    last = arrayfun (@(j) find (spans <= j + p(k), 1, 'last'), i);
    lo{k} = floor ((first - 1) / s); hi{k} = floor ((last - 1) / s);
  end
  n = ones (1, 3); n(1:d) = parentNel;
  refined = zeros (n);
  refined(refinedParents + 1) = 1;
  S = zeros (n + 1);
  S(2:end, 2:end, 2:end) = cumsum (cumsum (cumsum (refined, 1), 2), 3);
  [i1, i2, i3] = ndgrid (1:numel (lo{1}), 1:numel (lo{2}), 1:numel (lo{3}));
  a = {lo{1}(i1(:)), lo{2}(i2(:)), lo{3}(i3(:))};
  b = {hi{1}(i1(:)) + 1, hi{2}(i2(:)) + 1, hi{3}(i3(:)) + 1};
  count = zeros (numel (i1), 1);
  for corner = 0:7
    c = cell (1, 3);
    sign = 1;
    for k = 1:3
      if (bitand (corner, 2 ^ (k - 1))), c{k} = a{k}; sign = -sign; else, c{k} = b{k}; end
    end
    count = count + sign * S(sub2ind (n + 1, c{1} + 1, c{2} + 1, c{3} + 1));
  end
  cells = (b{1} - a{1}) .* (b{2} - a{2}) .* (b{3} - a{3});
  drop = count == cells;
end
