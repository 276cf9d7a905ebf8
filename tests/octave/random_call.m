% RANDOM_CALL  A random valid call of a plug-in of the registry (an entry of plugin_registry) at P
% points, case t: degrees 0..5 and now and then a high one, clamped knots with a repeated one,
% weights, and points now and then at the ends, on the end clamp's edges, on a knot, outside or NaN.
%   c = random_call (e, P, t)   c.args: the twin's inputs; c.x, c.s: the points and spans
%   args = random_call (e, c, j)   the one-point plug-in's inputs at point j of c
function c = random_call (e, P, t)
  if (isstruct (P))
    c = one_point (e, P, t);
    return;
  end
  tol = 2.220446049250313e-14;
  d = e.dirs;
  high = [18 9 6];
  c.p = zeros (1, d); c.n = zeros (1, d); c.U = cell (1, d);
  for k = 1:d
    c.p(k) = mod (t + 2 * k, 6);
    if (mod (t + k, 7) == 6), c.p(k) = high(d); end
    c.n(k) = max (c.p(k) + 1, 3) + floor (rand * 5);
    c.U{k} = random_curve (c.p(k), c.n(k));
  end
  c.x = rand (d, P);
  c.s = zeros (d, P);
  for k = 1:d
    U = c.U{k};
    special = [U(1), U(end), U(end) - tol / 2, U(end) - tol, U(end) + tol / 2, ...
               U(floor (end / 2)), -0.1, 1.1, NaN];
    pick = rand (1, P) < 0.4;
    c.x(k, pick) = special(randi (numel (special), 1, nnz (pick)));
    c.s(k, :) = c.p(k) + floor (rand (1, P) * (c.n(k) - c.p(k)));
  end
  c.w = 0.2 + rand ([c.n, 1]);
  c.values = rand ([c.n, 1]);
  c.index = randi (c.n(1));
  c.args = cell (1, numel (e.kinds));
  for a = 1:numel (e.kinds)
    switch (e.kinds(a))
      case 'x', c.args{a} = c.x;
      case 'p', c.args{a} = c.p(sum (e.kinds(1:a) == 'p'));
      case 'k', c.args{a} = c.U{sum (e.kinds(1:a) == 'k')};
      case 'w'
        if (strcmp (e.inputs{a}, 'points')), c.args{a} = c.values; else, c.args{a} = c.w; end
      case 's', c.args{a} = c.s;
      case 'i', c.args{a} = c.index;
    end
  end
end

function args = one_point (e, c, j)
  args = c.args;
  args{e.kinds == 'x'} = c.x(:, j)';
  if (any (e.kinds == 's')), args{e.kinds == 's'} = c.s(:, j)'; end
end
