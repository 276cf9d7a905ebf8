% DOMAIN_PIECES  A call over a domain (Multipatch) as its native core's inputs: the pieces the
% options choose, whole patches or boundary faces, each with its mesh inputs and numbering.
%   [args, pieces, none] = domain_pieces (who, mp, options, flags)
%   who      the call, for its error identifiers (who:mnemonic)
%   options  the call's name, value pairs: 'patches' (the patches to assemble, default all),
%            'boundary' (indices into mp.boundaries: their faces instead of the patches),
%            'elements' (a 1 x npatch cell of each patch's elements, or a vector where one
%            patch is chosen), and MeshEval's own options but space, rdim and side, which the
%            domain fixes, applied to every piece. A list given twice over ('patches', [1 1],
%            'boundary', [2 2]) counts each index once, where it first appears; an empty list
%            ('patches', 'boundary' or 'elements' [], zeros (1, 0), a cell of empty lists)
%            chooses nothing.
%   flags    as mesh_arguments'
%   args     {header, piece 1's 15 mesh inputs, its gnum, piece 2's ...}: header is
%            [ndof, the patch of each piece]
%   pieces   struct array: patch, side (0: the whole patch), mesh (its 15 mesh inputs), info
%   none     true where the options chose nothing: the one piece is the first patch with none of
%            its elements, for the full-size zero result
function [args, pieces, none] = domain_pieces (who, mp, options, flags)
  fail = @(mnemonic, varargin) error ([who ':' mnemonic], varargin{:});
  chosen = 1:mp.npatch;
  faces = [];
  boundary = false;
  elements = [];
  given = false;
  rest = {};
  if (mod (numel (options), 2) ~= 0)
    fail ('unknownOption', 'options must come in name, value pairs; found %d arguments.', ...
          numel (options));
  end
  for k = 1:2:numel (options)
    name = options{k};
    v = options{k + 1};
    if (~ischar (name) || ~isrow (name))
      rest(end + 1:end + 2) = options(k:k + 1);    % mesh_arguments names the fault
      continue;
    end
    switch (lower (name))
      case 'patches'
        if (~isnumeric (v) || any (v(:) < 1 | v(:) > mp.npatch | v(:) ~= fix (v(:))))
          fail ('optionValue', 'patches must be patch indices from 1 to %d.', mp.npatch);
        end
        chosen = unique (reshape (double (v), 1, []));
      case 'boundary'
        if (~isnumeric (v) || any (v(:) < 1 | v(:) > numel (mp.boundaries) | v(:) ~= fix (v(:))))
          fail ('optionValue', 'boundary must be indices into mp.boundaries, from 1 to %d.', ...
                numel (mp.boundaries));
        end
        faces = reshape (double (v), 1, []);
        [~, first] = unique (faces, 'first');
        faces = faces(sort (first));
        boundary = true;
      case 'elements'
        elements = v;
        given = true;
      case {'space', 'rdim', 'side'}
        fail ('optionValue', ['%s is the domain''s own over a domain (Multipatch); use ' ...
                              '''patches'' or ''boundary'' to choose where.'], lower (name));
      otherwise
        rest(end + 1:end + 2) = options(k:k + 1);
    end
  end
  if (boundary)
    if (given)
      fail ('optionValue', 'elements cannot be chosen on boundary faces; choose the faces.');
    end
    patch = [mp.boundaries(faces).patch];
    side = [mp.boundaries(faces).side];
    keep = ismember (patch, chosen);
    patch = patch(keep);
    side = side(keep);
  else
    patch = chosen;
    side = zeros (size (chosen));
  end
  if (given)
    if (~iscell (elements) && isempty (elements))
      elements = repmat ({zeros(1, 0)}, 1, mp.npatch);   % none of any patch's
    elseif (~iscell (elements))
      if (numel (chosen) ~= 1)
        fail ('optionValue', ['elements must be a 1 x %d cell of each patch''s elements, or a ' ...
                              'vector where ''patches'' chooses one patch.'], mp.npatch);
      end
      list = cell (1, mp.npatch);
      list{chosen} = elements;
      elements = list;
    elseif (numel (elements) ~= mp.npatch)
      fail ('optionValue', 'elements must be a 1 x %d cell of each patch''s elements.', mp.npatch);
    end
  end
  % Nothing chosen (no patches, or faces on none of them): the full-size zero result, as the
  % first patch with none of its elements, since the core reads at least one piece.
  none = isempty (patch);
  if (none)
    patch = 1;
    side = 0;
    elements = repmat ({zeros(1, 0)}, 1, mp.npatch);
  end

  args = cell (1, 1 + 16 * numel (patch));
  args{1} = [mp.ndof, patch];
  pieces = struct ('patch', {}, 'side', {}, 'mesh', {}, 'info', {});
  for k = 1:numel (patch)
    p = patch(k);
    options = [{'rdim', mp.rdim, 'side', side(k)}, rest];
    if (~mp.isoparametric(p)), options = [options, {'space', mp.spaces{p}}]; end
    if (iscell (elements)), options = [options, {'elements', elements{p}}]; end
    [a, info] = mesh_arguments (who, mp.patches{p}, options, flags);
    args(1 + 16 * (k - 1) + (1:16)) = [a, {mp.gnum{p}}];
    pieces(k) = struct ('patch', p, 'side', side(k), 'mesh', {a}, 'info', info);
  end
end
