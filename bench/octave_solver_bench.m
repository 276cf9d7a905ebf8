% OCTAVE_SOLVER_BENCH  Poisson on the thick ring (the quarter annulus of radii 1 and 2 extruded to
% height 1, its NURBS basis raised to degree p, n elements a direction), u = 0 on the boundary,
% f = 1, solved to a relative residual of 1e-8 from zero, in Octave. The load of f = 1 is the
% mass matrix times ones (the functions sum to 1): the matrix-free mass operator's one
% application, or the assembled mass matrix's product; LoadVector, element by element, takes
% about what the stiffness does and is timed beside them ('load').
%
%   octave_solver_bench ('free', p, n)        MatrixFreeOperator, FastDiagonalisation, LoadVector
%                                            and pcg: geometry to solution
%   octave_solver_bench ('assembled', p, n)   StiffnessMatrix, LoadVector, ichol and pcg
%   octave_solver_bench ('backslash', p, n)   StiffnessMatrix, LoadVector and K \ F
%   octave_solver_bench ('iterations', ps, ns)  pcg's iterations with the preconditioner for
%                                            every p in ps and n in ns (1e-8)
%   octave_solver_bench ('domains', p, ns)    iterations on the ring as 1, 2 and 8 patches
%                                            (cut at the middle of its directions) of n^3
%                                            elements in all, the patches grouped into one box
%                                            (the default) and each a group of its own
%
% Each of the first three prints one line: unknowns, seconds of each part, iterations, the
% process's peak resident memory (VmHWM) less what it held before the geometry was made, and
% that per unknown. The parts of 'free': the operator's setup, the preconditioner's, the load,
% and pcg split into the operator's applications, the preconditioner's and the rest (the host's
% vector work). Run each case in a process of its own (tools/bench.sh, step 9) so that the peak
% memory is the case's.
function octave_solver_bench (mode, p, n)
  pkg load nurbs
  switch (mode)
    case {'free', 'assembled', 'backslash'}
      one_case (mode, p, n);
    case 'load'
      g = ring (p, n);
      tic; F = LoadVector (g, 1); t = toc;
      printf ('load      p %d n %3d: LoadVector (g, 1) %.2f s\n', p, n, t);
    case 'iterations'
      printf ('iterations of pcg (1e-8) with FastDiagonalisation, the thick ring\n');
      printf ('%4s', 'p');
      printf (' %8s', arrayfun (@(k) sprintf ('n=%d', k), n, 'UniformOutput', false){:});
      printf ('\n');
      for q = p
        printf ('%4d', q);
        for k = n
          [~, ~, it] = solve_free (ring (q, k), {});
          printf (' %8d', it);
        end
        printf ('\n');
      end
    case 'domains'
      printf (['iterations of pcg (1e-8), the thick ring at degree %d as 1, 2 and 8 patches, ' ...
               'the patches grouped into boxes (the default) and each a group\n'], p);
      printf ('%6s %10s %8s %8s %8s %12s %12s\n', 'n', 'unknowns', '1', '2', '8', ...
              '2, patches', '8, patches');
      for k = n
        g = ring (p, k);
        row = zeros (1, 5);
        [~, free, row(1)] = solve_free (g, {});
        for c = 1:2
          mp = Multipatch (cut (g, [1 3](c)));
          [~, ~, row(1 + c)] = solve_free (mp, {});
          [~, ~, row(3 + c)] = solve_free (mp, {}, {'group', false});
        end
        printf ('%6d %10d %8d %8d %8d %12d %12d\n', k, numel (free), row);
      end
  end
end

