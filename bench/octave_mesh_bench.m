% OCTAVE_MESH_BENCH  Time per quadrature point in Octave of a whole mesh's quadrature data:
% MeshEval against the best vectorised Octave code on our batch twins and on the nurbs package,
% beside the host's floor and the same native work in process.
%
%   octave_mesh_bench (file)                 every case, every N
%   octave_mesh_bench (file, 'quick')        the smallest N of each case, one round (a test)
%   octave_mesh_bench (file, mode, csv)      with the in-process figures of
%                                            bench_inprocess --benchmark_filter='^Mesh/'
%                                            --benchmark_format=csv written to csv
%
% Cases: the quarter annulus of radii 1 and 2 (rational, degree 2 around, 1 across) under a
% cubic C^2 B-spline space of N x N uniform elements, 4 x 4 Gauss points, N = 16, 64, 256; the
% thick ring (the annulus extruded to height 1, degree 1 along z) under a triquadratic space of
% N x N x N elements, 3 x 3 x 3 Gauss points, N = 8, 16, 32. Every method computes the fields
% MeshEval returns with 'gradient', true, in its layouts: quad_nodes, quad_weights, geo_map,
% geo_map_jac, jacdet, element_size, connectivity, shape_functions, shape_function_gradients.
%
% Columns, nanoseconds per quadrature point of one whole call:
%   MeshEval     msh = MeshEval (geometry, 'space', S, 'quadrature', q), threads as it comes
%   MeshEval 1   the same with NURBS_NUM_THREADS=1
%   MeshEval H   with 'hessian', true as well (threads as it comes)
%   twins+m      the quadrature points built in m-code (element by element, nodes fastest), the
%                batch twins at all of them (PolySurfShapeGradBatch for the space and
%                RatSurfShapeGradBatch for the geometry; in 3-D RatVolShapeGradBatch for both,
%                with unit weights for the B-spline space: there is no B-spline volume twin),
%                then the vectorised mapping: x and J from the control points, J^-T by
%                cofactors, the gradients, weights and connectivity, the twins' point-major rows
%                permuted into MeshEval's layouts
%   nurbs pkg    findspan and basisfunder per direction at that direction's distinct node
%                coordinates only (the tensor structure), the tensor products by broadcasting
%                straight into MeshEval's layouts, nrbderiv and nrbdeval on the tensor grid of
%                node coordinates for x and J, then the same push-forward
%   trivial      a MEX that creates outputs of exactly the sizes MeshEvalCore creates, as it
%                creates them (uninitialised in Octave), and does nothing else: the host's floor
%   trivial H    the same for the sizes with Hessians
%   in-proc      the same native work alone in process (bench_inprocess Mesh/...: reading the
%                inputs, the scratch, every element into outputs made once), the faster of 1 and
%                2 threads; in-proc 1: one thread; in-proc H: with Hessians, the faster of 1 and 2
% and the ratios: each peer's time over MeshEval's; MeshEval over trivial + in-proc (what the
% call costs beyond the host's floor and the native work: the m-code wrapper, the first touch of
% the outputs' fresh pages, which neither the floor nor the in-process figure pays); the
% serial and Hessian calls over theirs; and the trivial MEX's share of MeshEval's time.
% The in-process benchmark runs at most 2 threads: on a machine with more, compare with
% NURBS_NUM_THREADS=2.
%
% Each figure is the best of several rounds (5; 3 at the largest N; a method slower than 5 s a
% call, its first call and one round), the methods taken in turn, each round about 50 ms of calls
% and at least one. The Octave figures and their ratios come from this one run; the in-process
% ones from the bench_inprocess run just before it (tools/bench.sh runs both). Once per case, at the smallest N, every
% peer's fields are checked against MeshEval's (largest difference relative to the field's
% largest magnitude at most 1e-12, connectivity equal): an error otherwise.
% Prints the tables and writes the figures to FILE (a block per case: N, points, then the
% columns above in ns per point).
function octave_mesh_bench (file, mode, csv)
  if (nargin < 2 || isempty (mode)), mode = 'full'; end
  if (nargin < 3), csv = ''; end
  quick = strcmp (mode, 'quick');
  if (~quick && ~strcmp (mode, 'full'))
    error ('octave_mesh_bench: mode must be ''full'' or ''quick'', found ''%s''', mode);
  end
  if (isempty (which ('TrivialMex')))
    error ('octave_mesh_bench: TrivialMex is not on the path (build/bench)');
  end
  pkg load nurbs
  f = mesh_bench_common ();
  T = f.inprocess (csv);
  cases = {'annulus', [16 64 256]; 'ring', [8 16 32]};
  names = {'MeshEval', 'MeshEval 1', 'MeshEval H', 'twins+m', 'nurbs pkg', 'trivial', ...
           'trivial H', 'in-proc', 'in-proc 1', 'in-proc H'};
  ratio_names = {'twins+m/ME', 'nurbs/ME', 'ME/(tr+in)', 'ME1/(tr+in1)', 'MEH/(trH+inH)', ...
                 'trivial/ME'};
  setenv ('NURBS_NUM_THREADS', '');
  fid = fopen (file, 'w');
  started = tic;
  for ic = 1:rows (cases)
    shape = cases{ic, 1};
    Ns = cases{ic, 2};
    if (quick), Ns = Ns(1); end
    ratios = zeros (numel (Ns), numel (ratio_names));
    for iN = 1:numel (Ns)
      N = Ns(iN);
      c = f.make_case (shape, N);
      if (iN == 1)
        printf ('\n%s: ns per quadrature point\n', c.label);
        printf ('%5s %9s', 'N', 'points'); printf (' %10s', names{:}); printf ('\n');
        fprintf (fid, '# %s: N | points | %s\n', shape, strjoin (names, ' | '));
      end
      g = c.geometry; S = c.space; q = c.nq;
      if (iN == 1), check (f, c); end
      sizes = core_sizes (f, c, false);
      sizesH = core_sizes (f, c, true);
      core = f.core_inputs (c, false);
      m = struct ('name', names(1:7), 'serial', {false, true, false, false, false, false, false});
      m(1).run = @() MeshEval (g, 'space', S, 'quadrature', q);
      m(2).run = m(1).run;
      m(3).run = @() MeshEval (g, 'space', S, 'quadrature', q, 'hessian', true);
      m(4).run = @() f.twins_fields (c, struct ('all', true));
      m(5).run = @() f.nurbs_fields (c, struct ('all', true));
      m(6).run = @() trivial (sizes, core);
      m(7).run = @() trivial (sizesH, core);
      opts.rounds = 1 + (~quick) * (4 - 2 * (N == cases{ic, 2}(end)));
      opts.slow = 5;
      t = f.measure (m, opts);
      base = sprintf ('Mesh/%s/p:%d/N:%d/threads:%%d/hessian:%%d/real_time', shape, c.p, N);
      in = @(threads, h) f.inprocess_time (T, sprintf (base, threads, h));
      t(8) = min (in (1, 0), in (2, 0));
      t(9) = in (1, 0);
      t(10) = min (in (1, 1), in (2, 1));
      ns = 1e9 * t / c.points;
      printf ('%5d %9d', N, c.points); f.print_row (' %10.0f', ns); printf ('\n');
      fprintf (fid, '%d %d', N, c.points); fprintf (fid, ' %g', ns); fprintf (fid, '\n');
      ratios(iN, :) = [t(4) / t(1), t(5) / t(1), t(1) / (t(6) + t(8)), t(2) / (t(6) + t(9)), ...
                       t(3) / (t(7) + t(10)), t(6) / t(1)];
    end
    fprintf (fid, '\n\n');
    printf ('ratios of the times above\n');
    printf ('%5s', 'N'); printf (' %13s', ratio_names{:}); printf ('\n');
    for iN = 1:numel (Ns)
      printf ('%5d', Ns(iN)); f.print_row (' %13.2f', ratios(iN, :)); printf ('\n');
    end
  end
  fclose (fid);
  setenv ('NURBS_NUM_THREADS', '');
  printf ('\n(%s mode, %.0f s)\n', mode, toc (started));
end

% The sizes of MeshEvalCore's 15 outputs for the case, from one call.
function sizes = core_sizes (f, c, hessian)
  out = cell (1, 15);
  args = f.core_inputs (c, hessian);
  [out{:}] = MeshEvalCore (args{:});
  sizes = cell2mat (cellfun (@size, out(:), 'UniformOutput', false));
end

% The floor: outputs of those sizes from a MEX given the core's inputs.
function out = trivial (sizes, core)
  out = cell (1, rows (sizes));
  [out{:}] = TrivialMex ('sizes', sizes, core{:});
end

% The peers' fields against MeshEval's.
function check (f, c)
  msh = MeshEval (c.geometry, 'space', c.space, 'quadrature', c.nq);
  peers = {'twins+m', f.twins_fields(c, struct ('all', true)); ...
           'nurbs pkg', f.nurbs_fields(c, struct ('all', true))};
  fields = {'quad_nodes', 'quad_weights', 'geo_map', 'geo_map_jac', 'jacdet', 'element_size', ...
            'shape_functions', 'shape_function_gradients'};
  printf ('check at N = %d, largest relative difference from MeshEval:', c.N);
  for k = 1:rows (peers)
    [name, m] = peers{k, :};
    if (~isequal (m.connectivity, msh.connectivity))
      error ('octave_mesh_bench: %s: connectivity differs from MeshEval''s', name);
    end
    e = 0;
    for i = 1:numel (fields)
      if (~isequal (size (m.(fields{i})), size (msh.(fields{i}))))
        error ('octave_mesh_bench: %s: %s is %s, MeshEval''s %s', name, fields{i}, ...
               mat2str (size (m.(fields{i}))), mat2str (size (msh.(fields{i}))));
      end
      ei = f.difference (m.(fields{i}), msh.(fields{i}));
      if (ei > 1e-12)
        error ('octave_mesh_bench: %s: %s differs from MeshEval''s by %g', name, fields{i}, ei);
      end
      e = max (e, ei);
    end
    printf (' %s %.1e', name, e);
  end
  printf (' (connectivity equal)\n');
end
