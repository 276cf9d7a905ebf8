% LOADVECTOR  Load vector of a patch or of one of its faces: integral of f v.
%
%   F = LoadVector(geometry, f)
%   F = LoadVector(geometry, f, Name, Value, ...)
%
%   F(i) = int f R_i dx, a dense ndof x 1 column. Where f has rdim components (rdim rows of
%   values, rdim x 1 for a constant, or a handle returning rdim rows) it is the load of a
%   vector-valued space, numbered as ElasticityMatrix numbers its unknowns: component k of
%   function i at (k - 1) ndof + i (body forces; tractions with 'side'). With 'side', k the
%   integral is over face k, with the face measure (Neumann data). Where values fit both
%   readings (rdim of them, and rdim nodes in all: one element of rdim nodes) they are read as
%   one value per node; give rdim x nqn x nel values to mean a vector load there.
%
%   geometry is a NURBS patch as nrbmak makes it (MeshEval's help builds one by hand).
%   Options (name, value pairs), as MeshEval's: 'space' (the discrete space; default the
%   geometry's own basis), 'quadrature' (default the space's order a direction), 'elements'
%   (assemble only these elements, into the full-size result), 'rdim', 'side'; given twice,
%   the last wins.
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
%   'boundary', list integrates over the faces mp.boundaries(list) instead (a cell of values
%   then holds one array a face).
%
%   Evaluation and integration are native: no element data passes through the host.
%   Large calls run on several threads with the same bits (NURBS_NUM_THREADS caps them).
%
%   Errors (identifier LoadVector:<mnemonic>): those of MeshEval, usage (a coefficient missing, or
%   an option name in its place), outOfMemory (a result larger than the memory: assemble the
%   elements in chunks), coefficientSize (a coefficient of the wrong size), coefficientError (a
%   handle that failed).
%
%   Example, on the quarter annulus of MeshEval's help:
%     s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
%     g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
%     g.knots = {[0 0 0 1 1 1], [0 0 1 1]}; g.order = [3 2];
%     F = LoadVector (g, @(x, y) x .* y, 'quadrature', 8);
%     sum (F)                                       % the integral of x y, 15/8
%
%   See also MeshEval, Multipatch, LoadVectorCore.
function F = LoadVector (geometry, f, varargin)
  if (nargin < 2)
    error ('LoadVector:usage', 'usage: F = LoadVector (geometry, f, Name, Value, ...)');
  end
  F = assemble_form ('LoadVector', geometry, {f}, {'f'}, [NaN], varargin);
end

%!shared g
%! s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
%! g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
%! g.knots = {[0 0 0 1 1 1], [0 0 1 1]}; g.order = [3 2];
%!test
%! F = LoadVector (g, @(x, y) x .* y, 'quadrature', 16);
%! assert (sum (F), 15 / 8, 1e-13);
%! F2 = LoadVector (g, [1; 2], 'quadrature', 16);
%! assert ([sum(F2(1:6)), sum(F2(7:12))], [1 2] * 3 * pi / 4, 1e-13);
%!error id=LoadVector:coefficientSize LoadVector (g, @(x, y) [x; y; x])
