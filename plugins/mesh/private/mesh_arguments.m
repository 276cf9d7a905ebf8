% MESH_ARGUMENTS  A mesh call's geometry struct and options as its native core's inputs.
%   [args, info] = mesh_arguments (who, geometry, options, flags)
%   who       the call, for its error identifiers (who:mnemonic)
%   geometry  the nrbmak struct
%   options   the name, value pairs the call was given (a cell)
%   flags     the call's own logical options besides the mesh's: a cell of names among
%             'gradient', 'hessian', 'laplacian' (MeshEval's, default true, false, false)
%   args      the core's 15 mesh inputs (gateway/mesh_gateway.h), the arrays checked there
%   info      what the struct needs besides the core's outputs: d, the flags, the side, whether
%             elements were chosen
% Only what the core cannot see is checked here: the structs, their fields, the option names,
% and the grid shape of coefs and weights (the core sees two dimensions).
function [args, info] = mesh_arguments (who, geometry, options, flags)
  fail = @(mnemonic, varargin) error ([who ':' mnemonic], varargin{:});
  if (~isstruct (geometry) || ~isscalar (geometry))
    fail ('notStruct', ['geometry must be a NURBS struct with fields coefs, knots and order, ' ...
                        'as nrbmak makes it; found a %s.'], class_of (geometry));
  end
  [order, knots] = basis_fields (fail, geometry, 'geometry', true);
  d = numel (order);
  check_grid (fail, 'geometry.coefs', geometry.coefs, order, knots, 4);

  space = [];
  rule = [];
  elements = 0;
  chosen = false;
  side = 0;
  rdim = 0;
  value = struct ('gradient', true, 'hessian', false, 'laplacian', false);
  names = [{'space', 'quadrature', 'elements', 'side', 'rdim'}, flags];
  if (mod (numel (options), 2) ~= 0)
    fail ('unknownOption', 'options must come in name, value pairs; found %d arguments.', ...
          numel (options));
  end
  for k = 1:2:numel (options)
    name = options{k};
    if (~ischar (name) || ~isrow (name))
      fail ('unknownOption', 'option %d must be a name, one of %s; found a %s.', (k + 1) / 2, ...
            strjoin (names, ', '), class_of (name));
    end
    at = find (strcmpi (name, names), 1);
    if (isempty (at))
      fail ('unknownOption', 'unknown option ''%s''; the options are %s.', name, ...
            strjoin (names, ', '));
    end
    v = options{k + 1};
    switch (names{at})
      case 'space'
        if (~isstruct (v) || ~isscalar (v))
          fail ('optionValue', ['space must be a struct with fields knots and order (and ' ...
                                'weights for a NURBS space); found a %s.'], class_of (v));
        end
        space = v;
      case 'quadrature'
        rule = v;
      case 'elements'
        if (~isnumeric (v) || (~isvector (v) && ~isempty (v)))
          fail ('optionValue', 'elements must be a vector of element indices; found a %s.', ...
                class_of (v));
        end
        % The core reads a lone 0 as every element; a caller's 0 is an index out of range.
        if (any (v(:) < 1))
          fail ('elementOutOfRange', 'elements must be indices of at least 1; found %g.', ...
                min (v(:)));
        end
        elements = v;
        chosen = true;
      case 'side'
        side = scalar_option (fail, 'side', v);
      case 'rdim'
        rdim = scalar_option (fail, 'rdim', v);
        if (rdim == 0)
          fail ('optionValue', 'rdim must be from %d to 3; found 0.', d);
        end
      otherwise
        flag = scalar_option (fail, names{at}, v);
        if (flag ~= 0 && flag ~= 1)
          fail ('optionValue', '%s must be true or false; found %g.', names{at}, flag);
        end
        value.(names{at}) = logical (flag);
    end
  end

  if (isempty (space))
    sorder = []; sknots = {[], [], []}; sweights = [];
  else
    [sorder, sknots] = basis_fields (fail, space, 'space', false);
    if (numel (sorder) ~= d)
      fail ('dimensions', 'space.order must hold %d orders, as the geometry; found %d.', d, ...
            numel (sorder));
    end
    % A NURBS struct (nrbmak's) as a space: its weights are coefs(4, ...).
    sweights = [];
    if (isfield (space, 'weights'))
      sweights = space.weights;
      check_grid (fail, 'space.weights', sweights, sorder, sknots, []);
    elseif (isfield (space, 'coefs'))
      check_grid (fail, 'space.coefs', space.coefs, sorder, sknots, 4);
      if (isnumeric (space.coefs) && size (space.coefs, 1) == 4)
        grid = size (space.coefs);
        sweights = reshape (space.coefs(4, :), [grid(2:end), 1]);
      end
    end
  end

  % The quadrature: a count per direction (default the space's order), or a cell of rules.
  if (isempty (rule))
    rule = num2cell (sorder);
    if (isempty (sorder)), rule = num2cell (order); end
  elseif (iscell (rule))
    if (numel (rule) ~= d)
      fail ('optionValue', 'quadrature must be a cell of %d rules, one per direction; found %d.', ...
            d, numel (rule));
    end
  elseif (isnumeric (rule) && (isscalar (rule) || numel (rule) == d))
    if (isscalar (rule)), rule = repmat (rule, 1, d); end
    rule = num2cell (rule);
  else
    fail ('optionValue', ['quadrature must be a number of nodes, one per direction (1 x %d), ' ...
                          'or a 1 x %d cell of [nodes; weights] rules.'], d, d);
  end
  rule(end + 1:3) = {[]};

  flagged = [value.gradient, value.hessian, value.laplacian];
  args = [{geometry.coefs, order}, knots, {sorder}, sknots, {sweights}, rule, ...
          {elements, [double(flagged), side, rdim]}];
  info = struct ('d', d, 'flags', flagged, 'side', side, 'chosen', chosen, ...
                 'elements', elements);
end

% order and knots of a geometry or space struct: the knots as a 1 x 3 cell, [] beyond d.
function [order, knots] = basis_fields (fail, s, what, geometry)
  need = {'knots', 'order'};
  if (geometry), need = {'coefs', 'knots', 'order'}; end
  has = isfield (s, need);
  if (~all (has))
    fail ('missingField', '%s must have a field %s.', what, need{find (~has, 1)});
  end
  order = s.order;
  if (~isnumeric (order) || ~isvector (order) || isempty (order))
    fail ('fieldType', '%s.order must be a numeric vector of orders (degree + 1); found a %s.', ...
          what, class_of (order));
  end
  d = numel (order);
  knots = s.knots;
  if (~iscell (knots))
    if (d ~= 1)
      fail ('fieldType', '%s.knots must be a 1 x %d cell of knot vectors for %d orders.', ...
            what, d, d);
    end
    knots = {knots};
  end
  if (numel (knots) ~= d)
    fail ('fieldType', '%s.knots must hold %d knot vectors, one per order; found %d.', what, ...
          d, numel (knots));
  end
  for k = 1:d
    if (~isnumeric (knots{k}))
      fail ('fieldType', '%s.knots{%d} must be a numeric row of knots; found a %s.', what, k, ...
            class_of (knots{k}));
    end
  end
  order = reshape (order, 1, []);
  knots = reshape (knots, 1, []);
  knots(end + 1:3) = {[]};
end

% An array of one entry per control point (or function) must have the knots' grid shape,
% [lead] n1 x n2 x n3 with ni = numel (knots{i}) - order(i): an array with as many entries but
% its grid dimensions swapped would otherwise be read in the wrong order. Weights (lead []) may
% also be a vector of n1 n2 n3 values, already in order. Counts the core refuses are left to it.
function check_grid (fail, what, a, order, knots, lead)
  if (~isnumeric (a) && ~islogical (a)), return; end
  d = numel (order);
  n = zeros (1, d);
  for k = 1:d
    n(k) = numel (knots{k}) - double (order(k));
  end
  if (any (n < 1) || numel (a) ~= prod ([lead, n])), return; end
  if (isempty (lead) && isvector (a)), return; end
  want = [lead, n];
  got = size (a);
  got(end + 1:numel (want)) = 1;
  want(end + 1:numel (got)) = 1;
  if (~isequal (got, want))
    fail ('coefsSize', ['%s must be %s for its knots and orders (the first direction fastest), ' ...
                        'found %s.'], what, strjoin (arrayfun (@num2str, [lead, n], ...
                        'UniformOutput', false), ' x '), strjoin (arrayfun (@num2str, ...
                        size (a), 'UniformOutput', false), ' x '));
  end
end

function v = scalar_option (fail, name, v)
  if (islogical (v)), v = double (v); end
  if (~isnumeric (v) || ~isscalar (v) || ~isreal (v))
    fail ('optionValue', '%s must be a real scalar; found a %s.', name, class_of (v));
  end
  v = double (v);
end

function c = class_of (v)
  c = class (v);
  if (~isscalar (v) && ~ischar (v))
    c = sprintf ('%s of size %s', c, strjoin (arrayfun (@num2str, size (v), ...
                                                         'UniformOutput', false), 'x'));
  end
end
