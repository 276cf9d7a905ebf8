% PETSc's binary files and the MPI program: WritePETSc and ReadPETSc against PETSc's own readers
% and writers (petsc4py for Debian's /usr/bin/python3, PetscBinaryRead.m of petsc-dev), corrupt
% files; SolvePETSc on loopback with 1, 2 and 3 processes against StiffnessMatrix,
% ElasticityMatrix and backslash, and its faults. Prints 'N passed, N failed'; exits 77 (skipped)
% where the program or petsc4py is missing. OpenMPI's run-as-root settings are this test's own.
1;  % a script: its helper functions first

function ok = python (code)
  [status, out] = system (sprintf ('/usr/bin/python3 -c "%s" 2>&1', code));
  ok = status == 0;
  if (~ok), printf ('%s\n', out); end
end

function read_two (name)
  [p, q] = ReadPETSc (name);
end

function v = ifelse (test, a, b)
  if (test), v = a; else, v = b; end
end

function data = bytes_of (file)
  f = fopen (file, 'r');
  data = fread (f, Inf, 'uint8=>uint8');
  fclose (f);
end

function put_bytes (file, data)
  f = fopen (file, 'w');
  fwrite (f, data, 'uint8');
  fclose (f);
end

% The quarter annulus, cubic, n x n elements.
function g = annulus (n)
  s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
  g = nrbmak (permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]), {[0 0 0 1 1 1], [0 0 1 1]});
  k = (1:n - 1) / n;
  g = nrbkntins (nrbdegelev (g, [1 2]), {k, k});
end

% A unit cube at x0, degree p, n elements a direction.
function g = cube (x0, p, n)
  g = nrbextrude (nrb4surf ([x0 0 0], [x0 + 1 0 0], [x0 1 0], [x0 + 1 1 0]), [0 0 1]);
  g = nrbdegelev (g, [p p p] - (g.order - 1));
  k = (1:n - 1) / n;
  g = nrbkntins (g, {k, k, k});
end

function fixed = faces (geometry, sides)
  fixed = [];
  for side = sides
    fixed = union (fixed, MeshEval (geometry, 'side', side).dofs);
  end
end

% The reference: free unknowns by backslash, the fixed ones given.
function u = reference (K, F, fixed, values)
  free = setdiff (1:numel (F), fixed);
  u = zeros (size (F));
  u(fixed) = values;
  u(free) = K(free, free) \ (F(free) - K(free, fixed) * values(:));
end

if (isempty (which ('nurbsbasis-mpi')) && ~exist (fullfile (fileparts (which ('SolvePETSc')), 'nurbsbasis-mpi'), 'file'))
  printf ('nurbsbasis-mpi not built: skipped\n');
  exit (77);
end
if (~python ('import petsc4py'))
  printf ('petsc4py missing for /usr/bin/python3: skipped\n');
  exit (77);
end
pkg load nurbs
setenv ('OMPI_ALLOW_RUN_AS_ROOT', '1');
setenv ('OMPI_ALLOW_RUN_AS_ROOT_CONFIRM', '1');
setenv ('OMPI_MCA_rmaps_base_oversubscribe', '1');   % 3 processes on 2 cores
setenv ('OMPI_MCA_btl', 'self,vader');               % loopback only: no network
t = harness ();
scratch = tempname ();
mkdir (scratch);
cleanup = onCleanup (@() confirm_recursive_rmdir (false, 'local') + rmdir (scratch, 's'));
name = fullfile (scratch, 'a.dat');

