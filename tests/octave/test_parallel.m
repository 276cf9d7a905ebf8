% Assembly in parts (SplitElements) on other processes: the parts of a 2-D patch, a 3-D patch
% and a 2-D domain, assembled by parcellfun on 2 processes and by netcellfun on two servers of
% the parallel package on loopback addresses, sum to the one-call matrix; uneven parts, empty
% parts and a part per element sum to it too; the split's balance and faults. The servers are
% started and stopped here, bounded in time; examples/parallel_assembly.m runs on both pools.
% Without the parallel package the in-process checks run and the test reports itself skipped
% (exit code 77).
%   octave-cli --eval "shim = '.../libpserver_loopback.so'; toolbox = '...'; test_parallel"
1;  % a script: its helper functions first

function e = frob (a, b)
  e = norm (a - b, 'fro') / max (norm (b, 'fro'), realmin);
end

% A patch refined to degree p with n(i) elements in direction i.
function g = refine (g, p, n)
  g = nrbdegelev (g, p - (g.order - 1));
  k = cell (1, numel (n));
  for i = 1:numel (n)
    k{i} = (1:n(i) - 1) / n(i);
  end
  g = nrbkntins (g, k);
end

function g = unit_square (x0, y0, p, n)
  g = nrbmak (permute (cat (3, [x0 x0+1; x0 x0+1], [y0 y0; y0+1 y0+1], zeros (2), ones (2)), ...
                       [3 1 2]), {[0 0 1 1], [0 0 1 1]});
  g = refine (g, p, [n n]);
end

% The parts' matrices summed in the parts' order.
function K = summed (parts)
  K = parts{1};
  for k = 2:numel (parts)
    K = K + parts{k};
  end
end

% Two servers of the parallel package, at 127.a.b.1 and 127.a.b.2 (a, b from this process's id,
% so that concurrent runs do not meet), each listening there alone (the preloaded shim), as
% nobody where this runs as root (the server refuses root), killed after limit seconds whatever
% becomes of this process. Returns their addresses, pid files and watchdogs' process ids.
function s = start_servers (shim, limit)
  binary = fullfile (fileparts (which ('pserver')), 'bin', 'octave-pserver');
  if (~exist (binary, 'file')), binary = '/usr/libexec/octave-pserver'; end
  octave_binary = fullfile (OCTAVE_HOME (), 'bin', 'octave-cli');
  if (exist ([octave_binary '-' OCTAVE_VERSION()], 'file'))
    octave_binary = [octave_binary '-' OCTAVE_VERSION()];
  end
  id = getpid ();
  base = sprintf ('127.%d.%d.', mod (floor (id / 256), 256), mod (id, 256));
  s.home = tempname ();
  mkdir (s.home);
  drop = '';
  if (getuid () == 0)
    drop = 'setpriv --reuid=65534 --regid=65534 --clear-groups';
    system (sprintf ('chown 65534:65534 %s', s.home));
  end
  s.hosts = {[base '1'], [base '2']};
  s.pidfiles = cell (1, 2);
  s.watchdogs = zeros (1, 2);
  for k = 1:2
    node = sprintf ('nurbs-test-%d-%d', id, k);
    s.pidfiles{k} = sprintf ('/tmp/.octave-%s.pid', node);
    status = system (sprintf (['timeout 20 %s env HOME=%s LD_PRELOAD=%s ' ...
                               'NURBS_PSERVER_ADDRESS=%s NURBS_PSERVER_NODE=%s %s ' ...
                               '--octave-binary %s --no-auth > %s/server%d.log 2>&1 ' ...
                               '< /dev/null'], ...
                              drop, s.home, shim, s.hosts{k}, node, binary, octave_binary, ...
                              s.home, k));
    if (status ~= 0)
      error ('octave-pserver failed to start (status %d): %s', status, ...
             fileread (sprintf ('%s/server%d.log', s.home, k)));
    end
    % The watchdog in a process group of its own, so that stopping it stops its sleep too.
    [~, out] = system (sprintf (['setsid sh -c ''sleep %d; [ -f %s ] && kill $(cat %s)'' ' ...
                                 '> /dev/null 2>&1 < /dev/null & echo $!'], limit, ...
                                s.pidfiles{k}, s.pidfiles{k}));
    s.watchdogs(k) = str2double (out);
  end
  % The servers daemonise: wait for their pid files (their sockets are bound before).
  for wait = 1:100
    if (all (cellfun (@(f) exist (f, 'file') == 2, s.pidfiles))), break; end
    pause (0.05);
  end
