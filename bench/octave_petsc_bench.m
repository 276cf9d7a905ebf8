% OCTAVE_PETSC_BENCH  Poisson on the thick ring by SolvePETSc on 1 and 2 processes, against our
% assembly with Octave's ichol + pcg in one process; what the files cost beside the solve.
%
%   octave_petsc_bench ()              N = 24 and 32 elements a direction, degree 3
%   octave_petsc_bench ('quick')       N = 8, one round (a test)
%   octave_petsc_bench ('full', Ns)    the sizes Ns
%
% The thick ring (the quarter annulus of radii 1 and 2 extruded to height 1) under its own NURBS
% basis raised to degree 3, N^3 elements, u = 0 on its six faces, f = 1. For each N: the
% program's phases on each process (the largest over the processes, seconds), its iterations and
% peak memory a process, on 1 and 2 processes of one core each, and the ratios 1 / 2; the
% client's files (writing the problem, reading the solution) against the run; then the same
% problem in Octave: StiffnessMatrix on 1 thread, ichol + pcg to 1e-10, and their sum.
% The machine is shared: take the ratios within one run, and rerun on a quiet machine.
function octave_petsc_bench (mode, Ns)
  if (nargin < 1), mode = 'full'; end
  pkg load nurbs
  quick = strcmp (mode, 'quick');
  if (nargin < 2), Ns = [24 32]; end
  if (quick), Ns = 8; end
  setenv ('OMPI_ALLOW_RUN_AS_ROOT', '1');
  setenv ('OMPI_ALLOW_RUN_AS_ROOT_CONFIRM', '1');
  setenv ('OMPI_MCA_btl', 'self,vader');
  p = 3;
  s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
  annulus = nrbmak (permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]), ...
                    {[0 0 0 1 1 1], [0 0 1 1]});
  base = nrbextrude (annulus, [0 0 1]);
  base = nrbdegelev (base, p - (base.order - 1));
  phases = {'read', 'preallocation', 'assembly', 'insertion', 'exchange', 'dirichlet', ...
            'setup', 'solve', 'write'};
  for N = Ns
    ring = nrbkntins (base, repmat ({(1:N - 1) / N}, 1, 3));
    F = LoadVector (ring, 1);
    fixed = [];
    for side = 1:6, fixed = union (fixed, MeshEval (ring, 'side', side).dofs); end
    printf ('\nthick ring, degree %d, %d^3 elements, %d unknowns (%d fixed)\n', p, N, ...
            numel (F), numel (fixed));
    reports = {};
    for np = 1:2
      [u, r] = SolvePETSc (ring, 'stiffness', 1, F, 'np', np, ...
                           'dirichlet', {fixed, zeros(size (fixed))});
      reports{np} = r;
    end
    printf ('%-16s %12s %12s %8s\n', 'phase (max s)', '1 process', '2 processes', '1 / 2');
    for k = 1:numel (phases)
      a = max (reports{1}.time.(phases{k})); b = max (reports{2}.time.(phases{k}));
      printf ('%-16s %12.3f %12.3f %8.2f\n', phases{k}, a, b, a / b);
    end
    forms = @(r) max (r.time.assembly + r.time.insertion + r.time.exchange + r.time.preallocation);
    printf ('%-16s %12.3f %12.3f %8.2f\n', 'matrix, all', forms (reports{1}), forms (reports{2}), ...
            forms (reports{1}) / forms (reports{2}));
    printf ('%-16s %12d %12d\n', 'iterations', reports{1}.iterations, reports{2}.iterations);
    printf ('%-16s %12.0f %12.0f   (MB, peak, largest process)\n', 'memory', ...
            max (reports{1}.memory_mb), max (reports{2}.memory_mb));
    for np = 1:2
      c = reports{np}.client;
      printf ('client, %d process%s: files written %.3f s, read %.3f s, the run %.3f s (%.1f%%)\n', ...
              np, ifelse (np == 1, '', 'es'), c.write, c.read, c.run, ...
              100 * (c.write + c.read) / c.run);
    end
    % Octave alone: our assembly, then ichol + pcg as issue 33's table took them.
    old = getenv ('NURBS_NUM_THREADS');
    setenv ('NURBS_NUM_THREADS', '1');
    tic (); K = StiffnessMatrix (ring, 1); assembly = toc ();
    setenv ('NURBS_NUM_THREADS', old);
    free = setdiff (1:numel (F), fixed);
    tic ();
    A = K(free, free);
    L = ichol (A);
    [v, flag, ~, iterations] = pcg (A, F(free), 1e-10, 2000, L, L');
    solve = toc ();
    printf ('Octave: StiffnessMatrix %.3f s (1 thread), ichol + pcg %.3f s (%d iterations, flag %d)\n', ...
            assembly, solve, iterations, flag);
    printf ('        against SolvePETSc: matrix on 1 process %.2fx, the whole solve on 2 %.2fx\n', ...
            assembly / forms (reports{1}), (assembly + solve) / reports{2}.client.run);
    printf ('        |u - u_pcg| / |u| = %.1e\n', norm (u(free) - v) / norm (v));
  end
end

function v = ifelse (test, a, b)
  if (test), v = a; else, v = b; end
end
