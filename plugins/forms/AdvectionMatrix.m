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
%   (assemble only these elements, into the full-size result), 'rdim'; given twice, the
%   last wins.
%
%   b is not a scalar: an rdim x 1 constant, an rdim x nqn x nel array of values at MeshEval's
%   nodes (the same options give the same nodes and order; rdim x N in that order too), or a
%   function handle of the physical coordinates, called once with rows x, y (and z) of every
%   node, returning rdim values per node in node order, the components first (rdim x N,
%   rdim x 1 x N, rdim x nqn x nel; or rdim x 1, a constant):
%     b = @(x, y) [-y; x];
%   Numeric and logical values, given or returned, are read as double. A node where the map is
%   singular (jacdet 0: a collapsed edge under a Lobatto rule) or its weight 0 contributes
%   nothing, whatever the Inf or NaN of its gradients or coefficients.
%
%   Over a domain of several patches (Multipatch), geometry is mp: the result is in the
%   domain's numbering (ndof = mp.ndof global functions), every patch's elements summed. Options
%   then: 'patches', list (those patches only, into the full-size result), 'elements' (a
%   1 x npatch cell of each patch's elements, or a vector with one patch in 'patches'), and
%   the others above but 'space', 'rdim' and 'side', applied to every patch. Values at the nodes
%   come as a cell of one array a patch (each nqn x nel or a vector, as a patch's), or as one
%   vector of every patch's in turn. A repeated index in a list counts once; an empty list
%   ([], zeros (1, 0), a cell of empty lists) chooses nothing: the zero result, full size.
%
%   Evaluation and integration are native: no element data passes through the host.
%   Large calls run on several threads with the same bits (NURBS_NUM_THREADS caps them).
%
%   Errors (identifier AdvectionMatrix:<mnemonic>): those of MeshEval, usage (a coefficient missing,
%   or an option name in its place), outOfMemory (a result larger than the memory: assemble the
%   elements in chunks), coefficientSize (a coefficient of the wrong size), coefficientError (a
%   handle that failed), sideOutOfRange (a side: only MassMatrix and LoadVector).
%
%   Example, on the quarter annulus of MeshEval's help:
%     s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
%     g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
%     g.knots = {[0 0 0 1 1 1], [0 0 1 1]}; g.order = [3 2];
%     A = AdvectionMatrix (g, @(x, y) [-y; x]);   % a rotation
%     max (abs (A * ones (size (A, 1), 1)))         % constants are not advected
%
%   See also MeshEval, Multipatch, AdvectionMatrixCore.
function A = AdvectionMatrix (geometry, b, varargin)
  if (nargin < 2)
    error ('AdvectionMatrix:usage', 'usage: A = AdvectionMatrix (geometry, b, Name, Value, ...)');
  end
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
