% ASSEMBLE_FORM  A form of a patch, assembled by its native core.
%   A = assemble_form (who, geometry, coefficients, names, vector, options)
%   who           the call (StiffnessMatrix ...): its core is [who 'Core'], its errors who:*
%   coefficients  the form's coefficients as given: scalars, arrays at the nodes, or handles
%   names         their names, for messages
%   vector        which of them have rdim components (true), may have (NaN), or have one (false)
%   options       the name, value pairs the call was given
% A handle is called once with the nodes' physical coordinates, rows x, y (, z) of all nodes in
% MeshEval's order, and must return one row of values (rdim rows for a vector coefficient).
function A = assemble_form (who, geometry, coefficients, names, vector, options)
  [args, info] = mesh_arguments (who, geometry, options, {});
  core = str2func ([who 'Core']);
  handles = cellfun (@(c) isa (c, 'function_handle'), coefficients);
  if (any (handles))
    % The nodes' coordinates from MeshEval's core: rdim x (nqn nel).
    mesh = args;
    mesh{15}(1:3) = 0;
    [~, w, x] = MeshEvalCore (mesh{:});
    rdim = size (x, 1) / size (w, 1);
    x = reshape (x, rdim, []);
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
  A = core (args{:}, coefficients{:});
end

function n = columns_of (x)
  n = size (x, 2);
end