% --- Round trips: empty rows and columns, 1 x 1, 10^6 entries, vectors, several objects.
A = sparse ([1 4 4], [2 1 5], [2.5 -1 3e300], 6, 5);   % rows 2, 3, 5, 6 and column 3, 4 empty
big = sprand (2000, 2000, 0.25);
t = expect (t, nnz (big) > 9e5, 'the large matrix has about 10^6 entries');
WritePETSc (name, A, sparse (7), big, [1; -2; 3], zeros (1, 0), [1 2; 3 0]);
[B, one, C, x, e, D] = ReadPETSc (name);
t = expect (t, isequal (A, B) && issparse (B), 'empty rows and columns: the same matrix');
t = expect (t, isequal (one, sparse (7)), 'a 1 x 1');
t = expect (t, isequal (C, big), '10^6 entries: the same bits');
t = expect (t, isequal (x, [1; -2; 3]) && ~issparse (x), 'a vector, as a column');
t = expect (t, isequal (size (e), [0 1]), 'an empty vector');
t = expect (t, isequal (D, sparse ([1 2; 3 0])), 'a full matrix, as its entries that are not 0');
[t, err] = expect_error (t, @() ReadPETSc (fullfile (scratch, 'none.dat')), 'ReadPETSc:openFailed', 'a missing file');
WritePETSc (name, speye (2));
[t, err] = expect_error (t, @() read_two (name), 'ReadPETSc:tooFewObjects', 'fewer objects than outputs');
delete (name);
[t, err] = expect_error (t, @() WritePETSc (name, sparse (2^31, 1)), 'WritePETSc:tooLarge', 'rows beyond 2^31 - 1');
t = expect (t, ~exist (name, 'file'), 'a refused write leaves no file');
[t, err] = expect_error (t, @() WritePETSc (name, single (1)), 'WritePETSc:notDouble', 'single');
[t, err] = expect_error (t, @() WritePETSc (name, [1i 2]), 'WritePETSc:complex', 'complex');
[t, err] = expect_error (t, @() WritePETSc (fullfile (scratch, 'no', 'such', 'x.dat'), 1), 'WritePETSc:openFailed', 'a folder that is not there');
[t, err] = expect_error (t, @() WritePETScCore ([0 65], 1), 'WritePETSc:fileName', 'a name byte of 0');

% --- Against PETSc: petsc4py reads ours, we read petsc4py's, PetscBinaryRead.m reads ours.
WritePETSc (name, A, [1; -2; 3]);
t = expect (t, python (sprintf (['from petsc4py import PETSc; v = PETSc.Viewer().createBinary(''%s'', ''r''); ' ...
    'M = PETSc.Mat().load(v); x = PETSc.Vec().load(v); ' ...
    'assert M.getSize() == (6, 5) and M.getValue(3, 4) == 3e300 and M.getValue(0, 1) == 2.5 ' ...
    'and M.getValue(3, 0) == -1 and M.getInfo()[''nz_used''] == 3; ' ...
    'assert list(x.getArray()) == [1, -2, 3]'], name)), 'petsc4py reads our matrix and vector');
theirs = fullfile (scratch, 'theirs.dat');
t = expect (t, python (sprintf (['from petsc4py import PETSc; M = PETSc.Mat().createAIJ([4, 3], nnz=3); ' ...
    'M.setValue(0, 2, 1.5); M.setValue(3, 0, -2.0); M.setValue(3, 1, 4.0); M.setValue(1, 1, 0.0); M.assemble(); ' ...
    'x = PETSc.Vec().createSeq(2); x.setArray([7.0, -0.5]); v = PETSc.Viewer().createBinary(''%s'', ''w''); ' ...
    'M.view(v); x.view(v)'], theirs)), 'petsc4py writes a matrix and a vector');
[M, y] = ReadPETSc (theirs);
t = expect (t, isequal (M, sparse ([1 4 4], [3 1 2], [1.5 -2 4], 4, 3)) && isequal (y, [7; -0.5]), ...
            'PETSc''s own file read back (its stored 0 left out)');
addpath ('/usr/share/petsc/3.18/share/petsc/matlab');
if (exist ('PetscBinaryRead', 'file'))
  WritePETSc (name, big, [1; -2; 3]);
  [P, z] = PetscBinaryRead (name);
  t = expect (t, isequal (P, big) && isequal (z, [1; -2; 3]), 'PetscBinaryRead.m reads ours');
else
  printf ('PetscBinaryRead.m not found: its case skipped\n');
end

