% HIERARCHICAL_ARGUMENTS  A call over a hierarchical space (HierarchicalSpace) as its native
% core's inputs: the header, every patch's 15 mesh inputs, the refined cells, the interfaces,
% the faces and the elements.
%   [args, info, nodes] = hierarchical_arguments (who, hs, options, flags)
%   who      the call, for its error identifiers (who:mnemonic)
%   options  the call's name, value pairs: 'elements' (indices into hs.elements), 'patch' (that
%            patch's elements), 'side' (a patch's face, for a space of one patch), 'boundary'
%            (an index into hs.boundaries, or several for the forms), and MeshEval's own options
%            but space and rdim, which the space fixes, applied to every patch
%   flags    as mesh_arguments'
%   args     {header, 15 mesh inputs a patch, refined, interfaces, faces, elements}
%   info     what MeshEval's struct needs (mesh_arguments'), the faces and elements chosen
%   nodes    a cell of MeshEvalCore argument lists whose quad nodes, in turn, are the
%            evaluated nodes (one list a face)
function [args, info, nodes] = hierarchical_arguments (who, hs, options, flags)
  fail = @(mnemonic, varargin) error ([who ':' mnemonic], varargin{:});
  need = {'npatch', 'patches', 'spaces', 'isoparametric', 'refined', 'interfaces', ...
          'boundaries', 'subdivision', 'truncated', 'rdim', 'elements', 'nel'};
  has = isfield (hs, need);
  if (~all (has))
    fail ('notHierarchical', 'the space must be a hierarchical space as HierarchicalSpace makes it (no field %s).', ...
          need{find (~has, 1)});
  end
  if (mod (numel (options), 2) ~= 0)
    fail ('unknownOption', 'options must come in name, value pairs; found %d arguments.', ...
          numel (options));
  end
  elements = 0; chosen = false; faces = zeros (2, 0); rest = {};
  for k = 1:2:numel (options)
    name = options{k}; v = options{k + 1};
    if (~ischar (name) || ~isrow (name))
      rest(end + 1:end + 2) = options(k:k + 1);    % mesh_arguments names the fault
      continue;
    end
    switch (lower (name))
      case 'elements'
        if (~isnumeric (v) || (~isvector (v) && ~isempty (v)))
          fail ('optionValue', 'elements must be a vector of element indices; found a %s.', class (v));
        end
        if (any (v(:) < 1))
          fail ('elementOutOfRange', 'elements must be indices of at least 1; found %g.', min (v(:)));
        end
        elements = reshape (double (v), 1, []);
        chosen = true;
      case 'patch'
        if (~isnumeric (v) || ~isscalar (v) || ~(v >= 1 && v <= hs.npatch && v == fix (v)))
          fail ('optionValue', 'patch must be an index from 1 to %d.', hs.npatch);
        end
        elements = reshape (find (hs.elements.patch == v), 1, []);
        chosen = true;
      case 'side'
        if (hs.npatch ~= 1)
          fail ('optionValue', 'side chooses a face of a space of one patch; use ''boundary''.');
        end
        if (~isnumeric (v) || ~isscalar (v) || ~(v >= 1 && v <= 2 * numel (hs.patches{1}.order) && v == fix (v)))
          fail ('sideOutOfRange', 'side must be a face from 1 to %d, found %s.', ...
                2 * numel (hs.patches{1}.order), num2str (v));
        end
        faces = [1; double(v)];
      case 'face'
        % A patch's side [patch side], on an interface or not.
        if (~isnumeric (v) || numel (v) ~= 2 || ~(v(1) >= 1 && v(1) <= hs.npatch && v(1) == fix (v(1))) || ...
            ~(v(2) >= 1 && v(2) <= 2 * numel (hs.patches{v(1)}.order) && v(2) == fix (v(2))))
          fail ('optionValue', 'face must be [patch side] of a patch of the space.');
        end
        faces = double (v(:));
      case 'boundary'
        if (~isnumeric (v) || isempty (v) || any (v(:) < 1 | v(:) > numel (hs.boundaries) | v(:) ~= fix (v(:))))
          fail ('optionValue', 'boundary must be indices into hs.boundaries, from 1 to %d.', ...
                numel (hs.boundaries));
        end
        v = reshape (double (v), 1, []);
        faces = [[hs.boundaries(v).patch]; [hs.boundaries(v).side]];
      case {'space', 'rdim'}
        fail ('optionValue', '%s is the space''s own over a hierarchical space.', lower (name));
      otherwise
        rest(end + 1:end + 2) = options(k:k + 1);
    end
  end
  if (~isempty (faces) && chosen)
    fail ('optionValue', 'elements cannot be chosen on faces; choose the faces.');
  end
  n = hs.npatch;
  args = cell (1, 5 + 15 * n);
  args{1} = [0, double(hs.subdivision), double(logical (hs.truncated)), n];
  nodes = {};
  meshes = cell (1, n);
  for k = 1:n
    o = [{'rdim', hs.rdim}, rest];
    if (~hs.isoparametric(k)), o = [o, {'space', hs.spaces{k}}]; end
    [a, info] = mesh_arguments (who, hs.patches{k}, o, flags);
    args(1 + 15 * (k - 1) + (1:15)) = a;
    meshes{k} = a;
  end
  args{end - 3} = double (hs.refined);
  args{end - 2} = interface_columns (hs.interfaces, info.d);
  args{end - 1} = faces;
  args{end} = elements;
  info.side = 0;
  if (~isempty (faces)), info.side = faces(2, 1); end
  info.chosen = chosen;
  info.elements = elements;
  info.faces = faces;
  if (nargout > 2)
    % The nodes in the order the core evaluates them: a face at a time.
    plain = args;
    for k = 1:n
      plain{1 + 15 * (k - 1) + 15}(1:3) = 0;
    end
    if (isempty (faces))
      nodes = {plain};
    else
      for f = 1:size (faces, 2)
        one = plain;
        one{end - 1} = faces(:, f);
        nodes{end + 1} = one;
      end
    end
  end
end

% Multipatch's interfaces as the core's 7 x m columns.
function I = interface_columns (interfaces, d)
  I = zeros (7, numel (interfaces));
  for k = 1:numel (interfaces)
    i = interfaces(k);
    o = [0 0];
    if (d == 3), o = [i.ornt1, i.ornt2]; end
    I(:, k) = [i.patch1; i.side1; i.patch2; i.side2; i.flag; o(:)];
  end
end
