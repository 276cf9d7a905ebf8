% MESHEVAL  Quadrature data of a NURBS patch in physical space, for a whole mesh in one call.
%
%   msh = MeshEval(geometry)
%   msh = MeshEval(geometry, Name, Value, ...)
%
%   Evaluates, at the quadrature points of every element of a patch's mesh, the geometry map,
%   its Jacobian and the basis functions of a discrete space with their gradients (and Hessians
%   and Laplacians) in physical space, in one native call. The result is one struct whose fields
%   have the names and layouts that Octave/MATLAB isogeometric codes read from their mesh and
%   space column structs: pass it as both where such a code evaluated its columns.
%
%   geometry  a NURBS patch of 1, 2 or 3 parametric directions as the nurbs package's nrbmak
%             makes it: coefs, 4 x n1 [x n2 [x n3]] holding (w x, w y, w z, w) of every
%             control point; knots, a row (a curve) or a 1 x d cell of rows; order, degree + 1
%             per direction. Without the nurbs package, build it by hand, e.g. a quarter annulus
%             of radii 1 and 2 (degree 2 around, 1 across):
%               s = 1 / sqrt (2);
%               w = [1 s 1; 1 s 1]';                       % weights, around x across
%               x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';  % control points
%               geometry.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
%               geometry.knots = {[0 0 0 1 1 1], [0 0 1 1]};
%               geometry.order = [3 2];
%
%   geometry.coefs must have the shape its knots and orders imply, ni = numel (knots{i}) -
%   order(i) control points in direction i; knots must be finite, and so must the control points
%   (w x / w).
%
%   Options (name, value pairs; names in any case; given twice, the last wins):
%     'space'       the discrete space: a struct with knots and order as above and, for a
%                   NURBS space, weights (n1 x ... x nd, or a vector of them in that order;
%                   without: B-splines). A NURBS struct (nrbmak's) serves as it is: without a
%                   weights field its coefs(4, ...) are the weights. Its knots must refine the
%                   geometry's: the same domain, every breakpoint of the geometry one of its own.
%                   Default: the geometry's own basis (isoparametric).
%     'quadrature'  Gauss-Legendre nodes per direction, a scalar or 1 x d (default: the space's
%                   order), or a 1 x d cell of 2 x nq rules [nodes; weights] on [0, 1] (reduced,
%                   Lobatto, your own). At most 64 nodes a direction.
%     'elements'    the elements to evaluate, 1-based, the first direction fastest (default:
%                   all; [] none): evaluate a large mesh in chunks this way. Chunks of a few
%                   thousand elements are faster than one call: the host reuses their memory.
%     'gradient'    physical gradients (default true); 'hessian', 'laplacian' (default false).
%     'side', k     the boundary face k (1..2d): 2i-1 where coordinate i is at the start of its
%                   domain, 2i at its end. The elements are then the faces of the boundary
%                   elements, the quadrature is the other directions' rule, jacdet is the face
%                   measure, normal the outward unit normal, and the shape functions (values and
%                   full gradients) are those of the adjacent elements, on the face; dofs lists
%                   the functions that do not vanish on the side (for Dirichlet conditions).
%                   For a curve a side is an end point.
%     'rdim'        physical coordinates: default the highest of x, y, z that is not zero at
%                   some control point, at least d.
%
%   msh = MeshEval(mp, 'patch', i, ...) and MeshEval(mp, 'boundary', k, ...) take a domain of
%   several patches (Multipatch): patch i, or the face mp.boundaries(k), with its connectivity
%   and dofs in the domain's numbering (ndof global; msh.patch is the patch). The other options
%   are the ones above but space, rdim and side, which the domain fixes.
%
%   Fields of msh (first index fastest; q a quadrature node, e an element, a a function):
%     ndim, rdim, nel, nqn, nel_dir   dimensions (ndim: of the face on a side), counts
%     elements                        the evaluated elements' indices, 1 x nel
%     quad_nodes    d x nqn x nel     parametric nodes (the patch's d coordinates)
%     quad_weights  nqn x nel         the rule's weights scaled to each element
%     geo_map       rdim x nqn x nel  the physical points
%     geo_map_jac   rdim x d x nqn x nel
%     jacdet        nqn x nel         |det J|, or sqrt(det(J'J)) where rdim > d; on a side,
%                                     the face measure from the face's tangents (1 at a
%                                     curve's end)
%     element_size  1 x nel           (sum of weights .* jacdet)^(1/ndim); 0 at a curve's end
%     normal        rdim x nqn x nel  on a side, and for a surface in 3-D (J1 x J2 / |J1 x J2|)
%     ndof, ncomp (1), nsh (1 x nel), nsh_max
%     connectivity  nsh_max x nel     1-based global indices of each element's functions
%     shape_functions            nqn x nsh_max x nel
%     shape_function_gradients   rdim x nqn x nsh_max x nel
%     shape_function_hessians    rdim x rdim x nqn x nsh_max x nel
%     shape_function_laplacians  nqn x nsh_max x nel
%     dofs                       on a side: 1-based indices of the functions not zero there
%   For rdim > d the gradient is tangential, J (J'J)^-1 grad_xi R; the Hessian is the
%   surface's, K (hess_xi R - sum_m (grad R)_m H^m) K' with K = J (J'J)^-1 and H^m the second
%   derivatives of x_m, symmetric and zero along the normal, and the Laplacian its trace (the
%   Laplace-Beltrami operator). A surface's normal J1 x J2 / |J1 x J2| follows its
%   parametrisation: with 'rdim', 3 the quarter annulus below has det J < 0 and normal (0,0,-1).
%
%   shape_functions(q, :, e) is, bit for bit, R of RatCurveShapeGrad, RatSurfShapeGrad or
%   RatVolShapeGrad (a NURBS space), or of PolySurfShapeGrad and its plain tensor products
%   (B-splines), at node q with the space's knots; connectivity(:, e) is the twins' idx there.
%   A node is evaluated in its element's spans and exactly where it is: at the last knot, with
%   no end clamp. A singular map gives jacdet 0 and Inf or NaN gradients there, not an error;
%   so do knot spans so short that the basis's derivatives overflow.
%   Large calls run on several threads, with the same bits (NURBS_NUM_THREADS caps them).
%
%   Errors (identifier MeshEval:<mnemonic>): usage (no geometry), notStruct, missingField,
%   fieldType, unknownOption, optionValue, dimensions, orderNotInteger, orderTooSmall,
%   orderTooLarge, knotsNotRow, knotsTooShort, knotsNaN, knotsNotFinite (an infinite knot, or
%   knots whose spread overflows), knotsDecreasing, domainEmpty, coefsSize (coefs or weights not
%   of the knots' shape), coefsNotFinite, weightsNotPositive, notRefinement, quadratureCount,
%   quadratureRule, elementOutOfRange, sideOutOfRange, tooManyPoints (an output larger than the
%   host's arrays), outOfMemory (outputs larger than the memory: evaluate the elements in
%   chunks); notDouble, complex, sparse for arrays of another class.
%
%   Example: the area of the quarter annulus above, 3 pi / 4.
%     s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
%     g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
%     g.knots = {[0 0 0 1 1 1], [0 0 1 1]}; g.order = [3 2];
%     msh = MeshEval (g, 'quadrature', 16);       % the Jacobian is rational
%     area = sum (msh.quad_weights(:) .* msh.jacdet(:))
%
%   See also MeshEvalCore, RatSurfShapeGradBatch.
function msh = MeshEval (geometry, varargin)
  if (nargin < 1)
    error ('MeshEval:usage', 'usage: msh = MeshEval (geometry, Name, Value, ...)');
  end
  flags = {'gradient', 'hessian', 'laplacian'};
  if (is_hierarchical (geometry))
    msh = hierarchical_mesh (geometry, varargin, flags);
    return;
  end
  if (is_domain (geometry))
    msh = domain_mesh (geometry, varargin, flags);
    return;
  end
  [args, info] = mesh_arguments ('MeshEval', geometry, varargin, flags);
  out = cell (1, 15);
  try
    [out{:}] = MeshEvalCore (args{:});
  catch err
    % The host's own failure to make an output, as outOfMemory: a caller may evaluate the
    % elements in chunks instead.
    if (out_of_memory (err))
      error ('MeshEval:outOfMemory', 'MeshEval: %s (evaluate fewer elements a call)', ...
             err.message);
    end
    rethrow (err);
  end
  msh = mesh_struct (out, info);
end

% A patch of a domain, or one of its boundary faces, in the domain's numbering.
function msh = domain_mesh (mp, options, flags)
  fail = @(mnemonic, varargin) error (['MeshEval:' mnemonic], varargin{:});
  rest = {};
  patch = [];
  face = [];
  for k = 1:2:numel (options)
    pair = options(k:min (k + 1, end));
    if (numel (pair) < 2 || ~ischar (pair{1}) || ~any (strcmpi (pair{1}, {'patch', 'boundary'})))
      rest = [rest, pair];
      continue;
    end
    [name, v] = pair{:};
    if (strcmpi (name, 'patch'))
      limit = mp.npatch;
    else
      limit = numel (mp.boundaries);
    end
    if (~isnumeric (v) || ~isscalar (v) || ~(v >= 1 && v <= limit && v == fix (v)))
      fail ('optionValue', '%s must be an index from 1 to %d.', lower (name), limit);
    end
    if (strcmpi (name, 'patch')), patch = double (v); else, face = double (v); end
  end
  if (isempty (patch) == isempty (face))
    fail ('optionValue', ['a domain''s mesh is one patch''s (''patch'', i) or one boundary ' ...
                          'face''s (''boundary'', k).']);
  end
  if (isempty (face))
    [args, pieces] = domain_pieces ('MeshEval', mp, [{'patches', patch}, rest], flags);
  else
    [args, pieces] = domain_pieces ('MeshEval', mp, [{'boundary', face}, rest], flags);
  end
  out = cell (1, 15);
  [out{:}] = MeshEvalCore (pieces.mesh{:});
  msh = mesh_struct (out, pieces.info);
  gnum = args{17};
  msh.patch = pieces.patch;
  msh.ndof = mp.ndof;
  msh.connectivity = reshape (gnum(msh.connectivity), size (msh.connectivity));
  if (isfield (msh, 'dofs'))
    msh.dofs = unique (reshape (gnum(msh.dofs), size (msh.dofs)));
  end
end

% A hierarchical space's elements (all, or 'patch', 'elements', 'side', 'boundary'), in its
% numbering: connectivity padded with 0 beyond each element's nsh functions.
function msh = hierarchical_mesh (hs, options, flags)
  [args, info] = hierarchical_arguments ('MeshEval', hs, options, flags);
  if (size (info.faces, 2) > 1)
    error ('MeshEval:optionValue', 'a hierarchical space''s mesh is of one face at a time.');
  end
  out = cell (1, 15);
  [out{:}] = MeshEvalCore (args{:});
  msh = mesh_struct (out, info);
  msh.nsh = reshape (sum (msh.connectivity > 0, 1), 1, []);
  if (~info.chosen && isempty (info.faces))
    msh.elements = 1:msh.nel;
  elseif (~isempty (info.faces))
    % The space's elements on the face, in the core's order: the patch's, those on the side.
    patch = info.faces(1); side = info.faces(2);
    k = ceil (side / 2);
    box = hs.elements.box(:, 2 * k - mod (side, 2));
    mine = hs.elements.patch == patch;
    if (mod (side, 2) == 1), at = min (box(mine)); else, at = max (box(mine)); end
    msh.elements = reshape (find (mine & box == at), 1, []);
  end
  msh.nel_dir = [];
  if (isfield (msh, 'dofs')), msh.dofs = reshape (msh.dofs, [], 1); end
end

%!shared g
%! s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
%! g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
%! g.knots = {[0 0 0 1 1 1], [0 0 1 1]}; g.order = [3 2];
%!test
%! msh = MeshEval (g, 'quadrature', 16);
%! assert (sum (msh.quad_weights(:) .* msh.jacdet(:)), 3 * pi / 4, 1e-13);
%! assert (size (msh.shape_function_gradients), [2 256 6]);
%! assert (squeeze (sum (msh.shape_functions, 2)), ones (256, 1), 1e-14);
%!test
%! msh = MeshEval (g, 'side', 4, 'quadrature', 16);
%! r = sqrt (sum (msh.geo_map .^ 2, 1));
%! assert (msh.normal, msh.geo_map ./ r, 1e-14);
%! assert (sum (msh.quad_weights(:) .* msh.jacdet(:)), pi, 1e-13);
%!error id=MeshEval:notStruct MeshEval (1)
%!error id=MeshEval:unknownOption MeshEval (g, 'quadrtaure', 3)
%!error id=MeshEval:sideOutOfRange MeshEval (g, 'side', 5)
%!error id=MeshEval:coefsSize MeshEval (setfield (g, 'coefs', permute (g.coefs, [1 3 2])))
%!error id=MeshEval:usage MeshEval ()
