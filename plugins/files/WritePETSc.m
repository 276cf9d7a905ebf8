% WRITEPETSC  Sparse matrices and vectors to a file of PETSc's binary format.
%
%   WritePETSc(filename, A)
%   WritePETSc(filename, A1, A2, ...)
%
%   Writes each argument in turn into one file (created, or emptied first) that PETSc reads
%   with MatLoad and VecLoad (or petsc4py's Mat().load and Vec().load), in PETSc's own order:
%   a sparse matrix as a matrix (AIJ), a full vector (a row or a column, or []) as a vector,
%   a full matrix as a sparse one of its entries that are not 0. Big-endian, 32-bit indices
%   (PETSc's default build). The matrix is turned from the host's columns into the file's rows
%   natively and a block at a time, with no transposed copy: beside the file's buffers it takes
%   one count a row and one cursor a column.
%
%   Every argument is checked before the file is opened; a write that fails (a full disk)
%   removes the file.
%
%   Errors (identifier WritePETSc:<mnemonic>): usage, fileName (not a character row), notDouble
%   (an argument of another class: convert with double), complex (PETSc's real build),
%   tooLarge (a size or the entries above 2^31 - 1, what 32-bit indices hold), openFailed,
%   writeFailed, outOfMemory.
%
%   Example:
%     A = sparse ([1 2 2], [1 1 3], [4 -1 2], 2, 3);
%     name = [tempname() '.dat'];
%     WritePETSc (name, A, [1; 2; 3]);
%     [B, x] = ReadPETSc (name);
%     delete (name);
%     isequal (A, B) && isequal (x, [1; 2; 3])
%
%   See also ReadPETSc, SolvePETSc, WritePETScCore.
function WritePETSc (filename, varargin)
  if (nargin < 2)
    error ('WritePETSc:usage', 'usage: WritePETSc (filename, A1, A2, ...)');
  end
  WritePETScCore (file_name_bytes ('WritePETSc', filename), varargin{:});
end

%!test
%! name = [tempname() '.dat'];
%! A = sparse ([1 3 3], [2 1 3], [-1 2.5 4], 3, 4);
%! WritePETSc (name, A, [1 2 3], zeros (0, 1));
%! [B, x, e] = ReadPETSc (name);
%! delete (name);
%! assert (isequal (A, B) && isequal (x, [1; 2; 3]) && isempty (e));
%!error id=WritePETSc:usage WritePETSc ('x.dat')
%!error id=WritePETSc:notDouble WritePETSc ([tempname() '.dat'], int8 (1))
%!error id=WritePETSc:complex WritePETSc ([tempname() '.dat'], 1i)
%!error id=WritePETSc:fileName WritePETSc (3, 1)
