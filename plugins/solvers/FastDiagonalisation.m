% FASTDIAGONALISATION  A preconditioner for pcg: the fast diagonalisation of each patch's form.
%
%   [P, free] = FastDiagonalisation(geometry, Name, Value, ...)
%
%   P(r) applies, to residuals over the free unknowns of MatrixFreeOperator (or of the assembled
%   K(free, free)) with the same options, the inverse of a sum of Kronecker products of 1-D
%   matrices close to the form, natively and on several threads (the same bits on any number):
%     P = sum_k M_1 x .. x K_k x .. x M_d + beta M_1 x .. x M_d,
%   K_t and M_t the 1-D stiffness and mass matrices of direction t, weighted so that P follows
%   the geometry's and the coefficients' scaling of the form: the parametric coefficients'
%   diagonal (c |det J| J^-1 J^-T, and c |det J| for the mass, over W^2 for a NURBS space) is
%   fitted by products of functions of one direction each, in logarithms. Its inverse is exact
%   by each direction's generalised eigenvectors, K_t U_t = M_t U_t Lambda_t (computed once,
%   with the host's chol and eig), applied as mode products one direction at a time:
%     P^-1 = (U_d x .. x U_1) (sum_t Lambda_t + beta)^-1 (U_d x .. x U_1)'.
%   On a box (an affine map, constant coefficients, a B-spline space) it is the form's exact
%   inverse: pcg ends in one or two iterations; on a mild map its iterations do not grow with
%   the mesh or the degree. A NURBS space is scaled by its weights on both sides.
%
%   Over a domain (Multipatch) P is additive Schwarz over groups of patches: patches glued face
%   to face the same way round that fill a box (m1 x m2 x m3 of them) are one tensor grid, C0
%   where they meet, with one such solver; every other patch is a group of its own. Each
%   group's P acts on its functions (Dirichlet on its 'dirichlet' faces, natural on its
%   interfaces), the functions that groups share (the overlap) weighted by 1 / the number of
%   groups that hold them. The ring cut into 2 or 8 boxes takes one patch's iterations; patches
%   each a group ('group', false, or glued turned) take some more, growing slowly with the mesh
%   (docs/PERFORMANCE.md).
%   For elasticity P is block-diagonal: one such solver a component, each fitted to its block.
%   A form without Dirichlet faces is singular: P is then the pseudo-inverse (0 on the
%   constants) and pcg needs a compatible right-hand side.
%
%   Options (name, value pairs), as MatrixFreeOperator's: 'dirichlet', 'components', 'scale',
%   'quadrature', 'space'; and
%     'form'          the form preconditioned: 'stiffness' (default), 'mass', 'stiffness+mass',
%                     'elasticity'
%     'coefficients'  a cell of its coefficients for the fit, as MatrixFreeOperator takes them
%                     (default all 1)
%     'group'         false: one solver a patch, no patches grouped (default true)
%
%   What P keeps: each direction's U_t and Lambda_t (N_t^2 + N_t doubles a direction, a patch
%   and a component), a scaling and a map of each patch's unknowns: some 3 doubles an unknown.
%   An application holds two vectors of a patch's unknowns besides its output. The setup is one
%   pass over the quadrature points (the fit) and dense eigen-decompositions of N_t x N_t.
%
%   Errors (identifier FastDiagonalisation:<mnemonic>): as MatrixFreeOperator's.
%
%   Example: see MatrixFreeOperator's help.
%
%   See also MatrixFreeOperator, pcg, FastDiagonalisationApplyCore.
function [P, free] = FastDiagonalisation (geometry, varargin)
  who = 'FastDiagonalisation';
  if (nargin < 1)
    error ([who ':usage'], 'usage: [P, free] = FastDiagonalisation (geometry, Name, Value, ...)');
  end
  fail = @(mnemonic, varargin) error ([who ':' mnemonic], varargin{:});
  [found, rest] = take_options (fail, varargin, {'form', 'coefficients', 'group'});
  group = true;
  if (isfield (found, 'group'))
    group = found.group;
    if (~(islogical (group) || isnumeric (group)) || ~isscalar (group))
      fail ('optionValue', 'group must be true or false.');
    end
  end
  form = 'stiffness';
  if (isfield (found, 'form')), form = found.form; end
  coefficients = [];
  if (isfield (found, 'coefficients'))
    coefficients = found.coefficients;
    if (~iscell (coefficients))
      fail ('optionValue', 'coefficients must be a cell of the form''s coefficients.');
    end
  end
  if (isempty (coefficients))
    coefficients = num2cell (ones (1, 1 + any (strcmpi (form, {'stiffness+mass', 'elasticity'}))));
  end
  pb = solver_problem (who, form, geometry, coefficients, rest);
  n = numel (pb.free);
  where = zeros (pb.ndof * pb.ncomp, 1);
  where(pb.free) = 1:n;
  np = numel (pb.patches);
  setups = cell (np, 1);
  for k = 1:np
    piece = pb.patches(k);
    setups{k} = cell (1, 8);
    [setups{k}{:}] = FastDiagonalisationSetupCore (piece.mesh{:}, pb.code, piece.coefficients{:});
  end
  if (group)
    boxes = patch_boxes (geometry, pb);
  else
    boxes = num2cell (1:np);
  end
  pieces = cell (numel (boxes), pb.ncomp);
  unknowns = cell (numel (boxes), pb.ncomp);
  for q = 1:numel (boxes)
    for j = 1:pb.ncomp
      [pieces{q, j}, unknowns{q, j}] = box_piece (pb, setups, boxes{q}, j, where);
    end
  end
  % The overlap: a function of several patches weighted by 1 / their number, on both sides.
  all_unknowns = vertcat (unknowns{:});
  held = accumarray (all_unknowns, 1, [pb.ndof * pb.ncomp, 1]);
  for q = 1:numel (pieces)
    pieces{q}{8} = pieces{q}{8} ./ held(unknowns{q});
    if (all (pieces{q}{8} == 1)), pieces{q}{8} = zeros (0, 1); end
    if (isequal (pieces{q}{9}, (1:n)')), pieces{q}{9} = zeros (0, 1); end
  end
  pieces = pieces';
  data = [{n}, pieces{:}];
  free = pb.free;
  P = @(r) FastDiagonalisationApplyCore (data{:}, r);
end

% The patches of a domain in boxes: patches glued face to face the same way round (the end of one's
% direction t on the start of the next one's, their other directions along each other's, each
% the same way) that fill a box of m1 x m2 (x m3) are one tensor grid, C0 where they meet, and
% get one solver. A lone patch is a box of one; so is a patch that fits in no larger box. Each
% box: an array of indices into pb.patches, its positions along the directions.
function boxes = patch_boxes (geometry, pb)
  np = numel (pb.patches);
  if (np == 1)
    boxes = {1};
    return;
  end
  d = pb.d;
  next = zeros (np, d);      % next(a, t): the patch after a along direction t, or 0
  for f = reshape (geometry.interfaces, 1, [])
    aligned = f.flag == 1;
    if (d == 3), aligned = aligned && f.ornt1 == 1 && f.ornt2 == 1; end
    t = ceil (f.side1 / 2);
    if (~aligned || ceil (f.side2 / 2) ~= t || f.side1 == f.side2 || f.patch1 == f.patch2)
      continue;
    end
    if (mod (f.side1, 2) == 0)
      next(f.patch1, t) = f.patch2;
    else
      next(f.patch2, t) = f.patch1;
    end
  end
  taken = false (np, 1);
  boxes = {};
  first = setdiff (1:np, next(:));   % no patch before them
  for c = [first, 1:np]
    if (taken(c)), continue; end
    m = ones (1, 3);
    for t = 1:d
      a = c;
      while (next(a, t) > 0 && m(t) < np), a = next(a, t); m(t) = m(t) + 1; end
    end
    box = zeros (m);
    ok = true;
    for i = 1:prod (m)
      [i1, i2, i3] = ind2sub (m, i);
      at = [i1 i2 i3];
      a = c;
      for t = 1:d
        for step = 2:at(t)
          if (a > 0), a = next(a, t); end
        end
      end
      ok = ok && a > 0 && ~taken(a) && ~any (box(:) == a);
      if (~ok), break; end
      box(i) = a;
    end
    for i = 1:prod (m)          % every neighbour inside the box the one next to it
      if (~ok), break; end
      [i1, i2, i3] = ind2sub (m, i);
      at = [i1 i2 i3];
      for t = 1:d
        if (at(t) < m(t))
          after = at; after(t) = after(t) + 1;
          ok = ok && next(box(i), t) == box(sub2ind (m, after(1), after(2), after(3)));
        end
      end
    end
    if (~ok), box = c; end
    taken(box(:)) = true;
    boxes{end + 1} = box;
  end
end

% A box's solver for component j: each direction's 1-D matrices glued from its patches' (C0 where
% they meet; at a position along t the mean over the patches there), a face's functions removed
% where every patch of the box on it has it Dirichlet, the eigenpairs, and each unknown's
% scale and place. Its unknowns' global numbers beside it.
function [piece, u] = box_piece (pb, setups, box, j, where)
  d = pb.d;
  m = size (box);
  m(end + 1:3) = 1;
  arrays = cell (1, 6);
  arrays(:) = {zeros(0, 1)};
  sizes = zeros (d, max (m));  % functions of each direction at each position
  keep = cell (1, d);
  offsets = cell (1, d);
  for t = 1:d
    N = zeros (1, m(t));
    for i = 1:m(t)
      first = slice_of (box, t, i);
      N(i) = size (setups{first(1)}{2 * t - 1}, 1);
    end
    sizes(t, 1:m(t)) = N;
    offsets{t} = [0, cumsum(N(1:end - 1) - 1)];
    total = sum (N) - (m(t) - 1);
    K = zeros (total); M = zeros (total);
    for i = 1:m(t)
      at = offsets{t}(i) + (1:N(i));
      block = (j - 1) * N(i) + (1:N(i));
      members = slice_of (box, t, i);
      for a = members
        K(at, at) = K(at, at) + setups{a}{2 * t - 1}(:, block) / numel (members);
        M(at, at) = M(at, at) + setups{a}{2 * t}(:, block) / numel (members);
      end
    end
    keep{t} = 1:total;
    if (all (arrayfun (@(a) any (pb.patches(a).sides{j} == 2 * t - 1), slice_of (box, t, 1))))
      keep{t} = keep{t}(2:end);
    end
    if (all (arrayfun (@(a) any (pb.patches(a).sides{j} == 2 * t), slice_of (box, t, m(t)))))
      keep{t} = keep{t}(1:end - 1);
    end
    [U, lambda] = eigenpairs (K(keep{t}, keep{t}), M(keep{t}, keep{t}));
    arrays(2 * t - 1:2 * t) = {U, lambda};
  end
  % Each unknown of the box's grid: its patch (the first of two on a shared function) and that
  % patch's own index.
  grid = cell (1, d);
  [grid{:}] = ndgrid (keep{:});
  count = numel (grid{1});
  position = ones (count, 3);
  local = cell (1, d);
  for t = 1:d
    g = grid{t}(:);
    position(:, t) = 1 + sum (g > offsets{t} + sizes(t, 1:m(t)), 2);   % past the blocks before
    local{t} = g - reshape (offsets{t}(position(:, t)), [], 1);
  end
  u = zeros (count, 1);
  scale = ones (count, 1);
  patch = box(sub2ind (m, position(:, 1), position(:, 2), position(:, 3)));
  for a = unique (patch(:))'
    here = find (patch == a);
    stride = 1;
    index = zeros (numel (here), 1);
    for t = 1:d
      pos = position(here(1), t);
      index = index + stride * (local{t}(here) - 1);
      stride = stride * sizes(t, pos);
    end
    index = index + 1;
    gnum = pb.patches(a).gnum;
    if (isempty (gnum)), u(here) = index; else, u(here) = gnum(index); end
    weights = setups{a}{8};
    if (~isempty (weights)), scale(here) = 1 ./ weights(index); end
  end
  u = (j - 1) * pb.ndof + u;
  constants = cellfun (@(c) c{7}(:, j), setups(box(:)), 'UniformOutput', false);
  constants = mean ([constants{:}], 2);
  counts = cellfun (@numel, keep);
  counts(end + 1:3) = 0;
  piece = [{[d, counts, constants']}, arrays, {scale, where(u)}];
end

% The patches of the box at position i along direction t.
function a = slice_of (box, t, i)
  m = size (box);
  m(end + 1:3) = 1;
  index = {1:m(1), 1:m(2), 1:m(3)};
  index{t} = i;
  a = reshape (box(index{:}), 1, []);
end

% The generalised eigenvectors of K U = M U diag(lambda), U' M U = I, by the host's chol and eig;
% eigenvalues at rounding's level of the largest (a Neumann direction's constants) are 0.
function [U, lambda] = eigenpairs (K, M)
  L = chol ((M + M') / 2, 'lower');
  S = L \ K / L';
  [Q, D] = eig ((S + S') / 2);
  lambda = diag (D);
  U = L' \ Q;
  biggest = max (abs (lambda));
  lambda(abs (lambda) <= 1e-12 * biggest) = 0;
end
