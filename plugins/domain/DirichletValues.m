% DIRICHLETVALUES  Values of the functions on boundary faces for a Dirichlet condition u = g.
%
%   [dofs, values] = DirichletValues(geometry, sides, g)
%   [dofs, values] = DirichletValues(mp, faces, g)
%   [dofs, values] = DirichletValues(..., Name, Value, ...)
%
%   The L2 projection of g onto the functions that do not vanish on the given faces, as one
%   projection over the union of the faces: a function shared by two faces (a corner) gets one
%   value; a face given twice counts once, as in the forms' lists. A face collapsed to a point
%   (the centre of a disk of sectors; in 3-D, a face collapsed to a curve) has no measure: it is
%   left out of the projection, and the functions on collapsed faces alone are projected in
%   those faces' parameters, the others keeping their values (at a point, every one gets the
%   value of g there). With u(dofs) = values, a solve needs only the other unknowns:
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
%   Options (name, value pairs; names in any case): 'components', list: only these components
%   of a vector field (a symmetry condition fixes one); 'quadrature', and for a patch 'space', as
%   the forms'. No other: the faces are the second argument.
%
%   dofs, values: columns, the functions of the faces in ascending order, component by
%   component.
%
%   Errors (identifier DirichletValues:<mnemonic>): usage, optionValue (faces not positive
%   whole numbers, or beyond mp.boundaries; components), unknownOption, singularProjection (a
%   function with no measure on the faces given, which no projection can give a value),
%   coefficientError (g failed on a collapsed face), and those of MassMatrix and LoadVector.
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
  if (~isnumeric (faces) || ~isreal (faces) || any (faces(:) ~= fix (faces(:))) || ...
      any (faces(:) < 1))
    fail ('optionValue', 'faces must be a list of positive face indices, real whole numbers.');
  end
  faces = unique (reshape (double (faces), 1, []));
  components = [];
  rest = {};
  if (mod (numel (varargin), 2) ~= 0)
    fail ('unknownOption', 'options must come in name, value pairs; found %d arguments.', ...
          numel (varargin));
  end
  for k = 1:2:numel (varargin)
    name = varargin{k};
    if (~ischar (name) || ~isrow (name) || ~any (strcmpi (name, {'components', 'quadrature', ...
                                                                  'space'})))
      fail ('unknownOption', ['option %d must be one of components, quadrature, space (a ' ...
                              'patch''s); the faces are chosen by the second argument.'], ...
            (k + 1) / 2);
    end
    if (strcmpi (name, 'components'))
      components = varargin{k + 1};
    else
      rest = [rest, {lower(name), varargin{k + 1}}];
    end
  end
  % A hierarchical space's faces are its boundaries' (over one patch, its sides in order).
  domain = is_domain (geometry) || is_hierarchical (geometry);
  % Each face's patch, side and functions (global indices; a patch's own).
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
    patches = geometry.patches([geometry.boundaries(faces).patch]);
    sides = [geometry.boundaries(faces).side];
    on = cellfun (@(v) reshape (v, [], 1), {geometry.boundaries(faces).dofs}, ...
                  'UniformOutput', false);
    everything = geometry.patches;
  else
    if (isempty (faces))
      dofs = zeros (0, 1); values = zeros (0, 1);
      return;
    end
    sides = faces;
    patches = repmat ({geometry}, 1, numel (faces));
    % The patch as a domain of one patch whose boundary faces are its sides: the projection's
    % mass and load over all of them one call each.
    [mp, on, ndof, rest] = patch_faces (geometry, faces, rest);
    if (isempty (mp))
      % A fault of the patch or the options: raised by the forms, as the sides' own calls do.
      for side = faces
        MassMatrix (geometry, 1, 'side', side, rest{:});
        LoadVector (geometry, g, 'side', side, rest{:});
      end
      fail ('optionValue', 'the patch or its options cannot be read.');
    end
    everything = {geometry};
  end

  % Faces collapsed to a point (or, in 3-D, to a curve) have no measure, so that their functions
  % have none in the projection: left out of it, the functions on them alone are projected in
  % the faces' parameters instead, the others keeping their values.
  tol = point_tolerance (everything);
  collapsed = false (1, numel (faces));
  for k = 1:numel (faces)
    collapsed(k) = is_collapsed (patches{k}, sides(k), tol);
  end
  measured = faces(~collapsed);
  if (isempty (measured))
    M = sparse (ndof, ndof); F = [];
  elseif (domain)
    M = MassMatrix (geometry, 1, 'boundary', measured, rest{:});
    F = LoadVector (geometry, g, 'boundary', measured, rest{:});
  else
    M = MassMatrix (mp, 1, 'boundary', measured, rest{:});
    F = LoadVector (mp, g, 'boundary', measured, rest{:});
  end
  strong = unique (vertcat (zeros (0, 1), on{~collapsed}));
  alone = setdiff (vertcat (zeros (0, 1), on{collapsed}), strong);
  if (~isempty (alone))
    [Mp, Fp] = collapsed_load (geometry, domain, faces(collapsed), g, rest, ndof, who);
    if (isempty (F)), F = Fp; end
  end
  ncomp = numel (F) / ndof;
  if (isempty (components))
    components = 1:ncomp;
  elseif (~isnumeric (components) || ~isreal (components) || ...
          any (~ismember (components(:), 1:ncomp)))
    fail ('optionValue', 'components must be a list of components from 1 to %d.', ncomp);
  end
  components = unique (reshape (double (components), 1, []));
  X = zeros (ndof, numel (components));
  if (~isempty (strong))
    % One factorisation, in the order that keeps it sparse: the test of the projection and its
    % solve.
    [R, singular, order] = chol (M(strong, strong), 'vector');
    if (singular)
      fail ('singularProjection', ['the projection onto the faces'' functions is singular: ' ...
            'function %d has no measure on the faces given (a face of no area that is not ' ...
            'collapsed to a point or a curve?).'], strong(order(singular)));
    end
    B = reshape (full (F), ndof, ncomp);
    B = B(strong(order), components);
    X(strong(order), :) = R \ (R' \ B);
  end
  if (~isempty (alone))
    Fp = reshape (Fp, ndof, []);
    Fp = Fp(:, components);
    A = Mp(alone, alone);
    [~, singular] = chol (A);
    if (singular)
      fail ('singularProjection', ['the projection onto the functions of collapsed faces is ' ...
            'singular at function %d.'], alone(singular));
    end
    X(alone, :) = A \ (Fp(alone, :) - Mp(alone, strong) * X(strong, :));
  end
  on = union (strong, alone);
  dofs = reshape (on + ndof * (components - 1), [], 1);
  values = reshape (X(on, :), [], 1);
end

% A patch as a domain of one patch whose boundary faces are its sides (mp.boundaries(k) is side
% k); on: each face's functions (those that do not vanish on it, ascending, a column each, from
% one element of each side at one node); ndof: the space's functions. mp empty where the patch or
% the options cannot be read (the forms then name the fault). rest: the forms' options but the
% space, which mp holds.
function [mp, on, ndof, rest] = patch_faces (geometry, faces, rest)
  mp = []; on = {}; ndof = 0;
  space = [];
  keep = true (1, numel (rest));
  for k = 1:2:numel (rest) - 1
    if (strcmpi (rest{k}, 'space'))
      space = rest{k + 1};
      keep(k:k + 1) = false;
    end
  end
  options = rest;
  if (~isempty (space)), options = [options, {'space', space}]; end
  try
    args = mesh_arguments ('MassMatrix', geometry, [options, {'side', faces(1)}], {});
    if (any (faces > 2 * numel (args{2}))), return; end
    a = args;
    a{14} = 1;
    for k = 11:13
      if (~isempty (a{k})), a{k} = 1; end
    end
    on = cell (1, numel (faces));
    for j = 1:numel (faces)
      a{15} = [0 0 0 faces(j) 0];
      [~, ~, ~, ~, ~, ~, ~, ~, ~, ~, ~, ~, dofs, ~, counts] = MeshEvalCore (a{:});
      on{j} = reshape (dofs, [], 1);
    end
  catch
    return;
  end
  ndof = counts(5);
  sides = 2 * numel (args{2});
  mp = struct ('npatch', 1, 'patches', {{geometry}}, 'spaces', {{space}}, ...
               'isoparametric', isempty (space), 'gnum', {{(1:ndof)'}}, 'ndof', ndof, ...
               'rdim', counts(2), 'boundaries', struct ('patch', num2cell (ones (1, sides)), ...
                                                        'side', num2cell (1:sides)));
  rest = rest(keep);
end

% The distance within which control points count as one: 1e-10 of the diameter of every patch's
% control points, or 2^-44 of their largest coordinate where that is more, as Multipatch's.
function tol = point_tolerance (patches)
  lo = Inf (3, 1); hi = -Inf (3, 1); magnitude = 0;
  for k = 1:numel (patches)
    c = reshape (double (patches{k}.coefs), 4, []);
    x = c(1:3, :) ./ c(4, :);
    lo = min (lo, min (x, [], 2)); hi = max (hi, max (x, [], 2));
    magnitude = max (magnitude, max (abs (x(:))));
  end
  tol = max (1e-10 * max (hi / 2 - lo / 2) * 2, 2 ^ -44 * magnitude);
end

% Whether side `side` of a patch is collapsed: along one of its directions every row of its
% control points is one point (the whole face a point, or in 3-D a curve).
function tf = is_collapsed (patch, side, tol)
  d = numel (patch.order);
  tf = false;
  if (d == 1), return; end
  c = double (patch.coefs);
  grid = size (c);
  grid = grid(2:end); grid(end + 1:d) = 1;
  x = reshape (c(1:3, :) ./ c(4, :), [3, grid]);
  index = repmat ({':'}, 1, d);
  fixed = ceil (side / 2);
  index{fixed} = 1 + (grid(fixed) - 1) * (mod (side, 2) == 0);
  face = x(:, index{:});
  for m = setdiff (1:d, fixed)
    first = repmat ({':'}, 1, d); first{m} = 1;
    spread = abs (face - face(:, first{:}));
    if (all (spread(:) <= tol)), tf = true; return; end
  end
end

% Over collapsed faces, in their parameters (quadrature weights without the face's measure, which
% is 0): M(a, b) = sum w R_a R_b, F(a + (c - 1) ndof) = sum w R_a g_c at the faces' nodes.
function [M, F] = collapsed_load (geometry, domain, faces, g, rest, ndof, who)
  I = []; J = []; V = []; rows = []; values = [];
  for k = 1:numel (faces)
    if (domain)
      m = MeshEval (geometry, 'boundary', faces(k), 'gradient', false, rest{:});
    else
      m = MeshEval (geometry, 'side', faces(k), 'gradient', false, rest{:});
    end
    N = m.nqn * m.nel;
    x = num2cell (reshape (m.geo_map, m.rdim, N), 2);
    if (isa (g, 'function_handle'))
      try
        G = g (x{:});
      catch err
        error ([who ':coefficientError'], 'g failed at the nodes of a collapsed face: %s', ...
               err.message);
      end
      G = double (G);
      G = reshape (G, numel (G) / N, N);
    else
      G = repmat (double (g(:)), 1, N);
    end
    W = m.quad_weights;
    R = reshape (m.shape_functions, m.nqn, m.nsh_max, m.nel);
    for e = 1:m.nel
      a = m.connectivity(:, e);
      Re = R(:, :, e);
      Me = Re' * (W(:, e) .* Re);
      [ia, ib] = ndgrid (a, a);
      I = [I; ia(:)]; J = [J; ib(:)]; V = [V; Me(:)];
      Fe = Re' * (W(:, e) .* G(:, (e - 1) * m.nqn + (1:m.nqn))');
      rows = [rows; a]; values = [values; Fe];
    end
  end
  ncomp = size (values, 2);
  F = zeros (ndof, ncomp);
  for c = 1:ncomp
    F(:, c) = accumarray (rows, values(:, c), [ndof 1]);
  end
  F = F(:);
  M = sparse (I, J, V, ndof, ndof);
end

%!test
%! s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
%! g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
%! g.knots = {[0 0 0 1 1 1], [0 0 1 1]}; g.order = [3 2];
%! [dofs, values] = DirichletValues (g, [3 4], @(x, y) x .^ 2 + y .^ 2);
%! assert (dofs', 1:6);
%! assert (values', [1 1 1 4 4 4], 1e-12);
%!error id=DirichletValues:optionValue DirichletValues (struct ('npatch', 1, 'gnum', {{1}}, 'boundaries', []), 2, 1)
%!error id=DirichletValues:optionValue DirichletValues (struct ('npatch', 1, 'gnum', {{1}}, 'boundaries', []), 1 + 1i, 1)
%!error id=DirichletValues:unknownOption DirichletValues (struct ('npatch', 1, 'gnum', {{1}}, 'boundaries', []), 1, 1, 'patches', 1)
