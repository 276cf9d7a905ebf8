% MESHNODES  The physical coordinates of a patch's quadrature nodes, or of a domain's.
%
%   x = MeshNodes(geometry)
%   x = MeshNodes(geometry, Name, Value, ...)
%   x = MeshNodes(mp, Name, Value, ...)
%
%   x: rdim x nqn x nel, MeshEval's geo_map for the same options (the same nodes in the same
%   order), made from the geometry's own control points one direction at a time per element
%   rather than by the mesh's evaluation: the same coordinates to rounding, not its bits, at a
%   fraction of its cost. This is what the forms call a coefficient handle with. Over a domain
%   (Multipatch), x is rdim x N: the nodes of every patch (or, with 'boundary', every face) in
%   turn, as the forms number their values at the nodes. Over a hierarchical space
%   (HierarchicalSpace), MeshEval's geo_map of its active elements.
%
%   Options (name, value pairs): MeshEval's 'space', 'quadrature', 'elements', 'side', 'rdim'
%   (the others are read and ignored); over a domain the forms' 'patches', 'elements',
%   'boundary' and 'quadrature'.
%
%   Errors (identifier MeshNodes:<mnemonic>): those of MeshEval, and tooManyPoints (more values
%   than the host holds), outOfMemory.
%
%   Example, the quarter annulus of MeshEval's help:
%     s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
%     g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
%     g.knots = {[0 0 0 1 1 1], [0 0 1 1]}; g.order = [3 2];
%     x = MeshNodes (g, 'quadrature', 4);
%     r = squeeze (sqrt (x(1, :, :) .^ 2 + x(2, :, :) .^ 2));   % radii from 1 to 2
%
%   See also MeshEval, MeshNodesCore, StiffnessMatrix.
function x = MeshNodes (geometry, varargin)
  if (nargin < 1)
    error ('MeshNodes:usage', 'usage: x = MeshNodes (geometry, Name, Value, ...)');
  end
  flags = {'gradient', 'hessian', 'laplacian'};
  if (is_hierarchical (geometry))
    % A hierarchical space's elements are its levels' tensor elements: MeshEval's nodes.
    m = MeshEval (geometry, varargin{:}, 'gradient', false);
    x = m.geo_map;
    return;
  end
  if (is_domain (geometry))
    args = domain_pieces ('MeshNodes', geometry, varargin, flags);
    x = MeshNodesCore (args{:});
    return;
  end
  [args, info] = mesh_arguments ('MeshNodes', geometry, varargin, flags);
  x = MeshNodesCore (args{:});
  nqn = 1;
  for k = 1:info.d
    rule = args{10 + k};
    if (k == ceil (info.side / 2)), continue; end
    if (isscalar (rule)), nqn = nqn * double (rule); else, nqn = nqn * size (rule, 2); end
  end
  x = reshape (x, size (x, 1), nqn, []);
end

%!shared g
%! s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
%! g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
%! g.knots = {[0 0 0 1 1 1], [0 0 1 1]}; g.order = [3 2];
%!test
%! m = MeshEval (g, 'quadrature', 3, 'elements', 1, 'gradient', false);
%! assert (MeshNodes (g, 'quadrature', 3, 'elements', 1), m.geo_map, 1e-15);
%!test
%! x = MeshNodes (g, 'side', 4);
%! assert (sqrt (sum (x .^ 2, 1)), 2 * ones (1, 3, 1), 1e-15);
%!test
%! hs = RefineElements (HierarchicalSpace (g), 1);
%! m = MeshEval (hs, 'gradient', false);
%! assert (MeshNodes (hs), m.geo_map);
%!error id=MeshNodes:usage MeshNodes ()
%!error id=MeshNodes:unknownOption MeshNodes (g, 'colour', 1)
