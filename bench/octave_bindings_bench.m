% OCTAVE_BINDINGS_BENCH  The two Octave builds of the same plug-ins in one Octave run: the
% Octave-native functions (.oct, the toolbox on the path) against Octave's MEX build (copies of
% the .mex files under other names, so that both are callable at once).
%
%   octave_bindings_bench (mex_folder)
%
% Rows (best of 7 rounds taken in turn; in each round a call with large outputs is timed as the
% best of 3 calls in a row of the same build, as a user's repeated calls run: a call of the other
% build between them would free and trim the memory this one reuses):
%   one-point   RatCurveShapeGrad, RatSurfShapeGrad, RatVolShapeGrad, degree 3, 16 functions a
%               direction: nanoseconds a call
%   twin        RatSurfShapeGradBatch, bicubic, serial (NURBS_NUM_THREADS=1), P = 10^4, 10^6:
%               nanoseconds a point
%   MeshEval    MeshEvalCore on the quarter annulus, cubic, 64 x 64 elements, gradients: the
%               whole mesh in one call and in 256-element chunks, nanoseconds a quadrature point
%   forms       StiffnessMatrixCore on the annulus at N = 256: milliseconds a call
function octave_bindings_bench (mex_folder)
  pkg load nurbs
  scratch = tempname ();
  mkdir (scratch);
  names = {'RatCurveShapeGrad', 'RatSurfShapeGrad', 'RatVolShapeGrad', ...
           'RatSurfShapeGradBatch', 'MeshEvalCore', 'StiffnessMatrixCore'};
  for k = 1:numel (names)
    copyfile (fullfile (mex_folder, [names{k} '.mex']), fullfile (scratch, [names{k} 'Mex.mex']));
  end
  addpath (scratch);
  cleanup = onCleanup (@() confirm_recursive_rmdir (false, 'local') + rmdir (scratch, 's'));
  printf ('%-34s %12s %12s %8s\n', '', '.mex', '.oct', 'mex/oct');

  % One-point calls.
  n = 16; p = 3;
  U = [zeros(1, p), linspace(0, 1, n - p + 1), ones(1, p)];
  cases = {{'RatCurveShapeGrad', {0.3, p, U, ones(1, n)}}, ...
           {'RatSurfShapeGrad', {[0.3; 0.6], p, p, U, U, ones(n, n)}}, ...
           {'RatVolShapeGrad', {[0.3; 0.6; 0.2], p, p, p, U, U, U, ones(n, n, n)}}};
  calls = 20000;
  for c = cases
    [name, args] = c{1}{:};
    f = {str2func([name 'Mex']), str2func(name)};
    t = best (@() loop (f, args, calls), 2);
    row (sprintf ('%s, a call (ns)', name), t / calls * 1e9);
  end

  % The twin, serial.
  setenv ('NURBS_NUM_THREADS', '1');
  for P = [1e4, 1e6]
    x = rand (2, P);
    f = {@RatSurfShapeGradBatchMex, @RatSurfShapeGradBatch};
    t = best (@() twice (f, {x, p, p, U, U, ones(n, n)}), 2);
    row (sprintf ('RatSurfShapeGradBatch P=%g (ns/pt)', P), t / P * 1e9);
  end
  unsetenv ('NURBS_NUM_THREADS');

  % MeshEval's core: the whole mesh, and the same in chunks.
  common = mesh_bench_common ();
  c = common.make_case ('annulus', 64);
  a = common.core_inputs (c, false);
  nel = 64 * 64; nqn = 16;
  f = {@MeshEvalCoreMex, @MeshEvalCore};
  out = cell (1, 15);
  whole = best (@() many (f, a, 1, out), 2);
  row ('MeshEval 64x64, whole (ns/pt)', whole / (nel * nqn) * 1e9);
  chunked = best (@() chunks (f, a, nel, 256, out), 2);
  row ('MeshEval 64x64, 256-element chunks', chunked / (nel * nqn) * 1e9);
  printf ('%-34s %12s %12.2f\n', '  whole / chunks, .oct', '', whole(2) / chunked(2));

  % A form at N = 256.
  c = common.make_case ('annulus', 256);
  a = [common.core_inputs(c, false), {1}];
  f = {@StiffnessMatrixCoreMex, @StiffnessMatrixCore};
  t = best (@() many (f, a, 1, cell (1, 1)), 2);
  row ('StiffnessMatrixCore N=256 (ms)', t * 1e3);
end

function row (label, t)
  printf ('%-34s %12.1f %12.1f %8.2f\n', label, t(1), t(2), t(1) / t(2));
end

% Best of 7 rounds of g(), which returns one time per build.
function t = best (g, builds)
  t = inf (1, builds);
  for r = 1:7
    t = min (t, g ());
  end
end

function t = loop (f, args, calls)
  t = zeros (1, numel (f));
  for b = 1:numel (f)
    g = f{b};
    tic;
    for k = 1:calls
      [R, dR] = g (args{:});
    end
    t(b) = toc;
  end
end

function t = twice (f, args)
  t = inf (1, numel (f));
  for b = 1:numel (f)
    for r = 1:3
      tic;
      [R, dx, dy, idx] = f{b} (args{:});
      t(b) = min (t(b), toc);
      clear R dx dy idx
    end
  end
end

function t = many (f, a, ~, out)
  t = inf (1, numel (f));
  for b = 1:numel (f)
    for r = 1:3
      tic;
      [out{:}] = f{b} (a{:});
      t(b) = min (t(b), toc);
      out(:) = {[]};
    end
  end
end

function t = chunks (f, a, nel, size, out)
  t = inf (1, numel (f));
  for b = 1:numel (f)
    for r = 1:3
      tic;
      for first = 1:size:nel
        a{14} = first:min (nel, first + size - 1);
        [out{:}] = f{b} (a{:});
      end
      t(b) = min (t(b), toc);
      out(:) = {[]};
    end
  end
end
