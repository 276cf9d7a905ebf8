% PARALLEL_ASSEMBLY  Poisson on a 3-D thick ring, its stiffness matrix and load vector assembled
% in parts on a pool of worker processes, summed and solved on the client:
%     -Laplace(u) = f,  u = exp(x) sin(y) z^2,  f = -2 exp(x) sin(y),
% u given on the whole boundary (DirichletValues). The ring is the quarter annulus of radii 1
% and 2 extruded to height 1, under its own NURBS basis raised to degree p with n elements a
% direction. SplitElements cuts the elements into parts of equal work; each worker assembles
% its parts (StiffnessMatrix, LoadVector with the part's 'elements'), every call independent
% of the others; the client sums the parts (one sparse () of their entries) and solves.
%
%   results = parallel_assembly ()              n = 8, p = 2, parcellfun on this machine
%   results = parallel_assembly (n, p)
%   results = parallel_assembly (n, p, hosts)   netcellfun over pserver nodes (a cell of names)
%
% On one machine: Octave's parallel package (Debian: octave-parallel), parcellfun on
% min (2, cores) processes. Across machines: start a server on each (as a user, not root; the
% toolbox at the same path there, or on the path of the server's Octave):
%     octave-cli --eval 'pkg load parallel; pserver (struct ("use_tls", false))'
% then pass their names. Debian's build of the package has no TLS (no
% parallel_generate_srp_data): without authentication, anyone who reaches ports 12501 and
% 12502 of a node runs commands there, so only on a network closed to everyone else. Each
% worker caps its threads at its share of its machine's cores (NURBS_NUM_THREADS) in the
% function it runs.
%
% MATLAB (Parallel Computing Toolbox; a cluster profile for machines), the same parts:
%     pool = gcp ();
%     parts = SplitElements (ring, 2 * pool.NumWorkers);
%     Ks = cell (1, numel (parts)); Fs = cell (1, numel (parts));
%     parfor k = 1:numel (parts)
%       setenv ('NURBS_NUM_THREADS', '1');       % a worker per core: one thread each
%       Ks{k} = StiffnessMatrix (ring, 1, parts{k}{:});
%       Fs{k} = LoadVector (ring, f, parts{k}{:});
%     end
%     K = Ks{1}; F = Fs{1};
%     for k = 2:numel (parts), K = K + Ks{k}; F = F + Fs{k}; end
%
% Returns the figures in a struct (skipped true, and nothing else, without the parallel package).
function results = parallel_assembly (n, p, hosts)
  if (nargin < 1), n = 8; end
  if (nargin < 2), p = 2; end
  if (nargin < 3), hosts = {}; end
  results.skipped = true;
  if (~exist ('OCTAVE_VERSION', 'builtin'))
    error ('parallel_assembly: Octave''s form; MATLAB''s parfor is in the comments above.');
  end
  if (isempty (pkg ('list', 'parallel')))
    printf (['parallel_assembly: skipped, Octave''s parallel package is not installed ' ...
             '(Debian: apt-get install octave-parallel; tools/setup.sh installs it).\n']);
    return;
  end
  pkg load nurbs
  pkg load parallel
  u = @(x, y, z) exp (x) .* sin (y) .* z .^ 2;
  f = @(x, y, z) -2 * exp (x) .* sin (y);

  s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
  annulus = nrbmak (permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]), ...
                    {[0 0 0 1 1 1], [0 0 1 1]});
  ring = nrbextrude (annulus, [0 0 1]);
  ring = nrbdegelev (ring, p - (ring.order - 1));
  ring = nrbkntins (ring, repmat ({(1:n - 1) / n}, 1, 3));

  % The pool: processes here, or servers elsewhere.
  if (isempty (hosts))
    workers = min (2, nproc ());
    here = workers;                                  % processes a machine
    where = sprintf ('parcellfun, %d processes', workers);
  else
    connections = pconnect (hosts, struct ('use_tls', false));
    network_set (connections, 'nlocaljobs', 1);     % one process a node, its cores as threads
    workers = numel (hosts);
    here = 1;
    reval (sprintf ('addpath (''%s'');', fileparts (which ('StiffnessMatrix'))), ...
           connections(2:end));
    where = sprintf ('netcellfun, %d servers', workers);
  end
  parts = SplitElements (ring, 2 * workers);
  % Each worker caps its threads at its share of its machine's cores before its calls (the
  % package keeps its processes from one call to the next, with the environment they started
  % with: the client's setenv reaches them only before the first call). evalc runs the
  % statement and returns its (empty) output, so that it fits in an anonymous function.
  cap = sprintf ('setenv (''NURBS_NUM_THREADS'', num2str (max (1, floor (nproc () / %d))));', ...
                 here);
  % A part's matrix comes back as its entries, linear indices and values: the package moved a
  % sparse matrix 9 times slower than these two dense columns.
  entries = @(A) {find(A), nonzeros(A)};
  work = @(options) deal ({evalc(cap), entries(StiffnessMatrix (ring, 1, options{:}))}{2}, ...
                          LoadVector (ring, f, options{:}));

  clock = tic;
  if (isempty (hosts))
    [Es, Fs] = parcellfun (workers, work, parts, 'UniformOutput', false, 'VerboseLevel', 0);
  else
    [Es, Fs] = netcellfun (connections, work, parts, 'UniformOutput', false, 'VerboseLevel', 0);
    sclose (connections);
  end
  pooled = toc (clock);

  % On the client: the sum of the parts, the boundary values and the solve.
  clock = tic;
  ndof = numel (Fs{1});
  Es = vertcat (Es{:});
  [i, j] = ind2sub ([ndof ndof], vertcat (Es{:, 1}));
  K = sparse (i, j, vertcat (Es{:, 2}), ndof, ndof);     % sums the entries the parts share
  F = Fs{1};
  for k = 2:numel (parts)
    F = F + Fs{k};
  end
  summing = toc (clock);
  clock = tic;
  [dofs, values] = DirichletValues (ring, 1:6, u);
  free = setdiff (1:size (K, 1), dofs);
  uh = zeros (size (K, 1), 1);
  uh(dofs) = values;
  uh(free) = K(free, free) \ (F(free) - K(free, dofs) * values);
  solve = toc (clock);

  % The same in one call here, and the solution's error at the nodes of a finer rule.
  clock = tic;
  K1 = StiffnessMatrix (ring, 1);
  F1 = LoadVector (ring, f);
  single = toc (clock);
  m = MeshEval (ring, 'quadrature', p + 2, 'gradient', false);
  U = reshape (uh(m.connectivity), 1, m.nsh_max, m.nel);
  v = reshape (sum (m.shape_functions .* U, 2), 1, []);
  wq = reshape (m.quad_weights .* m.jacdet, 1, []);
  exact = u (m.geo_map(1, :), m.geo_map(2, :), m.geo_map(3, :));
  results = struct ('skipped', false, 'elements', n ^ 3, 'dofs', size (K, 1), ...
                    'parts', numel (parts), 'workers', workers, ...
                    'difference', max (norm (K - K1, 1) / norm (K1, 1), ...
                                       norm (F - F1, 1) / norm (F1, 1)), ...
                    'l2', sqrt (sum (wq .* (v - exact) .^ 2) / sum (wq .* exact .^ 2)), ...
                    'pooled', pooled, 'summing', summing, 'solve', solve, 'single', single);
  printf ('Poisson on a thick ring, degree %d, %d elements, %d dofs, %d parts (%s)\n', p, ...
          results.elements, results.dofs, results.parts, where);
  printf ('  parts on the pool    %8.3f s (a first call starts the pool)\n', pooled);
  printf ('  one call here        %8.3f s\n', single);
  printf ('  summing the parts    %8.3f s\n', summing);
  printf ('  boundary and solve   %8.3f s\n', solve);
  printf ('  sum against one call %8.1e (relative, 1-norm)\n', results.difference);
  printf ('  relative L2 error    %8.2e\n', results.l2);
end
