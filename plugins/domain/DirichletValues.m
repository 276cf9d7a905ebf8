% DIRICHLETVALUES  Values of the functions on boundary faces for a Dirichlet condition u = g.
%
%   [dofs, values] = DirichletValues(geometry, sides, g)
%   [dofs, values] = DirichletValues(mp, faces, g)
%   [dofs, values] = DirichletValues(..., Name, Value, ...)
%
%   The L2 projection of g onto the functions that do not vanish on the given faces, as one
%   projection over the union of the faces: a function shared by two faces (a corner) gets one
%   value. With u(dofs) = values, a solve needs only the other unknowns:
%     free = setdiff (1:ndof, dofs);
%     u = zeros (ndof, 1); u(dofs) = values;
%     u(free) = K(free, free) \ (F(free) - K(free, dofs) * values);
%
%   geometry  a patch (nrbmak), with sides the faces (MeshEval's side numbers, 1..2d);
%   mp        a domain (Multipatch), with faces indices into mp.boundaries;
%   hs        a hierarchical space (HierarchicalSpace), with faces indices into hs.boundaries
%             (over one patch, its sides in order), in hs's numbering.
%   g         a handle of the physical coordinates, g(x, y) or g(x, y, z), returning one row
%             of values, or rdim rows for a vector field (numbered as ElasticityMatrix numbers
%             its unknowns: component c of function a at (c - 1) ndof + a); or a constant
%             (a scalar, or rdim x 1).
%   Options (name, value pairs): 'components', list: only these components of a vector field
%   (a symmetry condition fixes one); 'quadrature', and for a patch 'space', as the forms'.
%
%   dofs, values: columns, the functions of the faces in ascending order, component by
%   component.
%
%   Errors (identifier DirichletValues:<mnemonic>): optionValue, and those of MassMatrix and
%   LoadVector.
%
%   Example: u = x y on the left and bottom sides of the quarter annulus of MeshEval's help.
%     s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
%     g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
%     g.knots = {[0 0 0 1 1 1], [0 0 1 1]}; g.order = [3 2];
%     [dofs, values] = DirichletValues (g, [1 2], @(x, y) x .* y);
%
%   See also Multipatch, MassMatrix, LoadVector.
function [dofs, values] = DirichletValues (geometry, faces, g, varargin)
  who = 'DirichletValues';
  fail = @(mnemonic, varargin) error ([who ':' mnemonic], varargin{:});
  if (nargin < 3)
    fail ('usage', 'usage: [dofs, values] = DirichletValues (geometry_or_mp, faces, g, ...)');
  end
  if (~isnumeric (faces) || any (faces(:) ~= fix (faces(:))) || any (faces(:) < 1))
    fail ('optionValue', 'faces must be a list of positive face indices.');
  end
  faces = unique (reshape (double (faces), 1, []));
  components = [];
  rest = {};
  for k = 1:2:numel (varargin)
    pair = varargin(k:min (k + 1, end));
    if (numel (pair) == 2 && ischar (pair{1}) && strcmpi (pair{1}, 'components'))
      components = pair{2};
    else
      rest = [rest, pair];
    end
  end
  % A hierarchical space's faces are its boundaries' (a patch's: its sides in order).
  domain = is_domain (geometry) || is_hierarchical (geometry);
  if (domain)
    if (any (faces > numel (geometry.boundaries)))
      fail ('optionValue', 'faces must be indices into mp.boundaries, from 1 to %d.', ...
            numel (geometry.boundaries));
    end
    ndof = geometry.ndof;
    if (isempty (faces))
      dofs = zeros (0, 1); values = zeros (0, 1);
      return;
    end
    M = MassMatrix (geometry, 1, 'boundary', faces, rest{:});
    F = LoadVector (geometry, g, 'boundary', faces, rest{:});
    on = unique (vertcat (geometry.boundaries(faces).dofs));
  else
    M = 0; F = 0; on = zeros (0, 1);
    for side = faces
      M = M + MassMatrix (geometry, 1, 'side', side, rest{:});
      F = F + LoadVector (geometry, g, 'side', side, rest{:});
      space = {};
      at = find (strcmpi (rest(1:2:end), 'space'), 1, 'last');
      if (~isempty (at)), space = rest(2 * at - 1:2 * at); end
      m = MeshEval (geometry, 'side', side, 'gradient', false, 'quadrature', 1, space{:});
      on = union (on, m.dofs(:));
    end
    ndof = rows (M);
    if (isempty (faces))
      dofs = zeros (0, 1); values = zeros (0, 1);
      return;
    end
  end
  ncomp = numel (F) / ndof;
  if (isempty (components))
    components = 1:ncomp;
  elseif (~isnumeric (components) || any (~ismember (components(:), 1:ncomp)))
    fail ('optionValue', 'components must be a list of components from 1 to %d.', ncomp);
  end
  components = unique (reshape (double (components), 1, []));
  on = reshape (on, [], 1);
  B = reshape (full (F), ndof, ncomp)(on, components);
  X = M(on, on) \ B;
  dofs = reshape (on + ndof * (components - 1), [], 1);
  values = reshape (X, [], 1);
end

%!test
%! s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
%! g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
%! g.knots = {[0 0 0 1 1 1], [0 0 1 1]}; g.order = [3 2];
%! [dofs, values] = DirichletValues (g, [3 4], @(x, y) x .^ 2 + y .^ 2);
%! assert (dofs', 1:6);
%! assert (values', [1 1 1 4 4 4], 1e-12);
%!error id=DirichletValues:optionValue DirichletValues (struct ('npatch', 1, 'gnum', {{1}}, 'boundaries', []), 2, 1)