% --- Corrupt files: every truncation, and fields changed one at a time: identified, no crash.
WritePETSc (name, A, [1; 2]);
good = bytes_of (name);
ids = {'ReadPETSc:truncated', 'ReadPETSc:tooFewObjects'};
all_identified = true;
for n = [0:20, 21:7:numel(good) - 1]
  put_bytes (name, good(1:n));
  try
    read_two (name);
    all_identified = false;
  catch err
    all_identified = all_identified && any (strcmp (err.identifier, ids));
  end
end
t = expect (t, all_identified, 'every truncation refused as truncated');
corrupt = {1, uint8([0 0 0 1]), 'ReadPETSc:notPETSc'; 5, uint8([255 255 255 255]), 'ReadPETSc:badHeader'; ...
           13, uint8([127 255 255 255]), 'ReadPETSc:truncated'; 17, uint8([0 0 0 9]), 'ReadPETSc:badRowLengths'; ...
           17, uint8([255 255 255 255]), 'ReadPETSc:badRowLengths'; 41, uint8([0 0 0 9]), 'ReadPETSc:badColumns'; ...
           1, uint8([0 18 123 82]), 'ReadPETSc:unsupported'; 13, uint8([255 255 255 255]), 'ReadPETSc:unsupported'};
for k = 1:rows (corrupt)
  bad = good;
  bad(corrupt{k, 1} + (0:3)) = corrupt{k, 2};
  put_bytes (name, bad);
  [t, err] = expect_error (t, @() ReadPETSc (name), corrupt{k, 3}, sprintf ('bytes %d changed', corrupt{k, 1}));