end

function stop_servers (s)
  for k = 1:2
    if (exist (s.pidfiles{k}, 'file'))
      system (sprintf ('kill $(cat %s) > /dev/null 2>&1', s.pidfiles{k}));
    end
    if (s.watchdogs(k) > 0)
      system (sprintf ('kill -- -%d > /dev/null 2>&1', s.watchdogs(k)));
    end
  end
  for wait = 1:100
    if (~any (cellfun (@(f) exist (f, 'file') == 2, s.pidfiles))), break; end
    pause (0.05);
  end
  confirm_recursive_rmdir (false, 'local');
  rmdir (s.home, 's');
end

% The parts' sums against the whole for results{j} of jobs(j).
function t = check_sums (t, results, whole, names, counts, extra, how)
  at = 1;
  for c = 1:numel (whole)
    for n = [counts, extra{c}]
      K = summed (results(at:at + n - 1));
      t = expect (t, frob (K, whole{c}) < 1e-14 && isequal (size (K), size (whole{c})), ...
                  sprintf ('%s: %d parts summed (%s)', names{c}, n, how));
      at += n;
    end
  end
end

% Each element's (1-based) index in each direction of a grid of n elements a direction, one row
% an element.
function i = ind (e, n)
  [a, b, c] = ind2sub (n, e(:));
  i = [a, b, c];
end

function v = ifelse (test, a, b)
  if (test), v = a; else, v = b; end
end

pkg load nurbs
t = harness ();

% The cases: a 2-D patch, a 3-D patch, a 2-D domain of three patches; 12 elements each.
s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
annulus = nrbmak (permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]), ...
                  {[0 0 0 1 1 1], [0 0 1 1]});
names = {'2-D patch', '3-D patch', '2-D domain'};
geometries = {refine(annulus, [2 2], [4 3]), ...
              refine(nrbextrude(annulus, [0 0 1]), [2 2 2], [3 2 2]), ...
              Multipatch([unit_square(0, 0, 2, 2), unit_square(1, 0, 2, 2), ...
                          unit_square(0, 1, 2, 2)])};
whole = cellfun (@(g) StiffnessMatrix (g, 1), geometries, 'UniformOutput', false);

% The jobs: every case in 1, 2, 3 and 7 parts, the 3-D patch a part per element, the domain
% in 13 parts (one empty).
counts = [1 2 3 7];
extra = {[], 12, 13};
jobs = struct ('case', {}, 'geometry', {}, 'options', {});
for c = 1:numel (geometries)
  for n = [counts, extra{c}]
    parts = SplitElements (geometries{c}, n);
    for k = 1:n
      jobs(end + 1) = struct ('case', c, 'geometry', geometries(c), 'options', parts(k));
    end
  end
end
assemble = @(g, options) StiffnessMatrix (g, 1, options{:});

% In this process: the parts, parts chosen by hand (uneven, empty, one an element), the other
% forms over a domain.
results = arrayfun (@(j) assemble (j.geometry, j.options), jobs, 'UniformOutput', false);
t = check_sums (t, results, whole, names, counts, extra, 'in process');
nel = 12;
uneven = {{'elements', 1}, {'elements', []}, {'elements', 2:9}, {'elements', []}, ...
          {'elements', 10:12}};
for c = 1:2
  K = summed (cellfun (@(o) assemble (geometries{c}, o), uneven, 'UniformOutput', false));
  t = expect (t, frob (K, whole{c}) < 1e-14, [names{c} ': uneven and empty parts']);
  one = arrayfun (@(e) assemble (geometries{c}, {'elements', e}), 1:nel, 'UniformOutput', false);
  t = expect (t, frob (summed (one), whole{c}) < 1e-14, [names{c} ': a part per element']);
end
mp = geometries{3};
mixed = {{'patches', [1 3], 'elements', {1:3, [], 4}}, ...
         {'patches', [], 'elements', {[], [], []}}, ...
         {'patches', 1, 'elements', {4, 1:4, []}}, {'patches', [2 3], 'elements', {[], 1:4, 1:3}}};
