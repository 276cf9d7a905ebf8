% ASSEMBLE_FORM  A form of a patch or of a domain (Multipatch), assembled by its native core.
%   A = assemble_form (who, geometry, coefficients, names, vector, options)
%   who           the call (StiffnessMatrix ...): its core is [who 'Core'], its errors who:*
%   coefficients  the form's coefficients as given: scalars, arrays at the nodes, or handles
%   names         their names, for messages
%   vector        which of them have rdim components (true), may have (NaN), or have one (false)
%   options       the name, value pairs the call was given
% A handle is called once with the nodes' physical coordinates, rows x, y (, z) of all nodes in
% MeshEval's order (piece by piece over a domain), and must return, in node order, one value
% per node (any array of that many) or, for a vector coefficient, rdim per node with the
% components first (rdim x N, rdim x 1 x N, rdim x nqn x nel); where there are no nodes (no
% elements chosen) it is called with rdim rows of none. Numeric and logical values, given or
% returned, are read as double. Over a domain, values at the nodes may come as a cell, one array
% a patch (a face with 'boundary'), each checked as a patch's values are; where the options
% choose nothing the cell's arrays are not read.
function A = assemble_form (who, geometry, coefficients, names, vector, options)
  for k = 1:numel (coefficients)
    c = coefficients{k};
    if (ischar (c))
      error ([who ':usage'], ['the coefficient %s must be a number, an array or a function ' ...
             'handle, found ''%s'': the coefficients come before the options (%s).'], ...
             names{k}, c, usage_of (who, names));
    end
    if ((isnumeric (c) || islogical (c)) && ~isa (c, 'double'))
      coefficients{k} = double (c);
    end
  end
  domain = is_domain (geometry);
  hierarchical = is_hierarchical (geometry);
  none = false;
  if (hierarchical)
    [args, ~, meshes] = hierarchical_arguments (who, geometry, options, {});
    nqn = NaN;
  elseif (domain)
    [args, pieces, none] = domain_pieces (who, geometry, options, {});
    nqn = NaN;
  else
    [args, info] = mesh_arguments (who, geometry, options, {});
    nqn = nodes_of (args, info.side);
  end
  core = str2func ([who 'Core']);
  % rdim x nqn x nel values: the core sees rdim x (nqn nel) and cannot tell rdim x nel x nqn.
  for k = 1:numel (coefficients)
    c = coefficients{k};
    if (isnumeric (c) && ndims (c) == 3 && ~isnan (nqn) && size (c, 2) ~= nqn)
      error ([who ':coefficientSize'], ['the coefficient %s must be rdim x nqn x nel, with ' ...
             'nqn = %d nodes an element; found %s.'], names{k}, nqn, ...
             strjoin (arrayfun (@num2str, size (c), 'UniformOutput', false), ' x '));
    end
  end
  handles = cellfun (@(c) isa (c, 'function_handle'), coefficients);
  if (any (handles))
    % The nodes' coordinates, piece by piece: rdim x (nqn nel), from the geometry natively; the
    % element path as the reference (NURBS_FORMS_METHOD=elements) and a hierarchical space take
    % MeshEval's.
    if (hierarchical)
      x = mesh_coordinates (meshes, geometry.rdim);
    elseif (strcmp (strtrim (getenv ('NURBS_FORMS_METHOD')), 'elements'))
      if (domain), x = mesh_coordinates ({pieces.mesh}); else, x = mesh_coordinates ({args}); end
    else
      try
        x = MeshNodesCore (args{:});
      catch err
        % The inputs' faults as the form's own, which its core would raise alike.
        if (strncmp (err.identifier, 'MeshNodes:', 10))
          error ([who err.identifier(10:end)], '%s', err.message);
        end
        rethrow (err);
      end
    end
    rdim = size (x, 1);
    points = num2cell (x, 2);
    for k = find (handles)
      coefficients{k} = handle_values (who, coefficients{k}, names{k}, points, vector(k));
    end
  end
  if (domain)
    % Values given a patch (or a face) at a time: a cell, one array of a piece's nodes each.
    faces = any ([pieces.side]);
    for k = find (cellfun (@iscell, coefficients))
      c = coefficients{k};
      if (none)
        coefficients{k} = zeros (1 + (geometry.rdim - 1) * (vector(k) == 1), 0);
        continue;
      end
      expected = ifelse (faces, numel (pieces), geometry.npatch);
      if (numel (c) ~= expected)
        error ([who ':coefficientSize'], ['the coefficient %s must be a cell of %d arrays, ' ...
               'one a %s, found %d.'], names{k}, expected, ifelse (faces, 'face', 'patch'), ...
               numel (c));
      end
      parts = cell (1, numel (pieces));
      components = zeros (1, numel (pieces));
      for j = 1:numel (pieces)
        part = double (c{ifelse (faces, j, pieces(j).patch)});
        [parts{j}, components(j)] = piece_values (who, names{k}, part, vector(k), ...
                                                  geometry.rdim, pieces(j), j, faces);
      end
      if (any (components ~= components(1)))
        error ([who ':coefficientSize'], ['the coefficient %s must have as many components ' ...
               'at every %s: found %s.'], names{k}, ifelse (faces, 'face', 'patch'), ...
               mat2str (components));
      end
      coefficients{k} = [parts{:}];
    end
  end
  try
    A = core (args{:}, coefficients{:});
  catch err
    if (domain && strcmp (err.identifier, [who ':sideOutOfRange']) && any ([pieces.side]))
      error ([who ':sideOutOfRange'], ['%s takes no ''boundary'': the forms of boundary faces ' ...
             'are MassMatrix and LoadVector.'], who);
    end
    % The host's own failure to make the result, as the call's outOfMemory: a caller may assemble
    % in chunks of elements instead.
    if (out_of_memory (err))
      error ([who ':outOfMemory'], '%s: %s (assemble fewer elements a call)', who, err.message);
    end
    rethrow (err);
  end
