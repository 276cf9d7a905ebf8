% ADVECTIONMATRIX  Advection matrix of a patch: integral of (b . grad u) v.
%
%   A = AdvectionMatrix(geometry, b)
%   A = AdvectionMatrix(geometry, b, Name, Value, ...)
%
%   A(i, j) = int (b . grad R_j) R_i dx, sparse, ndof x ndof. b has rdim components: an
%   rdim x 1 constant, rdim x nqn x nel values at the nodes, or a handle returning rdim rows.
%
%   geometry is a NURBS patch as nrbmak makes it (MeshEval's help builds one by hand).
%   Options (name, value pairs), as MeshEval's: 'space' (the discrete space; default the
%   geometry's own basis), 'quadrature' (default the space's order a direction), 'elements'
%   (assemble only these elements, into the full-size result), 'rdim'.
%
%   Coefficients are a scalar, an nqn x nel array of values at MeshEval's nodes (the same
%   options give the same nodes and order; e.g. a previous solution's values), or a function
%   handle of the physical coordinates, called once with rows x, y (and z) of every node:
%     c = @(x, y) 1 + x .^ 2 .* y;
%
%   Evaluation and integration are native: no element data passes through the host.
%   Large calls run on several threads with the same bits (NURBS_NUM_THREADS caps them).
%
%   Errors (identifier AdvectionMatrix:<mnemonic>): those of MeshEval, coefficientSize (a
%   coefficient of the wrong size), coefficientError (a handle that failed), sideOutOfRange (a
%   side: only MassMatrix and LoadVector).
%
%   Example, on the quarter annulus of MeshEval's help:
%     s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
%     g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
%     g.knots = {[0 0 0 1 1 1], [0 0 1 1]}; g.order = [3 2];
%     A = AdvectionMatrix (g, @(x, y) [-y; x]);   % a rotation
%     max (abs (A * ones (size (A, 1), 1)))         % constants are not advected
%
%   See also MeshEval, AdvectionMatrixCore.
function A = AdvectionMatrix (geometry, b, varargin)
  A = assemble_form ('AdvectionMatrix', geometry, {b}, {'b'}, [true], varargin);
end

%!shared g
%! s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
%! g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
%! g.knots = {[0 0 0 1 1 1], [0 0 1 1]}; g.order = [3 2];
%!test
%! A = AdvectionMatrix (g, @(x, y) [-y; x]);
%! assert (norm (A * ones (6, 1)), 0, 1e-13 * norm (A, 1));
%!error id=AdvectionMatrix:coefficientSize AdvectionMatrix (g, 1)
