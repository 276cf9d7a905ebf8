% ASSEMBLE_FORM  A form of a patch or of a domain (Multipatch), assembled by its native core.
%   A = assemble_form (who, geometry, coefficients, names, vector, options)
%   who           the call (StiffnessMatrix ...): its core is [who 'Core'], its errors who:*
%   coefficients  the form's coefficients as given: scalars, arrays at the nodes, or handles
%   names         their names, for messages
%   vector        which of them have rdim components (true), may have (NaN), or have one (false)
%   options       the name, value pairs the call was given
% A handle is called once with the nodes' physical coordinates, rows x, y (, z) of all nodes in
% MeshEval's order (piece by piece over a domain), and must return one row of values (rdim rows
% for a vector coefficient). Over a domain, values at the nodes may come as a cell, one array a
% patch (a face with 'boundary').
function A = assemble_form (who, geometry, coefficients, names, vector, options)
  domain = isstruct (geometry) && isscalar (geometry) && isfield (geometry, 'gnum') && ...
           isfield (geometry, 'npatch');
  if (domain)
    [args, pieces] = domain_pieces (who, geometry, options, {});
    meshes = {pieces.mesh};
  else
    args = mesh_arguments (who, geometry, options, {});
    meshes = {args};
  end
  core = str2func ([who 'Core']);
  handles = cellfun (@(c) isa (c, 'function_handle'), coefficients);
  if (any (handles))
    % The nodes' coordinates from MeshEval's core, piece by piece: rdim x (nqn nel).
    x = cell (1, numel (meshes));
    for k = 1:numel (meshes)
      mesh = meshes{k};
      mesh{15}(1:3) = 0;
      [~, w, xk] = MeshEvalCore (mesh{:});
      rdim = size (xk, 1) / max (size (w, 1), 1);
      if (isempty (w)), rdim = max (mesh{15}(5), 1); end
      x{k} = reshape (xk, rdim, []);
    end
    x = [x{:}];
    rdim = rows (x);
    points = num2cell (x, 2);
    for k = find (handles)
      try
        v = coefficients{k} (points{:});
      catch err
        error ([who ':coefficientError'], ['the coefficient %s failed at the nodes: %s ' ...
               '(it is called with rows x, y, z of the nodes'' coordinates)'], names{k}, ...
               err.message);
      end
      rows = 1;
      if (isnan (vector(k)))
        rows = 1 + (rdim - 1) * (size (v, 1) == rdim);
      elseif (vector(k))
        rows = rdim;
      end
      if (~isnumeric (v) || ~(isequal (size (v), [rows, columns_of(x)]) || isscalar (v)))
        error ([who ':coefficientSize'], ['the coefficient %s must return %d x %d values ' ...
               '(%d per node), found a %s of size %s.'], names{k}, rows, columns_of (x), ...
               rows, class (v), strjoin (arrayfun (@num2str, size (v), 'UniformOutput', ...
                                                   false), 'x'));
      end
      coefficients{k} = double (v);
    end
  end
  if (domain)
    % Values given a patch (or a face) at a time: a cell, one array of a piece's nodes each.
    faces = any ([pieces.side]);
    for k = find (cellfun (@iscell, coefficients))
      c = coefficients{k};
      expected = ifelse (faces, numel (pieces), geometry.npatch);
      if (numel (c) ~= expected)
        error ([who ':coefficientSize'], ['the coefficient %s must be a cell of %d arrays, ' ...
               'one a %s, found %d.'], names{k}, expected, ifelse (faces, 'face', 'patch'), ...
               numel (c));
      end
      parts = cell (1, numel (pieces));
      for j = 1:numel (pieces)
        part = double (c{ifelse (faces, j, pieces(j).patch)});
        rows = 1;
        if (vector(k) == 1 || (isnan (vector(k)) && ndims (part) > 2))
          rows = size (part, 1);
        end
        parts{j} = reshape (part, rows, []);
      end
      coefficients{k} = [parts{:}];
    end
  end
  A = core (args{:}, coefficients{:});
end

function v = ifelse (test, a, b)
  if (test), v = a; else, v = b; end
end

function n = columns_of (x)
  n = size (x, 2);
end
