% OCTAVE_MULTIPATCH_BENCH  A domain of several patches in Octave: the stiffness matrix and load
% vector over the whole domain in one call each, against the same patches' single-patch calls
% (their summed time: what the domain call may cost at most, plus little) and against the
% assembly a user writes in m-code over the single-patch calls, summing through gnum with
% sparse() (and accumarray for the load).
%
%   octave_multipatch_bench ()          24 x 24 elements a patch, medians of 7 rounds
%   octave_multipatch_bench ('quick')   4 x 4 elements, one round (a test)
%
% The domain: an L-shape of 8 unit squares (a 3 x 3 grid less a corner), every other patch
% reversed or with its directions swapped, under cubic C^2 B-splines of N x N elements each,
% 4 x 4 Gauss points; f = x y. Columns, milliseconds: Multipatch (gluing and numbering, once),
% the domain's calls, the 8 single-patch calls, the m-code assembly over them; and the ratios.
function octave_multipatch_bench (mode)
  if (nargin < 1), mode = 'full'; end
  pkg load nurbs
  quick = strcmp (mode, 'quick');
  N = 24; rounds = 7;
  if (quick), N = 4; rounds = 1; end
  patches = {};
  for j = 0:2
    for i = 0:2
      if (i == 2 && j == 2), continue; end
      g = nrbmak (permute (cat (3, [i i+1; i i+1], [j j; j+1 j+1], zeros (2), ones (2)), ...
                           [3 1 2]), {[0 0 1 1], [0 0 1 1]});
      g = nrbkntins (nrbdegelev (g, [2 2]), {(1:N - 1) / N, (1:N - 1) / N});
      switch (mod (numel (patches), 3))
        case 1
          g.coefs = flip (g.coefs, 2); g.knots{1} = 1 - fliplr (g.knots{1});
        case 2
          g.coefs = permute (g.coefs, [1 3 2]); g.knots = g.knots([2 1]);
          g.order = g.order([2 1]); g.number = g.number([2 1]);
      end
      patches{end + 1} = g;
    end
  end
  f = @(x, y) x .* y;
  times = zeros (rounds, 4);
  for r = 1:rounds
    tic; mp = Multipatch (patches); times(r, 1) = toc;
    tic; K = StiffnessMatrix (mp, 1); F = LoadVector (mp, f); times(r, 2) = toc;
    tic;
    for i = 1:mp.npatch
      Ki = StiffnessMatrix (patches{i}, 1); Fi = LoadVector (patches{i}, f);
    end
    times(r, 3) = toc;
    tic;
    I = cell (1, mp.npatch); J = I; V = I; R = I; W = I;
    for i = 1:mp.npatch
      Ki = StiffnessMatrix (patches{i}, 1); Fi = LoadVector (patches{i}, f);
      [a, b, v] = find (Ki);
      g = mp.gnum{i};
      I{i} = g(a); J{i} = g(b); V{i} = v; R{i} = g; W{i} = Fi;
    end
    Km = sparse (vertcat (I{:}), vertcat (J{:}), vertcat (V{:}), mp.ndof, mp.ndof);
    Fm = accumarray (vertcat (R{:}), vertcat (W{:}), [mp.ndof, 1]);
    times(r, 4) = toc;
  end
  e = max (norm (K - Km, 1) / norm (Km, 1), norm (F - Fm) / norm (Fm));
  t = median (times, 1) * 1e3;
  printf ('L-shape of %d patches, cubic C^2, %d x %d elements a patch: %d unknowns, %d entries\n', ...
          mp.npatch, N, N, mp.ndof, nnz (K));
  printf ('%12s %12s %12s %12s %14s %14s\n', 'Multipatch', 'domain', 'patches', 'm-code', ...
          'domain/patch', 'm-code/domain');
  printf ('%12.2f %12.2f %12.2f %12.2f %14.2f %14.2f\n', t(1), t(2), t(3), t(4), t(2) / t(3), ...
          t(4) / t(2));
  printf ('domain against the m-code assembly: %.2g relative\n', e);
end
