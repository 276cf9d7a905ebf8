% HIERARCHICALSPACE  A hierarchical spline space over a patch or a domain, refined locally.
%
%   hs = HierarchicalSpace(geometry)
%   hs = HierarchicalSpace(mp)
%   hs = HierarchicalSpace(..., Name, Value, ...)
%
%   Level 0 is the patch's space (its own basis, or 'space' as MeshEval's); level l + 1 splits
%   every element of level l into subdivision^d children (the knots of level l and, in every
%   element, subdivision - 1 more equally spaced), so that the spaces are nested. RefineElements
%   and RefineFunctions replace chosen elements by their children; the active elements of every
%   level are the space's elements, each a tensor element of its level, and its functions are
%   those of every level whose support lies in the refined region of their level but not in the
%   next one's, truncated (THB: each written in the finer levels' bases, the terms whose support
%   lies in the next refined region dropped) unless 'truncated' is false (HB). A truncated basis
%   is a partition of unity; both are linearly independent and span the same space. Over a
%   domain (Multipatch), every patch, continuous (C0) across its interfaces as Multipatch glues
%   them: refinement keeps the cells along an interface alike on both sides, so that the
%   functions of two glued faces match.
%
%   A rational space (a NURBS patch's own basis, weights not all equal, or a 'space' with
%   weights) is the hierarchical B-spline space over the weight function W of level 0: each
%   function w R / W, R the hierarchical B-spline and w W's coefficient at its level, so that
%   the truncated ones sum to 1.
%
%   Every form (StiffnessMatrix, MassMatrix, LoadVector, AdvectionMatrix, ElasticityMatrix,
%   BilaplacianMatrix), MeshEval, DirichletValues, FieldEval, ExportVTK and PlotField take hs
%   where they take a patch or a domain, in hs's numbering (hs.ndof functions); ProlongField moves
%   a field to a refined space, ErrorEstimate and MarkElements drive adaptive refinement.
%
%   Options (name, value pairs; names in any case; given twice, the last wins):
%     'space'          for a patch, level 0's space as MeshEval's (default the patch's basis)
%     'truncated'      true (default): THB; false: HB
%     'subdivision'    children a direction an element splits into, 2 (default) to 16
%     'admissibility'  refinement keeps the mesh admissible of this class m (default 2): the
%                      functions on any element belong to at most m consecutive levels
%                      (Buffa and Giannelli's refinement, coarser neighbours refined first);
%                      0 for none
%
%   Fields of hs:
%     npatch, ndim, rdim      patches, parametric and physical dimensions
%     ndof, nel, levels       functions, active elements, levels holding an element
%     nsh_max                 the most functions an element has
%     elements                struct of columns, an active element a row: patch, level
%                             (0-based), index (its cell in its level's tensor mesh, 1-based,
%                             first direction fastest, as MeshEval numbers elements), box
%                             (nel x 2d: [lo hi] a direction)
%     functions               struct of columns, a function a row: patch, level, index (its
%                             tensor index in its level's space, 1-based), where it is numbered
%                             first (a function glued across an interface lives in both)
%     gnum                    1 x npatch cell: gnum{i}(a) is the space's index of patch i's
%                             a-th active function in its own order (level by level, tensor
%                             order), as a domain's gnum
%     local                   1 x npatch cell: local{i}.level(a), local{i}.index(a), the level
%                             and tensor index of patch i's a-th function
%     refined                 3 x N: [patch; level; cell] of every refined cell, ascending
%     patches, spaces, isoparametric, interfaces, boundaries (patch, side, dofs in hs's
%                             numbering): the patch's or the domain's
%     truncated, subdivision, admissibility
%   The numbering: patch by patch, level by level, each level's active functions in tensor
%   order; with every element of level 0 refined once it is the refined tensor space's own.
%
%   Errors (identifier HierarchicalSpace:<mnemonic>): usage, notStruct, unknownOption,
%   optionValue, and those of MeshEval for the patches' fields (and Multipatch's for a domain).
%
%   Example: the quarter annulus of MeshEval's help, its corner refined twice.
%     s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
%     g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
%     g.knots = {[0 0 0 1 1 1], [0 0 1 1]}; g.order = [3 2];
%     space = struct ('knots', {{[0 0 0 (1:7)/8 1 1 1], [0 0 0 (1:7)/8 1 1 1]}}, 'order', [3 3]);
%     hs = HierarchicalSpace (g, 'space', space);
%     hs = RefineElements (hs, 1:3);
%     hs = RefineElements (hs, find (hs.elements.level == 1, 2));
%     K = StiffnessMatrix (hs, 1);       % hs.ndof x hs.ndof
%
%   See also RefineElements, RefineFunctions, ProlongField, ErrorEstimate, MarkElements,
%   Multipatch, MeshEval, HierarchicalSpaceCore.
function hs = HierarchicalSpace (geometry, varargin)
  who = 'HierarchicalSpace';
  fail = @(mnemonic, varargin) error ([who ':' mnemonic], varargin{:});
  if (nargin < 1)
    fail ('usage', 'usage: hs = HierarchicalSpace (geometry_or_mp, Name, Value, ...)');
  end
  space = []; truncated = true; subdivision = 2; admissibility = 2;
  if (mod (numel (varargin), 2) ~= 0)
    fail ('unknownOption', 'options must come in name, value pairs; found %d arguments.', ...
          numel (varargin));
  end
  for k = 1:2:numel (varargin)
    name = varargin{k}; v = varargin{k + 1};
    if (~ischar (name) || ~isrow (name)), name = ''; end
    switch (lower (name))
      case 'space'
        if (~isstruct (v) || ~isscalar (v))
          fail ('optionValue', 'space must be a struct with fields knots and order.');
        end
        space = v;
      case 'truncated'
        if (~(isnumeric (v) || islogical (v)) || ~isscalar (v) || ~(v == 0 || v == 1))
          fail ('optionValue', 'truncated must be true or false.');
        end
        truncated = logical (v);
      case 'subdivision'
        if (~isnumeric (v) || ~isscalar (v) || ~isreal (v) || ~(v >= 2 && v <= 16 && v == fix (v)))
          fail ('optionValue', 'subdivision must be a whole number from 2 to 16.');
        end
        subdivision = double (v);
      case 'admissibility'
        if (~isnumeric (v) || ~isscalar (v) || ~isreal (v) || ...
            ~(v == 0 || (v >= 2 && v <= 32 && v == fix (v))))
          fail ('optionValue', 'admissibility must be 0 (none) or a class from 2 to 32.');
        end
        admissibility = double (v);
      otherwise
        fail ('unknownOption', ['option %d must be one of space, truncated, subdivision, ' ...
                                'admissibility.'], (k + 1) / 2);
    end
  end

  hs = struct ();
  if (is_domain (geometry))
    mp = geometry;
    if (~isempty (space))
      fail ('optionValue', 'space is the domain''s own over a domain (Multipatch).');
    end
    hs.npatch = mp.npatch;
    hs.ndim = mp.ndim;
    hs.rdim = mp.rdim;
    hs.patches = mp.patches;
    hs.spaces = mp.spaces;
    hs.isoparametric = mp.isoparametric;
    hs.interfaces = mp.interfaces;
    hs.boundaries = rmfield (mp.boundaries, 'dofs');
  else
    if (~isstruct (geometry) || ~isscalar (geometry) || ~isfield (geometry, 'order'))
      fail ('notStruct', ['geometry must be a NURBS struct as nrbmak makes it, or a domain ' ...
                          '(Multipatch); found a %s.'], class (geometry));
    end
    d = numel (geometry.order);
    rdim = d;
    if (isfield (geometry, 'coefs') && isnumeric (geometry.coefs) && size (geometry.coefs, 1) == 4)
      c = reshape (geometry.coefs(1:3, :), 3, []);
      rdim = min (3, max ([d, find(any (c ~= 0, 2), 1, 'last')]));
    end
    hs.npatch = 1;
    hs.ndim = d;
    hs.rdim = rdim;
    hs.patches = {geometry};
    hs.spaces = {space};
    hs.isoparametric = isempty (space);
    hs.interfaces = struct ('patch1', {}, 'side1', {}, 'patch2', {}, 'side2', {}, 'flag', {});
    hs.boundaries = struct ('patch', num2cell (ones (1, 2 * d)), 'side', num2cell (1:2 * d));
  end
  hs.truncated = truncated;
  hs.subdivision = subdivision;
  hs.admissibility = admissibility;
  hs.refined = zeros (3, 0);
  hs.levels = 1;
  hs.elements = struct ('patch', [], 'level', [], 'index', [], 'box', []);
  hs.nel = 0;
  hs = hierarchical_space (who, hs, 0, []);
end

%!shared g
%! g.knots = {[0 0 0 1/3 2/3 1 1 1], [0 0 0 1/3 2/3 1 1 1]}; g.order = [3 3];
%! g.coefs = permute (cat (3, repmat ((0:4)' / 4, 1, 5), repmat ((0:4) / 4, 5, 1), zeros (5), ones (5)), [3 1 2]);
%!test
%! hs = HierarchicalSpace (g);
%! assert ([hs.ndof, hs.nel, hs.levels], [25, 9, 1]);
%! hs = RefineElements (hs, 1:9);
%! assert ([hs.ndof, hs.nel, hs.levels], [64, 36, 2]);
%! assert (hs.functions.level, ones (64, 1));
%!error id=HierarchicalSpace:unknownOption HierarchicalSpace (g, 'truncate', true)
%!error id=HierarchicalSpace:optionValue HierarchicalSpace (g, 'admissibility', 1)