function one_case (mode, p, n)
  before = peak_memory ();
  t0 = tic ();
  g = ring (p, n);
  switch (mode)
    case 'free'
      [times, free, it] = solve_free (g, {});
      total = toc (t0);
      parts = sprintf (['setup A %.2f, P %.2f, load %.2f; pcg %.2f: A %.2f (%d), P %.2f, ' ...
                        'host %.2f'], times);
    case 'assembled'
      tic; K = StiffnessMatrix (g, 1); F = MassMatrix (g, 1) * ones (prod (g.number), 1); ta = toc;
      free = interior (g, numel (F));
      tic; Kf = K(free, free); clear K; L = ichol (Kf); ti = toc;
      tic; [u, flag, ~, it] = pcg (Kf, F(free), 1e-8, 500, L, L'); tp = toc;
      total = toc (t0);
      parts = sprintf ('assembly %.2f, ichol %.2f, pcg %.2f', ta, ti, tp);
    case 'backslash'
      tic; K = StiffnessMatrix (g, 1); F = MassMatrix (g, 1) * ones (prod (g.number), 1); ta = toc;
      free = interior (g, numel (F));
      tic; u = K(free, free) \ F(free); tb = toc;
      it = 0;
      total = toc (t0);
      parts = sprintf ('assembly %.2f, backslash %.2f', ta, tb);
  end
  used = peak_memory () - before;
  printf (['%-9s p %d n %3d: %8d unknowns, %7.2f s (%s), %3d iterations, %.2f GB peak, ' ...
           '%.0f bytes an unknown\n'], mode, p, n, numel (free), total, parts, it, used / 1e9, ...
          used / numel (free));
end

% The matrix-free solve: seconds of [operator setup, preconditioner setup, load, pcg, operator
% applications, their count, preconditioner applications, the rest of pcg].
function [times, free, it] = solve_free (g, options, preconditioner)
  if (nargin < 3), preconditioner = {}; end
  global bench_timing
  bench_timing = [0 0 0];
  if (isfield (g, 'gnum'))
    faces = 1:numel (g.boundaries);
  else
    faces = 1:2 * numel (g.order);
  end
  tic; [A, free] = MatrixFreeOperator ('stiffness', g, 1, 'dirichlet', faces, options{:}); ts = toc;
  tic; P = FastDiagonalisation (g, 'dirichlet', faces, options{:}, preconditioner{:}); tp = toc;
  tic;
  [M, all] = MatrixFreeOperator ('mass', g, 1, options{:});
  F = M (ones (numel (all), 1));
  clear M;
  tl = toc;
  At = @(x) timed (A, x, 1);
  Pt = @(x) timed (P, x, 3);
  tic; [u, flag, relres, it] = pcg (At, F(free), 1e-8, 500, Pt); tc = toc;
  if (flag ~= 0)
    printf ('(pcg flag %d, relative residual %g)\n', flag, relres);
  end
  times = [ts, tp, tl, tc, bench_timing(1), bench_timing(2), bench_timing(3), ...
           tc - bench_timing(1) - bench_timing(3)];
end

function y = timed (f, x, slot)
  global bench_timing
  t = tic ();
  y = f (x);
  bench_timing(slot) += toc (t);
  if (slot == 1), bench_timing(2) += 1; end
end

% The thick ring, its NURBS basis at degree p, n elements a direction.
function g = ring (p, n)
  s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
  annulus = nrbmak (permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]), ...
                    {[0 0 0 1 1 1], [0 0 1 1]});
  g = nrbextrude (annulus, [0 0 1]);
  k = (1:n - 1) / n;
  g = nrbkntins (nrbdegelev (g, [p - 2, p - 1, p - 1]), {k, k, k});
end

% The patch cut at the middle of its first `directions` directions: 1, 2 or 8 (4 for 2) patches.
function pieces = cut (g, directions)
  pieces = {g};
  for d = 1:directions
    next = {};
    for q = 1:numel (pieces)
      [a, b] = halves (pieces{q}, d);
      next = [next, {a, b}];
    end
    pieces = next;
  end
end

% The patch split at 1/2 along direction d, the knot raised to multiplicity p there.
function [a, b] = halves (g, d)
  p = g.order(d) - 1;
  u = 0.5;
  have = sum (g.knots{d} == u);
  g = nrbkntins (g, [repmat({[]}, 1, d - 1), {repmat(u, 1, p - have)}, ...
                     repmat({[]}, 1, numel (g.order) - d)]);
  U = g.knots{d};
  left = numel (U(U < u));
  idx = repmat ({':'}, 1, ndims (g.coefs));
  a = g; b = g;
  idx{d + 1} = 1:left;
  a.coefs = g.coefs(idx{:});
  a.knots{d} = [U(U < u), repmat(u, 1, p + 1)] / u;
  idx{d + 1} = left:size (g.coefs, d + 1);
  b.coefs = g.coefs(idx{:});
  b.knots{d} = ([repmat(u, 1, p + 1), U(U > u)] - u) / (1 - u);
  a.number = size (a.coefs)(2:end); b.number = size (b.coefs)(2:end);
end

% The unknowns off the boundary: interior tensor indices.
function free = interior (g, ndof)
  n = g.number;
  [i, j, k] = ndgrid (2:n(1) - 1, 2:n(2) - 1, 2:n(3) - 1);
  free = sort (i(:) + n(1) * (j(:) - 1) + n(1) * n(2) * (k(:) - 1));
end

% The process's peak resident memory, bytes.
function b = peak_memory ()
  text = fileread ('/proc/self/status');
  kb = str2double (regexp (text, 'VmHWM:\s*(\d+)', 'tokens', 'once'));
  b = kb * 1024;
end
