% READPETSC  Sparse matrices and vectors from a file of PETSc's binary format.
%
%   A = ReadPETSc(filename)
%   [A1, A2, ...] = ReadPETSc(filename)
%
%   Reads the file's first objects in order, as PETSc writes them (MatView and VecView on a
%   binary viewer, petsc4py's view, WritePETSc): a matrix (AIJ, 32-bit indices) as a sparse
%   matrix, without its entries that are exactly 0 (as sparse() keeps none), a vector as a
%   column. The file's rows are turned into the host's columns natively, streaming, into the
%   result's own memory: no transposed copy.
%
%   Every header is checked against the bytes the file has left before the result is sized by
%   it, and every row length and column index before the result is made: a truncated or
%   corrupt file, or one that is not PETSc's, is refused with its position.
%
%   Errors (identifier ReadPETSc:<mnemonic>): usage, fileName (not a character row),
%   openFailed, readFailed, notPETSc (not a class id of the format), unsupported (another class
%   of PETSc's: an index set, a matrix stored dense), truncated (the file ends inside an object),
%   badHeader (a negative size), badRowLengths, badColumns (outside the matrix, or not
%   ascending within a row), tooFewObjects (fewer objects than outputs), tooLarge, outOfMemory.
%
%   Example:
%     name = [tempname() '.dat'];
%     WritePETSc (name, speye (3));
%     A = ReadPETSc (name);
%     delete (name);
%     isequal (A, speye (3))
%
%   See also WritePETSc, SolvePETSc, ReadPETScCore.
function varargout = ReadPETSc (filename)
  if (nargin ~= 1)
    error ('ReadPETSc:usage', 'usage: [A1, A2, ...] = ReadPETSc (filename)');
  end
  try
    [varargout{1:max (nargout, 1)}] = ReadPETScCore (file_name_bytes ('ReadPETSc', filename));
  catch err
    % The host's own failure to make a result (a matrix of very many columns needs a start a
    % column), as ReadPETSc's.
    if (any (strcmp (err.identifier, {'Octave:bad-alloc', 'MATLAB:nomem'})) || ...
        ~isempty (regexp (err.message, 'out of memory|failed to allocate', 'once')))
      error ('ReadPETSc:outOfMemory', 'ReadPETSc: %s', err.message);
    end
    rethrow (err);
  end
end

%!test
%! name = [tempname() '.dat'];
%! WritePETSc (name, sparse (1, 1, 2));
%! assert (isequal (ReadPETSc (name), sparse (2)));
%! delete (name);
%!error id=ReadPETSc:usage ReadPETSc ()
%!error id=ReadPETSc:openFailed ReadPETSc ([tempname() '.dat'])