end

% A piece's values at its nodes (a patch's, or a face's) as the core reads a patch's: one a node
% (nqn x nel, or a vector), or rdim a node with the components first (rdim x N, rdim x 1 x N,
% rdim x nqn x nel); one a node where both fit a load. values: components x N; a fault names the
% piece.
function [values, components] = piece_values (who, name, part, vector, rdim, piece, j, faces)
  nqn = nodes_of (piece.mesh, piece.side);
  if (isnan (nqn))
    % A rule the core refuses: it names the fault.
    components = 1 + (size (part, 1) - 1) * (vector == 1 || (isnan (vector) && ndims (part) > 2));
    values = reshape (part, components, []);
    return;
  end
  N = nqn * elements_of (piece);
  r = size (part, 1);
  scalar = numel (part) == N && (r == nqn || r == 1 || numel (part) == r || N == 0);
  spread = vector ~= 0 && rdim > 1 && r == rdim && numel (part) == rdim * N && ...
           (ndims (part) < 3 || size (part, 2) == nqn || size (part, 2) == 1);
  if (N == 0 && isnan (vector))
    scalar = scalar && ~spread;       % no nodes, rdim rows: a load of rdim components
  end
  if (scalar && (vector ~= 1 || rdim == 1))
    values = reshape (part, 1, N);
    components = 1;
  elseif (spread)
    values = reshape (part, rdim, N);
    components = rdim;
  else
    if (faces)
      where = sprintf ('{%d}, on patch %d side %d,', j, piece.patch, piece.side);
    else
      where = sprintf ('{%d}, on patch %d,', piece.patch, piece.patch);
    end
    what = sprintf ('nqn x nel = %d x %d values at its nodes, or a vector of %d', nqn, ...
                    elements_of (piece), N);
    if (vector == 1 && rdim > 1)
      what = sprintf ('rdim x nqn x nel = %d x %d x %d values at its nodes, or %d x %d', rdim, ...
                      nqn, elements_of (piece), rdim, N);
    elseif (isnan (vector) && rdim > 1)
      what = [what sprintf(', or rdim x nqn x nel = %d x %d x %d', rdim, nqn, ...
                           elements_of (piece))];
    end
    error ([who ':coefficientSize'], 'the coefficient %s%s must be %s; found %s.', name, ...
           where, what, strjoin (arrayfun (@num2str, size (part), 'UniformOutput', false), ...
                                 ' x '));
  end
end

% Elements of a piece: those chosen, or every non-empty knot span of its space in the directions
% of the patch (of the face: all but the side's).
function n = elements_of (piece)
  if (piece.info.chosen)
    n = numel (piece.info.elements);
    return;
  end
  mesh = piece.mesh;
  order = mesh{6};
  knots = mesh(7:9);
  if (isempty (order))
    order = mesh{2};
    knots = mesh(3:5);
  end
  n = 1;
  for k = 1:numel (order)
    if (k == ceil (piece.side / 2)), continue; end
    U = double (knots{k});
    p = double (order(k)) - 1;
    n = n * sum (diff (U(p + 1:numel (U) - p)) > 0);
  end
end

% The call's usage line, for its usage errors.
function u = usage_of (who, names)
  u = sprintf ('%s (geometry, %s, Name, Value, ...)', who, strjoin (names, ', '));
end

% Nodes an element: the rules' of every direction but a side's (NaN for rules the core will
% refuse).
function n = nodes_of (args, side)
  n = 1;
  for k = 1:3
    rule = args{10 + k};
    if (isempty (rule) || k == ceil (side / 2)), continue; end
    if (~isnumeric (rule)), n = NaN; return; end
    if (isscalar (rule)), n = n * double (rule); else, n = n * size (rule, 2); end
  end
end

% The nodes' coordinates from MeshEval's core, piece by piece: rdim x (nqn nel). A hierarchical
% space's meshes (their rdim given) have no lists to clear.
function x = mesh_coordinates (meshes, hierarchical_rdim)
  x = cell (1, numel (meshes));
  for k = 1:numel (meshes)
    mesh = meshes{k};
    if (nargin < 2), mesh{15}(1:3) = 0; end
    [~, w, xk] = MeshEvalCore (mesh{:});
    rdim = size (xk, 1) / max (size (w, 1), 1);     % also of no elements: w is nqn x 0
    if (size (w, 1) == 0 && nargin < 2), rdim = max (mesh{15}(5), 1); end
    if (size (w, 1) == 0 && nargin == 2), rdim = hierarchical_rdim; end
    x{k} = reshape (xk, rdim, []);
  end
  x = [x{:}];
end

function v = ifelse (test, a, b)
  if (test), v = a; else, v = b; end
end
