% BILAPLACIANMATRIX  Bilaplacian matrix of a patch: integral of c lap u lap v (plates).
%
%   B = BilaplacianMatrix(geometry, c)
%   B = BilaplacianMatrix(geometry, c, Name, Value, ...)
%
%   B(i, j) = int c lap R_j lap R_i dx, sparse, ndof x ndof, exactly symmetric, from
%   MeshEval's Laplacians (which need a space of degree 2 or more to be of use).
%
%   geometry is a NURBS patch as nrbmak makes it (MeshEval's help builds one by hand).
%   Options (name, value pairs), as MeshEval's: 'space' (the discrete space; default the
%   geometry's own basis), 'quadrature' (default the space's order a direction), 'elements'
%   (assemble only these elements, into the full-size result), 'rdim'; given twice, the
%   last wins.
%
%   Coefficients are a scalar, an nqn x nel array of values at MeshEval's nodes (the same
%   options give the same nodes and order; e.g. a previous solution's values; a vector of them in
%   that order too, the transpose refused), or a function handle of the physical coordinates,
%   called once with rows x, y (and z) of every node, returning one value per node in node order
%   (any array of that many; rdim per node for a vector coefficient, components first):
%     c = @(x, y) 1 + x .^ 2 .* y;
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
%   The domain's space is only C0 across interfaces, and the bilaplacian needs C1: over a
%   domain the result holds each patch's own integrals, not a conforming discretisation.
%
%   Evaluation and integration are native: no element data passes through the host.
%   Large calls run on several threads with the same bits (NURBS_NUM_THREADS caps them).
%
%   Errors (identifier BilaplacianMatrix:<mnemonic>): those of MeshEval, usage (a coefficient
%   missing, or an option name in its place), outOfMemory (a result larger than the memory: assemble
%   the elements in chunks), coefficientSize (a coefficient of the wrong size), coefficientError (a
%   handle that failed), sideOutOfRange (a side: only MassMatrix and LoadVector).
%
%   Example, on the quarter annulus of MeshEval's help:
%     s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
%     g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
%     g.knots = {[0 0 0 1 1 1], [0 0 1 1]}; g.order = [3 2];
%     B = BilaplacianMatrix (g, 1);
%
%   See also MeshEval, Multipatch, BilaplacianMatrixCore.
function B = BilaplacianMatrix (geometry, c, varargin)
  if (nargin < 2)
    error ('BilaplacianMatrix:usage', ...
           'usage: B = BilaplacianMatrix (geometry, c, Name, Value, ...)');
  end
  B = assemble_form ('BilaplacianMatrix', geometry, {c}, {'c'}, [false], varargin);
end

%!shared g
%! s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
%! g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
%! g.knots = {[0 0 0 1 1 1], [0 0 1 1]}; g.order = [3 2];
%!test
%! B = BilaplacianMatrix (g, 1);
%! assert (isequal (B, B.'));
%! assert (size (B), [6 6]);
