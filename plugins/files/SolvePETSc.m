% SOLVEPETSC  A form's linear system assembled and solved across MPI processes with PETSc.
%
%   u = SolvePETSc(geometry, form, coefficients..., b)
%   [u, report] = SolvePETSc(geometry, form, coefficients..., b, Name, Value, ...)
%
%   Writes the problem into a working folder, runs the program nurbsbasis-mpi under mpiexec on
%   'np' processes (of this machine, or of the machines of a 'hostfile'), reads the solution
%   back and removes what it wrote. Each process assembles its share of the elements natively
%   (the forms' own code, as StiffnessMatrix's) into its rows of one PETSc matrix (MATMPIAIJ,
%   preallocated exactly), and PETSc's KSP solves A u = b, by default with CG and GAMG to a
%   relative tolerance of 1e-10; PETSc's own options ('options') choose any other solver.
%
%   geometry  a patch (nrbmak) or a domain (Multipatch): its elements, its spaces and its global
%             numbering, with the forms' default quadrature
%   form      'stiffness' (StiffnessMatrix, coefficient c), 'mass' (MassMatrix, c),
%             'elasticity' (ElasticityMatrix, lambda and mu), 'stiffness+mass' (a coefficient
%             of each, their sum as one matrix); the forms' names (StiffnessMatrix, ...) too
%   coefficients  scalars, values at MeshEval's nodes (nqn x nel; over a domain a cell of one
%             array a patch), or handles of the coordinates, as the forms take them
%   b         the whole right-hand side: ndof values (rdim ndof for elasticity, component
%             after component, as ElasticityMatrix numbers them)
%
%   Options (name, value pairs):
%     'np'         processes (default 1)
%     'hostfile'   a hostfile of mpiexec's for several machines ('' for this one)
%     'options'    PETSc's options as one string, e.g. '-ksp_type gmres -pc_type jacobi
%                  -ksp_rtol 1e-8'; an option nothing reads is a fault (badOptions)
%     'dirichlet'  {dofs, values}: unknowns held fixed (1-based, as DirichletValues gives
%                  them) and their values; u(dofs) = values, and b(dofs) is not used
%     'mpiexec'    the launcher's command (default 'mpiexec'), e.g. 'mpiexec --oversubscribe'
%     'workdir'    a folder for the files (default a new one under tempdir, removed after);
%                  the processes read and write only on the machine of the first
%
%   u is the whole solution, a column. report: processes, threads (a process), unknowns, ksp,
%   pc, converged (false where KSP stopped without convergence), reason (KSP's), iterations,
%   residual (KSP's norm), relative_residual (|b - A u| / |b|); time, a struct of each phase's
%   seconds on every process (read, partition, preallocation, assembly, insertion, exchange,
%   dirichlet, setup, solve, write); elements, rows, entries and memory_mb (peak) per process;
%   client: the seconds to write the files, to run the program and to read the solution. With
%   '-nurbs_write_matrix' among the options, report.matrix is the assembled matrix before the
%   Dirichlet rows (for checks).
%
%   Errors (identifier SolvePETSc:<mnemonic>): usage, unknownOption, optionValue, notBuilt
%   (no nurbsbasis-mpi: it needs PETSc, Debian's petsc-dev, at the build), launchFailed (the
%   launcher failed or a process died; its output is in the message), solverFailed (KSP did
%   not converge and report was not asked for, or failed), badOptions (PETSc refused an option,
%   or nothing read one), badProblem, badDirichlet, and those of the forms (a patch's knots).
%
%   Example, Poisson on the quarter annulus (2 processes):
%     s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
%     g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
%     g.knots = {[0 0 0 1 1 1], [0 0 1 1]}; g.order = [3 2];
%     fixed = unique ([MeshEval(g, 'side', 1).dofs, MeshEval(g, 'side', 2).dofs]);
%     [u, report] = SolvePETSc (g, 'stiffness', 1, LoadVector (g, 1), 'np', 2, ...
%                               'dirichlet', {fixed, zeros(size (fixed))});
%
%   See also StiffnessMatrix, ElasticityMatrix, DirichletValues, WritePETSc, ReadPETSc.
function [u, report] = SolvePETSc (geometry, form, varargin)
  who = 'SolvePETSc';
  fail = @(mnemonic, varargin) error ([who ':' mnemonic], varargin{:});
  if (nargin < 4 || ~ischar (form))
    fail ('usage', 'usage: [u, report] = SolvePETSc (geometry, form, coefficients..., b, Name, Value, ...)');
  end
  switch (lower (form))
    case {'stiffness', 'stiffnessmatrix'}, kind = 1; names = {'c'};
    case {'mass', 'massmatrix'}, kind = 2; names = {'c'};
    case {'elasticity', 'elasticitymatrix'}, kind = 3; names = {'lambda', 'mu'};
    case 'stiffness+mass', kind = 4; names = {'c', 'c of the mass'};
    otherwise
      fail ('optionValue', ['form must be ''stiffness'', ''mass'', ''elasticity'' or ' ...
                            '''stiffness+mass''; found ''%s''.'], form);
  end
  ncoef = numel (names);
  if (numel (varargin) < ncoef + 1)
    fail ('usage', 'the form %s takes %d coefficient%s, then b.', form, ncoef, ...
          ifelse (ncoef == 1, '', 's'));
  end
  coefficients = varargin(1:ncoef);
  b = varargin{ncoef + 1};
  options = varargin(ncoef + 2:end);
  np = 1; hostfile = ''; petsc = ''; dirichlet = {[], []}; launcher = 'mpiexec'; workdir = '';
  if (mod (numel (options), 2) ~= 0)
    fail ('unknownOption', 'options must come in name, value pairs; found %d arguments.', ...
          numel (options));
  end
  for k = 1:2:numel (options)
    name = options{k};
    v = options{k + 1};
    if (~ischar (name))
      fail ('unknownOption', 'option %d must be a name; found a %s.', (k + 1) / 2, class (name));
    end
    switch (lower (name))
      case 'np'
        if (~isnumeric (v) || ~isscalar (v) || ~(v >= 1) || v ~= fix (v) || isinf (v))
          fail ('optionValue', 'np must be a whole number of processes, at least 1.');
        end
        np = double (v);
      case 'hostfile', hostfile = text_option (fail, name, v);
      case 'options', petsc = text_option (fail, name, v);
      case 'mpiexec', launcher = text_option (fail, name, v);
      case 'workdir', workdir = text_option (fail, name, v);
      case 'dirichlet'
        if (~iscell (v) || numel (v) ~= 2 || ~isnumeric (v{1}) || ~isnumeric (v{2}) || ...
            numel (v{1}) ~= numel (v{2}))
          fail ('optionValue', 'dirichlet must be {dofs, values}, as many of each.');
        end
        dirichlet = {double(v{1}(:)), double(v{2}(:))};
      otherwise
        fail ('unknownOption', ['unknown option ''%s''; the options are np, hostfile, ' ...
                                'options, dirichlet, mpiexec, workdir.'], name);
    end
  end
  program = find_program ();
  if (isempty (program))
    fail ('notBuilt', ['nurbsbasis-mpi is not built: it needs PETSc and MPI at the build ' ...
                       '(Debian: apt-get install petsc-dev openmpi-bin, then tools/build.sh, ' ...
                       'or cmake -DNURBS_MPI=ON where PETSc is found); it is looked for in ' ...
                       'NURBS_MPI_PROGRAM where that is set, else beside SolvePETSc.m and on ' ...
                       'the PATH.']);
  end

  % The problem as the program reads it: the header, then each patch's inputs, numbering and
  % coefficients at its nodes.
  if (is_domain (geometry))
    [~, pieces] = domain_pieces (who, geometry, {}, {});
    meshes = {pieces.mesh};
    gnums = geometry.gnum;
    ndof = geometry.ndof;
  else
    meshes = {mesh_arguments(who, geometry, {}, {})};
    ndof = functions_of (meshes{1});
    gnums = {1:ndof};
  end
  npatch = numel (meshes);
  objects = {[1; kind; npatch; 0]};
  [nqn, nel] = cellfun (@nodes_of, meshes);
  nodes = nqn .* nel;
  handles = any (cellfun (@(c) isa (c, 'function_handle'), coefficients));
  rdim = 0;
  for p = 1:npatch
    mesh = meshes{p};
    xk = [];
    if (handles || p == 1)
      % The nodes' coordinates, a few thousand elements a call (MeshEval's chunks).
      mesh{15}(1:3) = 0;
      chunks = {};
      for e = 1:4096:max (nel(p), 1)
        mesh{14} = e:min (e + 4095, nel(p));
        [~, ~, chunks{end + 1}] = MeshEvalCore (mesh{:});
        if (~handles), break; end
      end
      xk = [chunks{:}];
      if (p == 1), rdim = rows (xk) / max (nqn(1), 1); end
      mesh{14} = 0;
    end
    if (isempty (gnums{p}) || numel (gnums{p}) ~= functions_of (mesh))
      fail ('badProblem', 'patch %d: its numbering must hold one index a function.', p);
    end
    objects(end + 1:end + 16) = [cellfun(@(a) double (a(:)), mesh, 'UniformOutput', false), ...
                                 {double(gnums{p}(:))}];
    for c = 1:ncoef
      objects{end + 1} = coefficient_at (fail, coefficients{c}, names{c}, p, npatch, ...
                                         nodes, xk, nqn(p));
    end
  end
  objects{1}(4) = ndof;
  unknowns = ndof * ifelse (kind == 3, rdim, 1);
  if (~isnumeric (b) || numel (b) ~= unknowns)
    fail ('optionValue', 'b must hold one value an unknown, %d; found %d.', unknowns, numel (b));
  end

  % The files, the run, the solution; what was written is removed on the way out, also on an
  % error or an interrupt.
  created = isempty (workdir);
  if (created)
    workdir = tempname ();
    if (~mkdir (workdir)), fail ('launchFailed', 'the folder %s could not be made.', workdir); end
  end
  files = fullfile (workdir, {'problem.dat', 'rhs.dat', 'dirichlet.dat', 'solution.dat', ...
                              'report.txt', 'matrix.dat', 'log.txt'});
  cleanup = onCleanup (@() remove_files (files, workdir, created));
  clock = tic ();
  WritePETSc (files{1}, objects{:});
  WritePETSc (files{2}, double (full (b(:))));
  WritePETSc (files{3}, dirichlet{:});
  client.write = toc (clock);
  host = '';
  if (~isempty (hostfile)), host = ['--hostfile ' quote(hostfile) ' ']; end
  command = sprintf ('%s -n %d %s%s %s %s > %s 2>&1', launcher, np, host, quote (program), ...
                     quote (workdir), petsc, quote (files{7}));
  clock = tic ();
  [status, ~] = system (command);
  client.run = toc (clock);
  log = '';
  if (exist (files{7}, 'file')), log = fileread (files{7}); end
  if (status ~= 0 || ~exist (files{4}, 'file') || ~exist (files{5}, 'file'))
    found = regexp (log, 'nurbsbasis-mpi: SolvePETSc:(\w+): ([^\n]*)', 'tokens', 'once');
    if (~isempty (found))
      error (['SolvePETSc:' found{1}], '%s', found{2});
    end
    fail ('launchFailed', '%s failed (status %d): %s', command, status, strtrim (tail_of (log)));
  end
  clock = tic ();
  u = ReadPETSc (files{4});
  report = read_report (files{5});
  if (exist (files{6}, 'file')), report.matrix = ReadPETSc (files{6}); end
  client.read = toc (clock);
  report.client = client;
  report.log = log;
  if (~report.converged && nargout < 2)
    fail ('solverFailed', ['KSP (%s, %s) did not converge: %s after %d iterations, residual ' ...
                           '%g (ask for the report to have the solution anyway).'], ...
          report.ksp, report.pc, report.reason, report.iterations, report.residual);
  end
end

function v = text_option (fail, name, v)
  if (~ischar (v) || (~isrow (v) && ~isempty (v)))
    fail ('optionValue', '%s must be a character row.', name);
  end
end

function q = quote (s)
  q = ['''' strrep(s, '''', '''\''''') ''''];
end

% Functions of a patch's space, from its mesh inputs.
function n = functions_of (mesh)
  order = mesh{6}; knots = mesh(7:9);
  if (isempty (order)), order = mesh{2}; knots = mesh(3:5); end
  n = prod (cellfun (@numel, knots(1:numel (order))) - double (order));
end

% Nodes an element and elements of a patch, from its mesh inputs.
function [nqn, nel] = nodes_of (mesh)
  order = mesh{6}; knots = mesh(7:9);
  if (isempty (order)), order = mesh{2}; knots = mesh(3:5); end
  nqn = 1; nel = 1;
  for k = 1:numel (order)
    rule = mesh{10 + k};
    if (isscalar (rule)), nqn = nqn * double (rule); else, nqn = nqn * columns (rule); end
    nel = nel * (numel (unique (knots{k})) - 1);
  end
end

function t = tail_of (log)
  t = log(max (1, end - 1500):end);
end

% The program: NURBS_MPI_PROGRAM where it is set (and nowhere else), else beside this file or
% on the PATH.
function program = find_program ()
  program = getenv ('NURBS_MPI_PROGRAM');
  if (~isempty (program))
    if (~exist (program, 'file')), program = ''; end
    return;
  end
  program = fullfile (fileparts (mfilename ('fullpath')), 'nurbsbasis-mpi');
  if (exist (program, 'file') && ~ispc ()), return; end
  program = '';
  if (~ispc ())
    [status, out] = system ('command -v nurbsbasis-mpi');
    if (status == 0), program = strtrim (out); end
  end
end

% Coefficient c at patch p's nodes: one value, or one a node (a cell of one array a patch, or
% every patch's in turn, or a handle of the coordinates).
function v = coefficient_at (fail, c, name, p, npatch, nodes, xk, nqn)
  if (isa (c, 'function_handle'))
    rdim = numel (xk) / max (nodes(p), 1);
    x = num2cell (reshape (xk, rdim, []), 2);
    try
      v = c (x{:});
    catch err
      fail ('coefficientError', 'the coefficient %s failed at the nodes: %s', name, err.message);
    end
    if (~isscalar (v) && numel (v) ~= nodes(p))
      fail ('coefficientSize', 'the coefficient %s must return one value a node.', name);
    end
  elseif (iscell (c))
    if (numel (c) ~= npatch)
      fail ('coefficientSize', 'the coefficient %s must be a cell of %d arrays, one a patch.', ...
            name, npatch);
    end
    v = c{p};
  elseif (isscalar (c) || npatch == 1)
    v = c;
  else
    ends = cumsum (nodes);
    if (numel (c) ~= ends(end))
      fail ('coefficientSize', 'the coefficient %s must hold one value a node of every patch.', name);
    end
    v = c(ends(p) - nodes(p) + 1:ends(p));
  end
  if (~(isnumeric (v) || islogical (v)) || (~isscalar (v) && numel (v) ~= nodes(p)))
    fail ('coefficientSize', ['the coefficient %s must be a scalar or hold one value a node ' ...
                              '(nqn x nel = %d x %d) of patch %d.'], name, nqn, ...
          nodes(p) / max (nqn, 1), p);
  end
  v = double (v(:));
end

function r = read_report (file)
  r = struct ();
  r.time = struct ();
  text = strsplit (strtrim (fileread (file)), "\n");
  for k = 1:numel (text)
    parts = strsplit (strtrim (text{k}), ' ');
    key = parts{1};
    values = str2double (parts(2:end));
    if (strncmp (key, 'time_', 5))
      r.time.(key(6:end)) = values;
    elseif (any (strcmp (key, {'ksp', 'pc', 'reason'})))
      r.(key) = parts{2};
    elseif (strcmp (key, 'converged'))
      r.converged = values(1) == 1;
    else
      r.(key) = values;
    end
  end
end

function remove_files (files, workdir, created)
  for k = 1:numel (files)
    if (exist (files{k}, 'file')), delete (files{k}); end
  end
  if (created && exist (workdir, 'dir')), rmdir (workdir); end
end

function v = ifelse (test, a, b)
  if (test), v = a; else, v = b; end
end
