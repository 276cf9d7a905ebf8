% OCTAVE_SUMFACT_BENCH  Every form at the speed of one patch, in Octave: a domain of two patches
% against the two patches' own calls, the load vector and the Dirichlet values against the
% stiffness matrix, the stiffness in parts against one call, on the thick ring; the 2-D annulus
% against the element path and its output's floor.
%
%   octave_sumfact_bench ()                 p = 2, 4, 6 (N = 10, 8, 6), best of 5 calls each
%   octave_sumfact_bench ('quick')          p = 2, N = 2, one call each (a test)
%   octave_sumfact_bench ('count')          one call each under callgrind (started by
%                                           tools/bench.sh): each call's instructions inside the
%                                           native gateway, dumped as its label
%   octave_sumfact_bench (mode, p)          only these degrees of the ring (5: the annulus)
%
% The thick ring: the quarter annulus of radii 1 and 2 extruded to height 1, its own NURBS basis
% raised to degree p in every direction and refined to N uniform elements a direction (an
% isoparametric NURBS space), p + 1 Gauss points a direction; the two-patch domain: the ring cut
% at radius 1.5 (C0 there, glued by Multipatch), each half N / 2 elements radially. Coefficients:
% 1 (lambda = mu = 1), the load f = 1 or the handle f(x, y, z) = 1 + x^2, Dirichlet data f on all
% six faces; the parts: SplitElements (ring, 8), called one after another. The annulus: the
% quarter annulus under degree 5, 64 x 64 elements.
%
% Printed, milliseconds (best of five calls, one where a call takes more than 2 s; threads as
% they come, or as NURBS_NUM_THREADS caps them) and the ratios the targets read:
%   domain/patches  the domain's call over the sum of its two patches' own calls
%   F/K, Fh/K       LoadVector (ring, 1), LoadVector (ring, f) over StiffnessMatrix (ring, 1)
%   D/K             DirichletValues (ring, 1:6, f) over StiffnessMatrix (ring, 1)
%   parts/K         the 8 parts' calls over one StiffnessMatrix (ring, 1)
% and for the annulus the element path (NURBS_FORMS_METHOD=elements), the sum factorisation, and
% the floor (TrivialMex making a sparse matrix of the result's size and entries).
% Runs against any build of the plug-ins on the path (tools/bench.sh runs it on 82b76b2's too).
function octave_sumfact_bench (mode, degrees)
  if (nargin < 1 || isempty (mode)), mode = 'full'; end
  counting = strcmp (mode, 'count');
  quick = strcmp (mode, 'quick');
  cases = [2 10; 4 8; 6 6];
  if (quick), cases = [2 2]; end
  if (nargin >= 2), cases = cases(ismember (cases(:, 1), degrees), :); end
  rounds = 5 - 4 * (quick || counting);
  pkg load nurbs
  measure = @(label, f) take (label, f, rounds, counting);
  printf ('%s\n', version_line ());
  for c = 1:rows (cases)
    p = cases(c, 1); n = cases(c, 2);
    g = ring (p, n);
    [a, b] = split_patch (g, 2, 0.5);
    mp = Multipatch ({a, b});
    f = @(x, y, z) 1 + x .^ 2;
    tag = sprintf ('p%d', p);
    t.K = measure ([tag ' K'], @() StiffnessMatrix (g, 1));
    t.M = measure ([tag ' M'], @() MassMatrix (g, 1));
    t.E = measure ([tag ' E'], @() ElasticityMatrix (g, 1, 1));
    forms = {'K', @(geo) StiffnessMatrix (geo, 1); 'M', @(geo) MassMatrix (geo, 1); ...
             'E', @(geo) ElasticityMatrix (geo, 1, 1)};
    for k = 1:rows (forms)
      name = forms{k, 1}; form = forms{k, 2};
      t.(['d' name]) = measure ([tag ' domain ' name], @() form (mp));
      t.(['a' name]) = measure ([tag ' half1 ' name], @() form (a));
      t.(['b' name]) = measure ([tag ' half2 ' name], @() form (b));
    end
    t.F = measure ([tag ' F'], @() LoadVector (g, 1));
    t.Fh = measure ([tag ' Fh'], @() LoadVector (g, f));
    t.D = measure ([tag ' D'], @() DirichletValues (g, 1:6, f));
    parts = SplitElements (g, 8);
    t.P = measure ([tag ' parts'], @() cellfun (@(o) StiffnessMatrix (g, 1, o{:}), parts, ...
                                                'UniformOutput', false));
    if (counting), continue; end
    printf (['p=%d N=%d  K %.1f M %.1f E %.1f ms | domain/patches K %.2f M %.2f E %.2f | ' ...
             'F/K %.2f Fh/K %.2f | D/K %.2f | parts/K %.2f\n'], p, n, 1e3 * t.K, 1e3 * t.M, ...
            1e3 * t.E, t.dK / (t.aK + t.bK), t.dM / (t.aM + t.bM), t.dE / (t.aE + t.bE), ...
            t.F / t.K, t.Fh / t.K, t.D / t.K, t.P / t.K);
    printf (['      ms: domain K %.1f M %.1f E %.1f; halves K %.1f + %.1f, M %.1f + %.1f, ' ...
             'E %.1f + %.1f; F %.1f Fh %.1f D %.1f parts %.1f\n'], 1e3 * [t.dK t.dM t.dE ...
             t.aK t.bK t.aM t.bM t.aE t.bE t.F t.Fh t.D t.P]);
    % The agreement of the domain with its patches' sum and of the parts with the whole.
    if (quick || p == cases(end, 1))
      K = StiffnessMatrix (mp, 1);
      Ka = StiffnessMatrix (a, 1); Kb = StiffnessMatrix (b, 1);
      [i, j, v] = find (Ka); [k, l, w] = find (Kb);
      S = sparse ([mp.gnum{1}(i); mp.gnum{2}(k)], [mp.gnum{1}(j); mp.gnum{2}(l)], [v; w], ...
                  mp.ndof, mp.ndof);
      Kp = 0;
      for k = 1:numel (parts), Kp = Kp + StiffnessMatrix (g, 1, parts{k}{:}); end
      Kg = StiffnessMatrix (g, 1);
      printf ('      domain - sum of halves %.1e, parts - whole %.1e (relative, Frobenius)\n', ...
              norm (K - S, 'fro') / norm (S, 'fro'), norm (Kp - Kg, 'fro') / norm (Kg, 'fro'));
    end
  end
  % The annulus at degree 5: the element path, the sum factorisation, the output's floor.
  if (nargin >= 2 && ~any (degrees == 5)), return; end
  if (quick), N = 4; else, N = 64; end
  annulus = ring (5, N, 2);
  forms = {'stiffness', @() StiffnessMatrix (annulus, 1); 'mass', @() MassMatrix (annulus, 1); ...
           'elasticity', @() ElasticityMatrix (annulus, 1, 1)};
  for k = 1:rows (forms)
    setenv ('NURBS_FORMS_METHOD', 'elements');
    te = measure (['annulus elements ' forms{k, 1}], forms{k, 2});
    setenv ('NURBS_FORMS_METHOD', '');
    ts = measure (['annulus ' forms{k, 1}], forms{k, 2});
    if (counting), continue; end
    A = forms{k, 2} ();
    floor = Inf;
    if (~isempty (which ('TrivialMex')))
      [r, s] = size (A); z = nnz (A);
      floor = take ('', @() TrivialMex ('sparse', [r s z]), rounds, false);
    end
    printf ('annulus p=5 N=%d %-10s elements %.1f ms, sum factorisation %.1f ms (%.2fx), floor %.1f ms (%.1fx)\n', ...
            N, forms{k, 1}, 1e3 * te, 1e3 * ts, te / ts, 1e3 * floor, ts / floor);
  end
end

% The best of `rounds` calls, or (counting) one call's instructions dumped as `label`.
function t = take (label, f, rounds, counting)
  if (counting)
    system (sprintf ('callgrind_control -z %d > /dev/null', getpid ()));
    f ();
    system (sprintf ('callgrind_control -d "%s" %d > /dev/null', label, getpid ()));
    t = 0;
    return;
  end
  t = Inf;
  for k = 1:rounds
    tic; f (); t = min (t, toc);
    if (t > 2), break; end   % a call of seconds (the element path's): once
  end
end

function s = version_line ()
  threads = getenv ('NURBS_NUM_THREADS');
  if (isempty (threads)), threads = 'as they come'; end
  s = sprintf ('plug-ins: %s; threads: %s', fileparts (which ('StiffnessMatrix')), threads);
end

% The thick ring (d = 3) or the quarter annulus (d = 2) under its own NURBS basis raised to degree
% p, N uniform elements a direction.
function g = ring (p, N, d)
  if (nargin < 3), d = 3; end
  s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
  g = nrbmak (permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]), ...
              {[0 0 0 1 1 1], [0 0 1 1]});
  if (d == 3), g = nrbextrude (g, [0 0 1]); end
  g = nrbdegelev (g, max (p - (g.order - 1), 0));
  g = nrbkntins (g, repmat ({(1:N - 1) / N}, 1, d));
end
