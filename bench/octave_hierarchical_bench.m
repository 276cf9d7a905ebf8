% OCTAVE_HIERARCHICAL_BENCH  Hierarchical spaces in Octave, ratios within one run:
%   1. refinement against assembly: a 2-D space of five levels (the unit square, cubic, N x N
%      elements at level 0, nested squares refined at each level towards a corner) of some 10^5
%      unknowns; RefineElements of 10% of its elements at random against StiffnessMatrix on it;
%   2. assembly against a tensor space with as many elements: StiffnessMatrix on that space
%      against a cubic tensor patch of about as many elements, element by element
%      (NURBS_FORMS_METHOD=elements, the hierarchical space's own path) and by the tensor patch's
%      own choice (sum factorisation from degree 2);
%   3. the L-shape's adaptive loop (examples/adaptive_example.m's, degree 3) to an H1 error of
%      1e-4: its time and unknowns, against uniform refinement in as much time and at the
%      unknowns its rate needs for 1e-4.
%
%   octave_hierarchical_bench ()          N = 160, medians of 3 rounds
%   octave_hierarchical_bench ('quick')   N = 16, one round (a test)
function octave_hierarchical_bench (mode)
  if (nargin < 1), mode = 'full'; end
  pkg load nurbs
  quick = strcmp (mode, 'quick');
  N = 160; rounds = 3;
  if (quick), N = 16; rounds = 1; end
  p = 3;
  g = nrbkntins (nrbdegelev (nrb4surf ([0 0], [1 0], [0 1], [1 1]), [p p] - 1), ...
                 {(1:N - 1) / N, (1:N - 1) / N});
  hs = HierarchicalSpace (g);
  for limit = [0.5 0.3 0.18 0.11]
    box = hs.elements.box;
    hs = RefineElements (hs, find (box(:, 2) <= limit & box(:, 4) <= limit)');
  end
  rand ('seed', 1);
  marked = sort (randperm (hs.nel, round (hs.nel / 10)));
  times = zeros (rounds, 4);
  for r = 1:rounds
    tic; refined = RefineElements (hs, marked); times(r, 1) = toc;
    tic; K = StiffnessMatrix (hs, 1); times(r, 2) = toc;
  end
  % A tensor patch of about as many elements.
  n = round (sqrt (hs.nel));
  t = nrbkntins (nrbdegelev (nrb4surf ([0 0], [1 0], [0 1], [1 1]), [p p] - 1), ...
                 {(1:n - 1) / n, (1:n - 1) / n});
  old = getenv ('NURBS_FORMS_METHOD');
  for r = 1:rounds
    setenv ('NURBS_FORMS_METHOD', 'elements');
    tic; Kt = StiffnessMatrix (t, 1); times(r, 3) = toc;
    setenv ('NURBS_FORMS_METHOD', old);
    tic; Kt = StiffnessMatrix (t, 1); times(r, 4) = toc;
  end
  ms = median (times, 1) * 1e3;
  printf ('hierarchical space: %d levels, %d unknowns, %d elements; refined: %d unknowns\n', ...
          hs.levels, hs.ndof, hs.nel, refined.ndof);
  printf ('%-44s %10.1f ms\n', 'RefineElements of 10% of the elements', ms(1));
  printf ('%-44s %10.1f ms   refinement / assembly %.2f\n', 'StiffnessMatrix on it', ms(2), ...
          ms(1) / ms(2));
  printf ('%-44s %10.1f ms   hierarchical / tensor %.2f\n', ...
          sprintf ('tensor %d x %d, element by element', n, n), ms(3), ms(2) / ms(3));
  printf ('%-44s %10.1f ms   hierarchical / tensor %.2f\n', ...
          sprintf ('tensor %d x %d, its own choice', n, n), ms(4), ms(2) / ms(4));
  printf ('the same elements a second: %.0f hierarchical, %.0f tensor (elements)\n', ...
          hs.nel / ms(2) * 1e3, n ^ 2 / ms(3) * 1e3);

  if (quick), return; end
  % The adaptive loop to 1e-4 against uniform refinement.
  r = adaptive_example ();
  rows = r.lshape([r.lshape.p] == 3);
  printf (['L-shape, degree 3: adaptive to H1 %.2e with %d unknowns in %.1f s (%d steps); ' ...
           'uniform %d x %d a patch: %.2e with %d unknowns in %.1f s; 1e-4 at the uniform rate ' ...
           '%.2f takes some %.1e unknowns\n'], rows(end).h1, rows(end).ndof, rows(end).seconds, ...
          numel (rows), r.uniform(end).n, r.uniform(end).n, r.uniform(end).h1, ...
          r.uniform(end).ndof, r.uniform(end).seconds, r.uniform_rate, ...
          r.uniform_ndof_for_tolerance);
end
