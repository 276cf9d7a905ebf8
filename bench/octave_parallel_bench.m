% OCTAVE_PARALLEL_BENCH  The stiffness matrix of a large 3-D patch in one call on 2 threads
% against the same in parts (SplitElements) on 2 processes of 1 thread each (the parallel
% package's parcellfun), and what the client adds: summing the parts.
%
%   octave_parallel_bench ()          24 x 24 x 24 elements, degree 3, medians of 3 rounds
%   octave_parallel_bench ('quick')   6 x 6 x 6, one round (a test)
%
% The thick ring (the quarter annulus of radii 1 and 2 extruded to height 1) under its own NURBS
% basis raised to degree 3, N^3 elements, 4 x 4 x 4 Gauss points. Rows, seconds:
%   one call, 1 thread / 2 threads      StiffnessMatrix (ring, 1), NURBS_NUM_THREADS 1 or 2
%   first call on the pool, trivial     parcellfun (2, ...) on a trivial function, the first:
%                                       it starts the two Octave sessions
%   a trivial call on it after          the same again: the sessions kept
%   2 processes x 1 thread, P parts     parcellfun (2, ...) over SplitElements (ring, P), each
%     as entries                        part returned as its entries (find's linear indices
%                                       and the values): wall time to them on the client
%     a worker's assembly               half the parts' calls, timed one after another here on
%                                       1 thread: what each process computes
%     summing on the client             one sparse () of every part's entries
%   2 parts as sparse matrices, once    each part returned as the sparse matrix itself, and
%                                       K1 + K2 on the client
% The rest of a pooled call's wall time is the pool's start and the parts' way back through
% the package's pipes.
function octave_parallel_bench (mode)
  if (nargin < 1), mode = 'full'; end
  pkg load nurbs
  if (isempty (pkg ('list', 'parallel')))
    printf ('octave_parallel_bench: skipped, the parallel package (octave-parallel) is absent\n');
    return;
  end
  pkg load parallel
  quick = strcmp (mode, 'quick');
  N = 24; p = 3; rounds = 3;
  if (quick), N = 6; rounds = 1; end
  s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
  annulus = nrbmak (permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]), ...
                    {[0 0 0 1 1 1], [0 0 1 1]});
  ring = nrbextrude (annulus, [0 0 1]);
  ring = nrbdegelev (ring, p - (ring.order - 1));
  ring = nrbkntins (ring, repmat ({(1:N - 1) / N}, 1, 3));
  saved = getenv ('NURBS_NUM_THREADS');
  part = @(options) StiffnessMatrix (ring, 1, options{:});
  % A part as its entries: linear indices and values, two dense columns (what crosses the
  % package's pipes fast; a sparse matrix crosses them an entry at a time).
  entries = @(A) {find(A), nonzeros(A)};
  part_entries = @(options) entries (StiffnessMatrix (ring, 1, options{:}));

  printf ('thick ring, degree %d, %d^3 elements, %d dofs, stiffness; %d cores; medians of %d\n', ...
          p, N, prod (ring.number), nproc (), rounds);
  one = zeros (rounds, 2);
  for r = 1:rounds
    for threads = 1:2
      setenv ('NURBS_NUM_THREADS', sprintf ('%d', threads));
      tic; K = StiffnessMatrix (ring, 1); one(r, threads) = toc;
    end
  end
  n = rows (K);
  setenv ('NURBS_NUM_THREADS', '1');
  % The package starts its processes at its first call and keeps them for the next.
  start = zeros (rounds + 1, 1);
  for r = 1:rounds + 1
    tic; parcellfun (2, @(k) k, {1, 2}, 'VerboseLevel', 0); start(r) = toc;
  end
  printf ('%-50s %8.3f s\n', 'one call, 1 thread', median (one(:, 1)));
  printf ('%-50s %8.3f s\n', 'one call, 2 threads', median (one(:, 2)));
  printf ('%-50s %8.3f s\n', 'first call on the pool (its start), trivial', start(1));
  printf ('%-50s %8.3f s\n', 'a trivial call on it after', median (start(2:end)));
  for P = [2 4]
    parts = SplitElements (ring, P);
    t = zeros (rounds, 3);
    for r = 1:rounds
      tic;
      E = parcellfun (2, part_entries, parts, 'UniformOutput', false, 'VerboseLevel', 0);
      t(r, 1) = toc;
      % On the client: the parts' entries summed into one matrix.
      tic;
      E = vertcat (E{:});
      [i, j] = ind2sub ([n n], vertcat (E{:, 1}));
      S = sparse (i, j, vertcat (E{:, 2}), n, n);
      t(r, 3) = toc;
      clear E i j
      % The parts' own work, here on 1 thread: half of it is a worker's share.
      tic;
      for k = 1:P
        part (parts{k});
      end
      t(r, 2) = toc / 2;
    end
    report (sprintf ('%d parts as entries', P), t, S, K);
  end
  % As sparse matrices, once: the package's transfer dominates.
  parts = SplitElements (ring, 2);
  t = zeros (1, 3);
  tic;
  Ks = parcellfun (2, part, parts, 'UniformOutput', false, 'VerboseLevel', 0);
  t(1) = toc;
  tic; S = Ks{1} + Ks{2}; t(3) = toc;
  t(2) = NaN;
  report ('2 parts as sparse matrices', t, S, K);
  setenv ('NURBS_NUM_THREADS', saved);
  printf ('result: %d x %d, %d nonzeros (%.0f MB)\n', rows (K), columns (K), nnz (K), ...
          nnz (K) * 16 / 1e6);
end

function report (label, t, S, K)
  e = norm (S - K, 1) / norm (K, 1);
  printf ('%-50s %8.3f s   (sum against one call %.1e)\n', ...
          ['2 processes x 1 thread, ' label], median (t(:, 1)), e);
  if (~isnan (t(1, 2)))
    printf ('%-50s %8.3f s\n', '  a worker''s assembly (half the parts)', median (t(:, 2)));
  end
  printf ('%-50s %8.3f s\n', '  summing on the client', median (t(:, 3)));
  if (e > 1e-14)
    error ('octave_parallel_bench: the parts sum to %g of the one call, relative', e);
  end
end