K = summed (cellfun (@(o) assemble (mp, o), mixed, 'UniformOutput', false));
t = expect (t, frob (K, whole{3}) < 1e-14, 'domain: uneven parts over patches, an empty one');
t = expect (t, nnz (StiffnessMatrix (mp, 1, 'patches', [])) == 0 && ...
               isequal (size (LoadVector (mp, 1, 'patches', [])), [mp.ndof 1]), ...
            'domain: no patches chosen gives the full-size zero result');
parts = SplitElements (mp, 5);
f = @(x, y) 1 + x .* y;
F = 0; M = 0;
for k = 1:5
  F = F + LoadVector (mp, f, parts{k}{:});
  M = M + MassMatrix (mp, 1, parts{k}{:});
end
t = expect (t, frob (F, LoadVector (mp, f)) < 1e-14 && frob (M, MassMatrix (mp, 1)) < 1e-14, ...
            'domain: load vector and mass matrix in 5 parts');

% The split itself: every element once, each part a box (ascending), sizes within the
% rounding of the halvings (at most twice as many as n parts of equal size would hold); the
% first cut along the direction of the most elements where it fits the parts (the ring's
% first, of 3); empty parts past the elements; work balanced across degrees.
ring = geometries{2};
is_box = @(e) isempty (e) || numel (e) == prod (max (ind (e, [3 2 2]), [], 1) - ...
                                                   min (ind (e, [3 2 2]), [], 1) + 1);
for n = [1 2 3 5 7 12 13 40 65536]
  parts = SplitElements (ring, n);
  got = cellfun (@(p) p{2}, parts, 'UniformOutput', false);
  sizes = cellfun (@numel, got);
  t = expect (t, numel (parts) == n && isequal (sort ([got{:}]), 1:nel) && ...
                 all (cellfun (@(g) issorted (g), got)) && all (cellfun (is_box, got)) && ...
                 max (sizes) <= 2 * ceil (nel / n) && ...
                 all (cellfun (@(p) strcmp (p{1}, 'elements'), parts)), ...
              sprintf ('patch in %d parts: each element once, boxes, balanced', n));
end
parts = SplitElements (ring, 3);
t = expect (t, isequal (parts{1}{2}, 1:3:12) && isequal (parts{3}{2}, [8 9 11 12]), ...
            'the first cut along the direction of the most elements');
space = struct ('knots', {{[0 0 0 1/4 1/2 3/4 1 1 1], [0 0 1/3 2/3 1 1]}}, 'order', [3 2]);
parts = SplitElements (annulus, 2, 'space', space);
t = expect (t, isequal (parts{1}{2}, [1 2 5 6 9 10]) && isequal (parts{2}{2}, [3 4 7 8 11 12]), ...
            'the space''s elements, not the geometry''s (4 x 3: halves along the first direction)');
parts = SplitElements (refine (annulus, [2 2], [1 1]), 3);
t = expect (t, isequal (parts, {{'elements', 1}, {'elements', zeros(1, 0)}, ...
                                {'elements', zeros(1, 0)}}), 'one element in 3 parts: two empty');
% Two patches apart, linear on 8 x 8 elements (64 x 4^3 = 4096) and cubic on 2 x 2 (4 x 16^3 =
% 16384): in 5 parts of 4096, the linear patch is one part, each cubic element one.
apart = Multipatch ([unit_square(0, 0, 1, 8), unit_square(3, 0, 3, 2)]);
parts = SplitElements (apart, 5);
t = expect (t, isequal (parts{1}, {'patches', 1, 'elements', {1:64, zeros(1, 0)}}) && ...
               all (arrayfun (@(k) isequal (parts{k + 1}, {'patches', 2, 'elements', ...
                                                             {zeros(1, 0), k}}), 1:4)), ...
            'domain: work per element nqn nsh^2, parts balanced across degrees');
parts = SplitElements (apart, 2);
t = expect (t, isequal (parts{1}{2}, [1 2]) && isequal (parts{1}{4}{2}, 1) && ...
               isequal (parts{2}{2}, 2), 'domain: a part across two patches');

