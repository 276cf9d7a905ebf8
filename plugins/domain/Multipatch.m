% MULTIPATCH  A domain of conforming NURBS patches glued along the faces they share.
%
%   mp = Multipatch(patches)
%   mp = Multipatch(patches, Name, Value, ...)
%
%   Finds every pair of patch faces that coincide, in any relative orientation, and numbers the
%   functions of the patches' spaces globally, continuous (C0) across those interfaces. Every
%   form takes mp where it takes a patch (StiffnessMatrix (mp, c) is ndof x ndof over the whole
%   domain), as do MeshEval ('patch', i or 'boundary', k) and DirichletValues.
%
%   patches   a 1 x n struct array of NURBS patches as the nurbs package's nrbmak makes them
%             (fields coefs, knots, order; see MeshEval's help to build one by hand), or a cell
%             array of them: all curves, surfaces or volumes, in one physical space. Every knot
%             vector must be open (its first and last p + 1 knots equal).
%   Options (name, value pairs; names in any case; a repeated option: the last one holds):
%     'space'      a 1 x n struct array or cell of spaces in the form of MeshEval's 'space'
%                  (knots, order, and weights for a NURBS space; [] in a cell: that patch's own
%                  basis). Default: each patch's own basis.
%     'tolerance'  relative, in (0, 1); default 1e-10. Points are compared against the
%                  diameter of the domain's control points, or 2^-44 (256 units of rounding)
%                  of their largest coordinate where that is more (coordinates far from the
%                  origin, as geo-referenced ones, carry no more precision), knots against the
%                  length of their direction's domain. Coordinates may be of any finite
%                  magnitude.
%
%   Two faces are glued where they coincide: the same geometry at points that correspond under
%   an affine map of the faces' parameters (their control nets may be refined differently),
%   and the same space there (degrees, knots up to that map, and for NURBS spaces the face's
%   weights up to a common factor). Faces that lie on one another but do not conform (another
%   refinement, another space), faces that touch only in part (a corner of one on the other,
%   or faces of volumes whose edges cross), a face that coincides with two others, patches
%   that overlap (two faces that coincide with both patches on the same side, as a patch given
%   twice) and patches of different dimensions are errors; faces that only share their corners
%   (the two halves of a circle's boundary) are two faces. A face collapsed to a point (or to a
%   curve, in 3-D) is on no interface. A patch's two faces may coincide (a closed ring): it is
%   glued to itself. A nonConforming message says how far apart the faces' points are and
%   within what tolerance they would be one.
%
%   Fields of mp:
%     npatch, ndim, rdim    patches, parametric and physical dimensions
%     ndof                  global functions
%     patches, spaces       1 x npatch cells: the patches, and their spaces as structs (knots,
%                           order, and weights for a rational space)
%     gnum                  1 x npatch cell: gnum{i}(a) is the global index of function a of
%                           patch i in its own order (first direction fastest), a column
%     interfaces            struct array: patch1, side1, patch2, side2, flag and, for volumes,
%                           ornt1, ornt2, in the convention of the nurbs package's
%                           nrbmultipatch. d = 2: flag 1 where the two edges' parameters run
%                           the same way, -1 where they run against each other (also as ornt,
%                           nrbmultipatch's name for it). d = 3, with a1, a2 the first face's
%                           directions (the volume's other than its side's, in order): flag 1
%                           where a1 runs along the second face's first direction, -1 where
%                           along its second; ornt1 (ornt2) 1 where a1 (a2) runs the same way
%                           as the direction of the second face it lies along, -1 against it.
%     boundaries            struct array, one entry per face on no interface, ordered by patch
%                           then side: patch, side, dofs (the global indices of the functions
%                           that do not vanish there, ascending, a column)
%     isoparametric         1 x npatch logical: the space is the patch's own basis
%   Side numbers are MeshEval's: 2i-1 where coordinate i is at the start of its domain, 2i at
%   its end. Numbering is deterministic: patch by patch in the given order, each function in
%   its own order takes its glued partner's index if that has one, else the next; functions
%   meeting at an edge or vertex shared by three or more patches get one index.
%
%   Errors (identifier Multipatch:<mnemonic>): notStruct, optionValue, unknownOption,
%   dimensions, knotsNotOpen, nonConforming, partialContact, faceMatchedTwice, patchesOverlap,
%   and those of
%   MeshEval for a patch's own fields (their message names the patch).
%
%   Example: an L-shaped domain of three unit squares.
%     sq = @(x0, y0) struct ('coefs', permute (cat (3, [x0 x0+1; x0 x0+1], ...
%             [y0 y0; y0+1 y0+1], zeros (2), ones (2)), [3 1 2]), ...
%             'knots', {{[0 0 1 1], [0 0 1 1]}}, 'order', [2 2]);
%     mp = Multipatch ([sq(0, 0), sq(1, 0), sq(0, 1)]);
%     mp.ndof                                     % 8 vertices
%     K = StiffnessMatrix (mp, 1);
%
%   See also MeshEval, StiffnessMatrix, DirichletValues, MultipatchCore.
function mp = Multipatch (patches, varargin)
  who = 'Multipatch';
  fail = @(mnemonic, varargin) error ([who ':' mnemonic], varargin{:});
  if (nargin < 1)
    fail ('usage', 'usage: mp = Multipatch (patches, Name, Value, ...)');
  end
  if (isstruct (patches))
    patches = num2cell (reshape (patches, 1, []));
  end
  if (~iscell (patches) || isempty (patches) || ~all (cellfun (@isstruct, patches(:)')))
    fail ('notStruct', ['patches must be a struct array of NURBS patches as nrbmak makes ' ...
                        'them, or a cell array of them; found a %s.'], class (patches));
  end
  patches = reshape (patches, 1, []);
  n = numel (patches);
  spaces = cell (1, n);
  tolerance = 1e-10;
  if (mod (numel (varargin), 2) ~= 0)
    fail ('unknownOption', 'options must come in name, value pairs; found %d arguments.', ...
          numel (varargin));
  end
  for k = 1:2:numel (varargin)
    name = varargin{k};
    v = varargin{k + 1};
    if (~ischar (name) || ~isrow (name))
      fail ('unknownOption', 'option %d must be a name, space or tolerance.', (k + 1) / 2);
    end
    switch (lower (name))
      case 'space'
        if (isstruct (v)), v = num2cell (reshape (v, 1, [])); end
        if (~iscell (v) || numel (v) ~= n)
          fail ('optionValue', ['space must be a 1 x %d struct array or cell of spaces, one ' ...
                                'per patch.'], n);
        end
        spaces = reshape (v, 1, []);
      case 'tolerance'
        if (~isnumeric (v) || ~isscalar (v) || ~isreal (v) || ~(v > 0 && v < 1))
          fail ('optionValue', 'tolerance must be a real scalar in (0, 1).');
        end
        tolerance = double (v);
      otherwise
        fail ('unknownOption', 'unknown option ''%s''; the options are space, tolerance.', name);
    end
  end

  % Every patch's arrays as a mesh call reads them, in one physical space: the highest
  % coordinate not zero at some control point of any patch, at least the dimension.
  rdim = 0;
  for k = 1:n
    p = patches{k};
    if (isfield (p, 'coefs') && isnumeric (p.coefs) && size (p.coefs, 1) == 4)
      c = reshape (p.coefs(1:3, :), 3, []);
      rdim = max ([rdim, find(any (c ~= 0, 2), 1, 'last')]);
    end
    if (isfield (p, 'order')), rdim = max (rdim, numel (p.order)); end
  end
  rdim = min (max (rdim, 1), 3);
  args = cell (1, 15 * n);
  isoparametric = cellfun (@isempty, spaces);
  for k = 1:n
    options = {'rdim', rdim};
    if (~isoparametric(k)), options = [options, {'space', spaces{k}}]; end
    try
      [a, info] = mesh_arguments (who, patches{k}, options, {});
    catch err
      error (err.identifier, 'patch %d: %s', k, err.message);
    end
    if (k == 1)
      d = info.d;
    elseif (info.d ~= d)
      fail ('dimensions', ['patch %d has %d parametric directions, patch 1 %d: the patches ' ...
                           'of a domain are all curves, surfaces or volumes.'], k, info.d, d);
    end
    args(15 * (k - 1) + (1:15)) = a;
  end
  [gnum, interfaces, boundaries, boundary_dofs, counts] = MultipatchCore (tolerance, args{:});

  mp = struct ();
  mp.npatch = n;
  mp.ndim = d;
  mp.rdim = rdim;
  mp.ndof = counts(1);
  mp.patches = patches;
  mp.spaces = cell (1, n);
  mp.gnum = cell (1, n);
  at = 0;
  for k = 1:n
    p = patches{k};
    if (isoparametric(k))
      knots = p.knots;
      if (~iscell (knots)), knots = {knots}; end
      s = struct ('knots', {knots}, 'order', p.order);
      w = reshape (p.coefs(4, :), [size(p.coefs)(2:end), 1]);
      if (any (w(:) ~= w(1))), s.weights = w; end
    else
      s = spaces{k};
    end
    mp.spaces{k} = s;
    knots = s.knots;
    if (~iscell (knots)), knots = {knots}; end
    m = prod (cellfun (@numel, knots(:)') - reshape (s.order, 1, []));
    mp.gnum{k} = reshape (gnum(at + (1:m)), [], 1);
    at += m;
  end
  I = num2cell (reshape (interfaces(:, 1:counts(2)), 7, []));
  fields = {'patch1', I(1, :), 'side1', I(2, :), 'patch2', I(3, :), 'side2', I(4, :), ...
            'flag', I(5, :)};
  if (d == 2)
    fields = [fields, {'ornt', I(5, :)}];
  elseif (d == 3)
    fields = [fields, {'ornt1', I(6, :), 'ornt2', I(7, :)}];
  end
  mp.interfaces = struct (fields{:});
  B = reshape (boundaries(:, 1:counts(3)), 3, []);
  ends = cumsum (B(3, :));
  dofs = arrayfun (@(k) reshape (boundary_dofs(ends(k) - B(3, k) + 1:ends(k)), [], 1), ...
                   1:columns (B), 'UniformOutput', false);
  mp.boundaries = struct ('patch', num2cell (B(1, :)), 'side', num2cell (B(2, :)), ...
                          'dofs', dofs);
  mp.isoparametric = isoparametric;
end

%!shared mp
%! sq = @(x0, y0) struct ('coefs', permute (cat (3, [x0 x0+1; x0 x0+1], ...
%!         [y0 y0; y0+1 y0+1], zeros (2), ones (2)), [3 1 2]), ...
%!         'knots', {{[0 0 1 1], [0 0 1 1]}}, 'order', [2 2]);
%! mp = Multipatch ([sq(0, 0), sq(1, 0), sq(0, 1)]);
%!test
%! assert (mp.ndof, 8);
%! assert (numel (mp.interfaces), 2);
%! assert (numel (mp.boundaries), 8);
%! K = StiffnessMatrix (mp, 1);
%! assert (norm (K * ones (8, 1)), 0, 1e-13);
%!error id=Multipatch:notStruct Multipatch (1)
%!error id=Multipatch:unknownOption Multipatch (mp.patches, 'tolerence', 1e-8)
%!error id=Multipatch:patchesOverlap Multipatch (mp.patches([1 1]))
