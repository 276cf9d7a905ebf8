% SOLVER_PROBLEM  What MatrixFreeOperator and FastDiagonalisation share: the form, its
% coefficients at each patch's nodes, each patch's mesh inputs, the Dirichlet faces and the free
% unknowns.
%   pb = solver_problem (who, form, geometry, coefficients, options)
%   who           the call, for its error identifiers (who:mnemonic)
%   form          'stiffness', 'mass', 'stiffness+mass' or 'elasticity'
%   geometry      a patch (nrbmak) or a domain (Multipatch)
%   coefficients  a cell of the form's coefficients as given: scalars, values at the nodes
%                 (over a domain a cell of one array a patch, or one vector of every patch's in
%                 turn) or handles of the coordinates
%   options       the other name, value pairs: 'dirichlet' (a patch's sides, or indices into
%                 mp.boundaries), 'components' (elasticity: the components fixed there),
%                 'scale' ([a b] of stiffness+mass), and the mesh's ('quadrature', for a patch
%                 'space')
%   pb            struct: kind (1 stiffness, 2 mass, 3 both, 4 elasticity), code ([kind a b],
%                 the cores' form), d, ndof, ncomp (unknowns a function), free (the free
%                 unknowns, ascending, a column), patches (struct array: mesh, the 15 mesh
%                 inputs; gnum, [] for a lone patch; coefficients, a cell; sides, 1 x ncomp cell
%                 of the patch's Dirichlet sides a component)
function pb = solver_problem (who, form, geometry, coefficients, options)
  fail = @(mnemonic, varargin) error ([who ':' mnemonic], varargin{:});
  kinds = {'stiffness', 'mass', 'stiffness+mass', 'elasticity'};
  if (~ischar (form) || ~any (strcmpi (form, kinds)))
    fail ('optionValue', 'the form must be one of %s.', strjoin (kinds, ', '));
  end
  kind = find (strcmpi (form, kinds));
  counts = [1 1 2 2];
  count = counts(kind);
  if (numel (coefficients) ~= count)
    fail ('usage', 'the form %s takes %d coefficient%s, found %d.', kinds{kind}, count, ...
          ifelse (count > 1, 's', ''), numel (coefficients));
  end
  all_names = {{'c'}, {'c'}, {'c', 'the mass''s c'}, {'lambda', 'mu'}};
  names = all_names{kind};
  for k = 1:count
    c = coefficients{k};
    if (ischar (c))
      fail ('usage', ['the coefficient %s must be a number, an array or a function handle, ' ...
                      'found ''%s'': the coefficients come before the options.'], names{k}, c);
    end
    if ((isnumeric (c) || islogical (c)) && ~isa (c, 'double')), coefficients{k} = double (c); end
  end

  [found, rest] = take_options (fail, options, {'dirichlet', 'components', 'scale', ...
                                                 'elements', 'side'});
  dirichlet = [];
  if (isfield (found, 'dirichlet'))
    v = found.dirichlet;
    if (~isnumeric (v) || any (v(:) < 1 | v(:) ~= fix (v(:))))
      fail ('optionValue', 'dirichlet must be a list of faces (positive indices).');
    end
    dirichlet = unique (reshape (double (v), 1, []));
  end
  components = [];
  if (isfield (found, 'components'))
    if (kind ~= 4), fail ('optionValue', 'components is the elasticity''s option.'); end
    components = found.components;
  end
  scale = [1 1];
  if (isfield (found, 'scale'))
    v = found.scale;
    if (~isnumeric (v) || numel (v) ~= 2 || ~all (isfinite (v(:))) || ~isreal (v))
      fail ('optionValue', 'scale must be [a b], finite: a K + b M.');
    end
    if (kind ~= 3), fail ('optionValue', 'scale is the option of the form stiffness+mass.'); end
    scale = reshape (double (v), 1, 2);
  end
  for name = intersect ({'elements', 'side'}, fieldnames (found))
    fail ('optionValue', '%s: the operator is the whole patch''s, every element.', name{1});
  end

  domain = is_domain (geometry);
  if (domain)
    [~, pieces] = domain_pieces (who, geometry, rest, {});
    meshes = {pieces.mesh};
    gnums = geometry.gnum([pieces.patch]);
    ndof = geometry.ndof;
    d = geometry.ndim;
    if (any (dirichlet > numel (geometry.boundaries)))
      fail ('optionValue', 'dirichlet must be indices into mp.boundaries, from 1 to %d.', ...
            numel (geometry.boundaries));
    end
    on = unique (vertcat (zeros (0, 1), geometry.boundaries(dirichlet).dofs));
    owner = [geometry.boundaries(dirichlet).patch];
    side = [geometry.boundaries(dirichlet).side];
    sides = arrayfun (@(p) side(owner == p), [pieces.patch], 'UniformOutput', false);
  else
    [mesh, info] = mesh_arguments (who, geometry, rest, {});
    meshes = {mesh};
    gnums = {[]};
    d = info.d;
    if (any (dirichlet > 2 * d))
      fail ('optionValue', 'dirichlet must be sides of the patch, from 1 to %d.', 2 * d);
    end
    on = zeros (0, 1);
    for s = dirichlet
      m = mesh;
      m(11:10 + d) = {1};
      m{14} = 0;
      m{15} = [0 0 0 s 0];
      out = cell (1, 13);
      [out{:}] = MeshEvalCore (m{:});
      on = union (on, out{13}(:));
    end
    sides = {dirichlet};
    order = mesh{6};
    knots = mesh(7:9);
    if (isempty (order)), order = mesh{2}; knots = mesh(3:5); end
    ndof = prod (cellfun (@numel, knots(1:d)) - double (reshape (order, 1, [])));
  end
  ncomp = ifelse (kind == 4, d, 1);
  if (isempty (components)), components = 1:ncomp; end
  if (~isnumeric (components) || ~all (ismember (components(:), 1:ncomp)))
    fail ('optionValue', 'components must be a list of components from 1 to %d.', ncomp);
  end
  components = unique (double (components(:)'));
  fixed = reshape (on + ndof * (components - 1), [], 1);
  pb.kind = kind;
  pb.code = [kind, scale];
  pb.d = d;
  pb.ndof = ndof;
  pb.ncomp = ncomp;
  pb.free = setdiff ((1:ndof * ncomp)', fixed);
  pb.names = names;

  % Each patch's coefficients: a cell of one array a patch, or one vector of every patch's
  % values in turn, cut by the patches' nodes; a handle evaluated at the patch's points.
  np = numel (meshes);
  values = cell (np, count);
  nodes = cellfun (@nodes_of, meshes);
  for k = 1:count
    c = coefficients{k};
    if (iscell (c))
      if (~domain)
        fail ('coefficientSize', ['the coefficient %s must be a number, values at the nodes ' ...
                                  'or a handle for a patch, found a cell.'], names{k});
      elseif (numel (c) ~= geometry.npatch)
        fail ('coefficientSize', 'the coefficient %s must be a cell of %d arrays, one a patch.', ...
              names{k}, geometry.npatch);
      end
      values(:, k) = reshape (c([pieces.patch]), [], 1);
    elseif (domain && isnumeric (c) && ~isscalar (c) && numel (c) == sum (nodes))
      ends = cumsum (nodes);
      for j = 1:np
        values{j, k} = reshape (c(ends(j) - nodes(j) + 1:ends(j)), 1, []);
      end
    else
      values(:, k) = {c};
    end
  end
  for j = 1:np
    handles = find (cellfun (@(c) isa (c, 'function_handle'), values(j, :)));
    if (isempty (handles)), continue; end
    x = MatrixFreeSetupCore (meshes{j}{:}, [0 0 0]);
    points = num2cell (x, 2);
    for k = handles
      values{j, k} = handle_values (who, values{j, k}, names{k}, points, false);
    end
  end
  pb.patches = struct ('mesh', meshes, 'gnum', gnums, 'coefficients', num2cell (values, 2)', ...
                       'sides', []);
  for j = 1:np
    pb.patches(j).sides = repmat ({[]}, 1, ncomp);
    pb.patches(j).sides(components) = sides(j);
  end
end

% Quadrature points of a patch's whole mesh: its elements times the rule's nodes a direction.
function n = nodes_of (mesh)
  order = mesh{6};
  knots = mesh(7:9);
  if (isempty (order)), order = mesh{2}; knots = mesh(3:5); end
  n = 1;
  for k = 1:numel (order)
    U = double (knots{k});
    p = double (order(k)) - 1;
    inside = U(p + 1:numel (U) - p);
    rule = mesh{10 + k};
    nq = ifelse (isscalar (rule), rule, size (rule, 2));
    n = n * (numel (unique (inside)) - 1) * nq;
  end
end

function v = ifelse (test, a, b)
  if (test), v = a; else, v = b; end
end