% Faults, by identifier.
bad = {{annulus}, 'usage'; {annulus, 0}, 'partCount'; {annulus, -1}, 'partCount'; ...
       {annulus, 2.5}, 'partCount'; {annulus, NaN}, 'partCount'; {annulus, Inf}, 'partCount'; ...
       {annulus, [2 3]}, 'partCount'; {annulus, '2'}, 'partCount'; {annulus, 2i}, 'partCount'; ...
       {annulus, {2}}, 'partCount'; {annulus, 65537}, 'partCount'; ...
       {annulus, 1e300}, 'partCount'; ...
       {42, 2}, 'notStruct'; {[annulus annulus], 2}, 'notStruct'; ...
       {struct('order', 2), 2}, 'missingField'; {struct('knots', [0 0 1 1]), 2}, 'missingField'; ...
       {struct('knots', {{[0 1 0 1]}}, 'order', 2), 2}, 'fieldType'; ...
       {struct('knots', {{[0 0 NaN 1 1]}}, 'order', 2), 2}, 'fieldType'; ...
       {struct('knots', {{[0 1]}}, 'order', 2), 2}, 'fieldType'; ...
       {struct('knots', {{[0 0 1 1]}}, 'order', 1.5), 2}, 'fieldType'; ...
       {struct('knots', {{[0 0 1 1]}}, 'order', [2 2]), 2}, 'fieldType'; ...
       {struct('knots', {{'ab'}}, 'order', 1), 2}, 'fieldType'; ...
       {annulus, 2, 'space'}, 'unknownOption'; {annulus, 2, 'elements', 1}, 'unknownOption'; ...
       {annulus, 2, 'space', 3}, 'optionValue'; {mp, 2, 'space', space}, 'optionValue'; ...
       {setfield(mp, 'npatch', 4), 2}, 'notStruct'};
for k = 1:rows (bad)
  t = expect_error (t, @() SplitElements (bad{k, 1}{:}), ['SplitElements:' bad{k, 2}], ...
                    sprintf ('fault %d: %s', k, bad{k, 2}));
end

if (isempty (pkg ('list', 'parallel')))
  printf ('the parallel package (Debian octave-parallel, tools/setup.sh) is not installed: ');
  printf ('the checks on other processes skipped\n');
  printf ('%d passed, %d failed\n', t.passed, t.failed);
  exit (ifelse (t.failed > 0, 1, 77));
end
pkg load parallel

% parcellfun on 2 processes (fresh Octave sessions with this one's path).
tic;
results = parcellfun (2, assemble, {jobs.geometry}, {jobs.options}, 'UniformOutput', false, ...
                      'VerboseLevel', 0);
printf ('parcellfun, 2 processes: %d parts in %.1f s\n', numel (jobs), toc);
t = check_sums (t, results, whole, names, counts, extra, 'parcellfun');
r = parallel_assembly (4, 2);
t = expect (t, ~r.skipped && r.difference < 1e-14 && r.l2 < 1e-2 && r.parts == 4, ...
            'the example on parcellfun: the parts sum to the one call, the solution converges');

% netcellfun over two servers on loopback addresses, one process each. Without
% authentication: Debian's build of the package has no TLS (parallel_generate_srp_data is
% missing), so the servers listen on loopback addresses alone.
tic;
servers = start_servers (shim, 120);
try
  connections = pconnect (servers.hosts, struct ('use_tls', false));
  network_set (connections, 'nlocaljobs', 1);
  reval (sprintf ('addpath (''%s'');', toolbox), connections(2:end));
  info = network_get_info (connections);
  results = netcellfun (connections, assemble, {jobs.geometry}, {jobs.options}, ...
                        'UniformOutput', false, 'VerboseLevel', 0);
  % Which server ran a part: both must have.
  pids = netcellfun (connections, @(k) getpid (), num2cell (1:4), 'VerboseLevel', 0);
  sclose (connections);
  example = parallel_assembly (4, 2, servers.hosts);
  stop_servers (servers);
catch err
  stop_servers (servers);
  rethrow (err);
end
printf ('netcellfun, two servers: %d parts in %.1f s with the servers'' start and stop\n', ...
        numel (jobs), toc);
t = expect (t, numel (info) == 3 && numel (unique (pids)) == 2, 'both servers took parts');
t = check_sums (t, results, whole, names, counts, extra, 'netcellfun');
t = expect (t, ~example.skipped && example.difference < 1e-14 && example.l2 == r.l2, ...
            'the example on netcellfun: the same solution as on parcellfun');
t = expect (t, ~any (cellfun (@(f) exist (f, 'file') == 2, servers.pidfiles)), ...
            'the servers stopped');
report (t);