end
% Columns out of order within a row (row 4's two entries swapped).
bad = good;
bad(45:52) = good([49:52, 45:48]);
put_bytes (name, bad);
[t, err] = expect_error (t, @() ReadPETSc (name), 'ReadPETSc:badColumns', 'columns not ascending');

% --- The MPI program on loopback.
% A patch: the annulus, Poisson, u = 0 on its sides.
g = annulus (12);
K = StiffnessMatrix (g, 1);
F = LoadVector (g, @(x, y) x .* y);
fixed = faces (g, 1:4);
u0 = reference (K, F, fixed, zeros (size (fixed)));
% A 3-D domain of three cubes in a row, u = x on its two ends.
mp = Multipatch ({cube(0, 2, 3), cube(1, 2, 3), cube(2, 2, 3)});
Kd = StiffnessMatrix (mp, 1);
Fd = LoadVector (mp, 1);
[dd, dv] = DirichletValues (mp, find (ismember ([mp.boundaries.side], [1 2]) & ...
                                       ismember ([mp.boundaries.patch], [1 3])), @(x, y, z) x);
ud = reference (Kd, Fd, dd, dv);
% Elasticity on the annulus, clamped on side 3, a body force in y.
lambda = 2; mu = @(x, y) 1 + x .^ 2;
Ke = ElasticityMatrix (g, lambda, mu);
Fe = LoadVector (g, [0; -1]);
clamped = faces (g, 3);
clamped = [clamped(:); clamped(:) + numel(F)];
ue = reference (Ke, Fe, clamped, zeros (size (clamped)));
cases = {'a patch', g, 'stiffness', {1}, F, fixed, zeros(size (fixed)), K, u0; ...
         'a 3-D domain of three patches', mp, 'stiffness', {1}, Fd, dd, dv, Kd, ud; ...
         'elasticity', g, 'elasticity', {lambda, mu}, Fe, clamped, zeros(size (clamped)), Ke, ue};
for k = 1:rows (cases)
  [label, geometry, form, coefficients, b, dofs, values, Kref, uref] = cases{k, :};
  us = {};
  for np = 1:3
    [u, info] = SolvePETSc (geometry, form, coefficients{:}, b, 'np', np, ...
                              'dirichlet', {dofs, values}, 'options', '-nurbs_write_matrix');
    what = sprintf ('%s on %d process%s', label, np, ifelse (np == 1, '', 'es'));
    t = expect (t, norm (info.matrix - Kref, 1) <= 1e-14 * norm (Kref, 1), [what ': the matrix']);
    t = expect (t, norm (u - uref) <= 1e-8 * norm (uref), [what ': the solution against backslash']);
    t = expect (t, info.converged && info.processes == np && ...
                   numel (info.time.assembly) == np && sum (info.rows) == numel (b), ...
                [what ': the report']);
    us{np} = u;
  end
  t = expect (t, norm (us{2} - us{1}) <= 1e-9 * norm (us{1}) && norm (us{3} - us{1}) <= 1e-9 * norm (us{1}), ...
              [label ': the same solution on 1, 2 and 3 processes']);
end
[u, info] = SolvePETSc (g, 'stiffness', 1, F, 'np', 2, 'dirichlet', {fixed, zeros(size (fixed))}, ...
                          'options', '-ksp_type gmres -pc_type jacobi -ksp_rtol 1e-11');
t = expect (t, strcmp (info.ksp, 'gmres') && strcmp (info.pc, 'jacobi') && ...
               norm (u - u0) <= 1e-8 * norm (u0), 'PETSc''s options choose the solver');

% --- Faults: each identified, the working folder left empty, no process left.
work = fullfile (scratch, 'work');
mkdir (work);
args = {g, 'stiffness', 1, F, 'dirichlet', {fixed, zeros(size (fixed))}, 'workdir', work};
left = @() numel (dir (work)) == 2;
[u, info] = SolvePETSc (args{:});
t = expect (t, left (), 'a run leaves nothing in its folder');
[t, err] = expect_error (t, @() SolvePETSc (args{:}, 'np', 2, 'options', ...
                         '-nurbs_kill_rank 1 -nurbs_kill_phase assembly'), 'SolvePETSc:launchFailed', ...
                         'a process killed mid-run');
[status, out] = system (sprintf ('pgrep -f ''nurbsbasis-mp[i] %s''', work));
t = expect (t, left (), 'a killed run leaves no file');
t = expect (t, status == 1, 'a killed run leaves no process');
[t, err] = expect_error (t, @() SolvePETSc (args{:}, 'mpiexec', 'false'), 'SolvePETSc:launchFailed', 'a launcher that fails');
[t, err] = expect_error (t, @() SolvePETSc (args{:}, 'mpiexec', 'no-such-launcher'), 'SolvePETSc:launchFailed', 'a launcher that is not there');
[t, err] = expect_error (t, @() SolvePETSc (args{:}, 'options', '-ksp_max_it 2'), 'SolvePETSc:solverFailed', 'no convergence, no report asked');
[u, info] = SolvePETSc (args{:}, 'options', '-ksp_max_it 2');
t = expect (t, ~info.converged && strcmp (info.reason, 'DIVERGED_ITS') && info.iterations == 2, ...
            'no convergence: the report says so');
[t, err] = expect_error (t, @() SolvePETSc (args{:}, 'options', '-ksp_type nonsense'), 'SolvePETSc:badOptions', 'an unknown solver');
[t, err] = expect_error (t, @() SolvePETSc (args{:}, 'options', '-ksp_rtoll 1e-3'), 'SolvePETSc:badOptions', 'a misspelt option');
t = expect (t, left (), 'failed runs leave nothing in their folder');
[t, err] = expect_error (t, @() SolvePETSc (g, 'stiffness', 1, F(1:end - 1)), 'SolvePETSc:optionValue', 'b of the wrong length');
[t, err] = expect_error (t, @() SolvePETSc (args{:}, 'dirichlet', {numel(F) + 1, 0}), 'SolvePETSc:badDirichlet', 'a Dirichlet unknown out of range');
[t, err] = expect_error (t, @() SolvePETSc (g, 'advection', 1, F), 'SolvePETSc:optionValue', 'a form it does not solve');
[t, err] = expect_error (t, @() SolvePETSc (args{:}, 'nprocs', 2), 'SolvePETSc:unknownOption', 'an unknown option');
setenv ('NURBS_MPI_PROGRAM', fullfile (scratch, 'nurbsbasis-mpi'));
[t, err] = expect_error (t, @() SolvePETSc (args{:}), 'SolvePETSc:notBuilt', 'a missing program');
t = expect (t, ~isempty (err) && ~isempty (strfind (err.message, 'petsc-dev')), 'the message says how to build it');
unsetenv ('NURBS_MPI_PROGRAM');
report (t);
