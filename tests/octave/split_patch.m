% SPLIT_PATCH  The patch split at parameter u of direction d into two patches that share the
% cut: the knot inserted to multiplicity p (C0 there), each half taking its knots and control
% points, rescaled to [0, 1].
function [a, b] = split_patch (g, d, u)
  p = g.order(d) - 1;
  have = sum (g.knots{d} == u);
  g = nrbkntins (g, [repmat({[]}, 1, d - 1), {repmat(u, 1, p - have)}, ...
                     repmat({[]}, 1, numel (g.order) - d)]);
  U = g.knots{d};
  left = numel (U(U < u));                        % functions left of the cut, incl. the shared
  idx = repmat ({':'}, 1, ndims (g.coefs));
  a = g; b = g;
  idx{d + 1} = 1:left;
  a.coefs = g.coefs(idx{:});
  a.knots{d} = ([U(U < u), repmat(u, 1, p + 1)] - U(1)) / (u - U(1));
  idx{d + 1} = left:size (g.coefs, d + 1);
  b.coefs = g.coefs(idx{:});
  b.knots{d} = ([repmat(u, 1, p + 1), U(U > u)] - u) / (U(end) - u);
  a.number = size (a.coefs)(2:end); b.number = size (b.coefs)(2:end);
end
