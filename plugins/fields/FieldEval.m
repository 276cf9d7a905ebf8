% FIELDEVAL  A discrete field's values, physical gradients and Hessians at parametric points.
%
%   u = FieldEval(geometry, coefs, points)
%   [u, gradu, x, hessu] = FieldEval(geometry, coefs, points, Name, Value, ...)
%   [...] = FieldEval(mp, coefs, points, 'patch', i, ...)
%
%   Evaluates the field sum_a coefs(a) R_a of a patch's discrete space, with its gradient (and
%   Hessian) in physical space, at any parametric points: the basis functions come from the batch
%   twin of the space's dimension (RatCurveShapeGradBatch, RatSurfShapeGradBatch,
%   RatVolShapeGradBatch, or their Hessian twins), one call for every 'chunk' points, and the
%   geometry map from the same calls where the space is the geometry's own basis (from a second
%   call a chunk where not). The results are the same bits whatever the chunk.
%
%   geometry  a NURBS patch as nrbmak makes it (MeshEval's help builds one by hand).
%   mp        a domain of several patches (Multipatch), with 'patch', i: the points are patch
%             i's parameters and coefs are in the domain's numbering (mp.ndof functions).
%   coefs     the field's coefficients: ndof values for a scalar field, or ncomp ndof for a
%             vector field numbered as ElasticityMatrix numbers its unknowns, component c of
%             function a at (c - 1) ndof + a. The number of components follows from the length.
%   points    a d x P matrix of parametric points, one a column (for a curve any vector), or a
%             1 x d cell of vectors, the tensor grid of their coordinates (first direction
%             fastest). Every coordinate must lie within its direction's knots.
%   Options (name, value pairs; names in any case; given twice, the last wins):
%     'space'       the discrete space, as MeshEval's (default: the geometry's own basis); not
%                   over a domain, whose spaces are its own.
%     'components'  the number of components, checked against the length of coefs.
%     'hessian'     true: the fourth output, the physical Hessians (default false).
%     'rdim'        physical coordinates, as MeshEval's.
%     'patch'       over a domain, the patch (required where there are several).
%     'chunk'       the most points a call of a twin takes (default 65536; Inf: all at once).
%                   A call's rows are arrays of P x functions the host makes afresh, whose
%                   pages cost more than the evaluation where P is large: 10^6 points on a
%                   cubic patch took 0.5 to 1.0 s in chunks of 65536 and 2.3 to 3.2 s in one
%                   call, whose twin alone took 1.5 to 1.9.
%
%   Outputs, for P points (for a grid of n1 x ... x nd points, P is replaced by n1, ..., nd):
%     u      ncomp x P          the field's values
%     gradu  ncomp x rdim x P   gradu(c, m, j) = d u_c / d x_m at point j
%     x      rdim x P           the physical points
%     hessu  ncomp x rdim x rdim x P, with 'hessian', true
%   Where rdim > d (a surface in 3-D, a curve in the plane) the gradient is tangential,
%   (J (J'J)^-1 grad_xi u')', and the Hessian the surface's, as MeshEval's. A singular map gives
%   Inf or NaN gradients there, not an error. As in the twins, a coordinate within 2.2e-14 of
%   its direction's last knot is evaluated that far below it (the end clamp).
%
%   Errors (identifier FieldEval:<mnemonic>): usage, unknownOption, optionValue, coefsType,
%   coefsLength (coefs not a whole number of fields of the space's functions, or not the
%   components asked for), pointsShape, pointsOutOfRange, outOfMemory (more points than the
%   memory holds them, their rows or the outputs of: fewer a call, or a smaller 'chunk'), and
%   those of MeshEval for the geometry and the space.
%
%   Example: the coordinates as a field on the quarter annulus of MeshEval's help reproduce the
%   points, with the identity as gradient.
%     s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
%     g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
%     g.knots = {[0 0 0 1 1 1], [0 0 1 1]}; g.order = [3 2];
%     [u, gradu, p] = FieldEval (g, [x(:); y(:)], rand (2, 5));   % u == p, gradu(:, :, j) == I
%
%   See also MeshEval, Multipatch, ExportVTK, PlotField, RatSurfShapeGradBatch.
function [u, gradu, x, hessu] = FieldEval (geometry, coefs, points, varargin)
  if (nargin < 3)
    error ('FieldEval:usage', ...
           'usage: [u, gradu, x, hessu] = FieldEval (geometry_or_mp, coefs, points, ...)');
  end
  out = cell (1, max (nargout, 1));
  try
    [out{:}] = field_at (geometry, coefs, points, varargin{:});
  catch err
    % The twins' or the host's failure to get memory for the points, their rows or the outputs,
    % as this call's: a caller may evaluate fewer points a call.
    if (out_of_memory (err))
      error ('FieldEval:outOfMemory', 'FieldEval: %s (evaluate fewer points a call)', ...
             regexprep (err.message, '^\w+: ', ''));
    end
    rethrow (err);
  end
  out(end + 1:4) = {[]};
  [u, gradu, x, hessu] = out{:};
end

function [u, gradu, x, hessu] = field_at (geometry, coefs, points, varargin)
  who = 'FieldEval';
  fail = @(mnemonic, varargin) error ([who ':' mnemonic], varargin{:});
  names = {'space', 'components', 'hessian', 'rdim', 'patch', 'chunk'};
  opt = struct ('space', [], 'components', [], 'hessian', false, 'rdim', [], 'patch', [], ...
                'chunk', 65536);
  if (mod (numel (varargin), 2) ~= 0)
    fail ('unknownOption', 'options must come in name, value pairs; found %d arguments.', ...
          numel (varargin));
  end
  for k = 1:2:numel (varargin)
    name = varargin{k};
    at = [];
    if (ischar (name) && isrow (name)), at = find (strcmpi (name, names), 1); end
    if (isempty (at))
      fail ('unknownOption', 'option %d must be one of %s.', (k + 1) / 2, strjoin (names, ', '));
    end
    v = varargin{k + 1};
    switch (names{at})
      case 'space'
        opt.space = v;
      case 'hessian'
        if (~(isnumeric (v) || islogical (v)) || ~isscalar (v) || ~(v == 0 || v == 1))
          fail ('optionValue', 'hessian must be true or false.');
        end
        opt.hessian = logical (v);
      otherwise
        if (~isnumeric (v) || ~isscalar (v) || ~isreal (v) || ~(v >= 1) || v ~= fix (v))
          fail ('optionValue', '%s must be a positive whole number.', names{at});
        end
        opt.(names{at}) = double (v);
    end
  end

  % The patch, its space, and where its coefficients are in the given ones.
  domain = is_domain (geometry);
  hierarchical = is_hierarchical (geometry);
  gnum = [];
  if (hierarchical)
    hs = geometry;
    if (~isempty (opt.space) || ~isempty (opt.rdim))
      fail ('optionValue', 'space and rdim are the space''s own over a hierarchical space.');
    end
    if (isempty (opt.patch))
      if (hs.npatch ~= 1)
        fail ('optionValue', 'a space of %d patches needs ''patch'', i.', hs.npatch);
      end
      opt.patch = 1;
    end
    if (opt.patch > hs.npatch)
      fail ('optionValue', 'patch must be an index from 1 to %d.', hs.npatch);
    end
    geometry = hs.patches{opt.patch};
    if (~hs.isoparametric(opt.patch)), opt.space = hs.spaces{opt.patch}; end
    opt.rdim = hs.rdim;
    nfun = hs.ndof;
  elseif (domain)
    mp = geometry;
    if (~isempty (opt.space) || ~isempty (opt.rdim))
      fail ('optionValue', 'space and rdim are the domain''s own over a domain (Multipatch).');
    end
    if (isempty (opt.patch))
      if (mp.npatch ~= 1)
        fail ('optionValue', 'a domain of %d patches needs ''patch'', i.', mp.npatch);
      end
      opt.patch = 1;
    end
    if (opt.patch > mp.npatch)
      fail ('optionValue', 'patch must be an index from 1 to %d.', mp.npatch);
    end
    geometry = mp.patches{opt.patch};
    if (~mp.isoparametric(opt.patch)), opt.space = mp.spaces{opt.patch}; end
    opt.rdim = mp.rdim;
    gnum = mp.gnum{opt.patch};
    nfun = mp.ndof;
  elseif (~isempty (opt.patch))
    fail ('optionValue', 'patch chooses a patch of a domain (Multipatch), not of a NURBS struct.');
  end

  % The geometry and the space as MeshEval checks them, and rdim and ndof from it.
  mesh = {'elements', [], 'gradient', false};
  if (~isempty (opt.space)), mesh(end + 1:end + 2) = {'space', opt.space}; end
  if (~isempty (opt.rdim)), mesh(end + 1:end + 2) = {'rdim', opt.rdim}; end
  try
    msh = MeshEval (geometry, mesh{:});
  catch err
    if (strncmp (err.identifier, 'MeshEval:', 9))
      error (struct ('identifier', [who err.identifier(9:end)], 'message', ...
                     regexprep (err.message, '^MeshEval(Core)?:', [who ':']), 'stack', err.stack));
    end
    rethrow (err);
  end
  d = msh.ndim; rdim = msh.rdim;
  if (~domain && ~hierarchical), nfun = msh.ndof; end

  if (~(isnumeric (coefs) || islogical (coefs)) || ~isreal (coefs) || issparse (coefs) || ...
      (~isvector (coefs) && ~isempty (coefs)))
    fail ('coefsType', 'coefs must be a real vector of coefficients.');
  end
  ncomp = numel (coefs) / nfun;
  if (ncomp < 1 || ncomp ~= fix (ncomp) || (~isempty (opt.components) && ncomp ~= opt.components))
    want = 'a multiple';
    if (~isempty (opt.components)), want = sprintf ('%d times', opt.components); end
    fail ('coefsLength', 'coefs must hold %s of the space''s %d functions; found %d values.', ...
          want, nfun, numel (coefs));
  end
  C = reshape (double (coefs), nfun, ncomp);
  if (domain), C = C(gnum, :); end
  hier = [];
  if (hierarchical)
    hier = hierarchical_field (hs, opt.patch, C);
  end

  [gorder, gknots] = basis_of (geometry);
  if (isempty (opt.space))
    sorder = gorder; sknots = gknots;
  else
    [sorder, sknots] = basis_of (opt.space);
  end

  % The points, d x P, within the knots.
  grid = [];
  if (iscell (points))
    if (numel (points) ~= d || ~all (cellfun (@(v) isnumeric (v) && isreal (v) && ...
                                              (isvector (v) || isempty (v)), points(:)')))
      fail ('pointsShape', 'points must be a 1 x %d cell of vectors of coordinates.', d);
    end
    grid = cellfun (@numel, points(:)');
    coords = cell (1, d);
    [coords{:}] = ndgrid (points{:});
    xi = zeros (d, prod (grid));
    for k = 1:d, xi(k, :) = coords{k}(:)'; end
  else
    if (~isnumeric (points) || ~isreal (points) || issparse (points) || ndims (points) > 2)
      fail ('pointsShape', 'points must be a real %d x P matrix or a cell of vectors.', d);
    end
    if (d == 1 && isvector (points)), points = reshape (points, 1, []); end
    if (size (points, 1) ~= d)
      fail ('pointsShape', 'points must be %d x P, one point a column; found %d rows.', d, ...
            size (points, 1));
    end
    xi = double (points);
  end
  for k = 1:d
    first = sknots{k}(1); last = sknots{k}(end);
    out = ~(xi(k, :) >= first & xi(k, :) <= last);
    if (any (out))
      j = find (out, 1);
      fail ('pointsOutOfRange', ['points must lie in the parametric domain: coordinate %d of ' ...
                                 'point %d is %s, outside [%s, %s].'], k, j, exact (xi(k, j)), ...
            exact (first), exact (last));
    end
  end
  P = size (xi, 2);

  % The points in chunks of opt.chunk, a call of the twin (or two) each: each call's rows are
  % P x functions arrays the host makes afresh, and of many points those pages cost more than
  % the evaluation; chunks reuse the memory.
  iso = isempty (opt.space);
  Cg = reshape (geometry.coefs, 4, []);
  Cg = (Cg(1:rdim, :) ./ Cg(4, :))';
  basis = struct ('sorder', sorder, 'sknots', {sknots}, 'gorder', gorder, 'gknots', {gknots}, ...
                  'sweights', space_weights (opt.space, geometry, iso), ...
                  'gweights', space_weights ([], geometry, true), 'iso', iso, 'Cg', Cg, 'C', C, ...
                  'rdim', rdim, 'd', d, 'ncomp', ncomp, 'hessian', opt.hessian, ...
                  'hier', {hier});
  want = max (nargout, 1);
  if (P <= opt.chunk)
    [u, gradu, x, hessu] = at_points (xi, basis, want);
  else
    % Each chunk's outputs, joined once at the end.
    starts = 1:opt.chunk:P;
    parts = cell (4, numel (starts));
    for k = 1:numel (starts)
      last = min (P, starts(k) + opt.chunk - 1);
      [parts{:, k}] = at_points (xi(:, starts(k):last), basis, want);
    end
    u = [parts{1, :}];
    x = [parts{3, :}];
    gradu = cat (3, parts{2, :});
    hessu = cat (4, parts{4, :});
  end
  if (want < 2)
    u = shaped (u, ncomp, grid);
    return;
  end
  u = shaped (u, ncomp, grid);
  gradu = shaped (gradu, [ncomp, rdim], grid);
  x = shaped (x, rdim, grid);
  if (opt.hessian && want > 3), hessu = shaped (hessu, [ncomp, rdim, rdim], grid); end
end

% FieldEval at the points xi (d x P) in one call of each twin: u ncomp x P, and for want > 1
% gradu ncomp x rdim x P, x rdim x P, hessu (with bs.hessian and want > 3). bs: the bases, their
% weights, the control values (Cg of the geometry, C of the field) and the dimensions.
function [u, gradu, x, hessu] = at_points (xi, bs, want)
  % The basis functions of the space (and of the geometry, where it has another) in one call;
  % each call's rows are contracted and dropped before the next call makes its own.
  [rdim, d, ncomp, C, Cg] = deal (bs.rdim, bs.d, bs.ncomp, bs.C, bs.Cg);
  P = size (xi, 2);
  gradu = []; x = []; hessu = [];
  if (~isempty (bs.hier))
    % A hierarchical space: each point's element's coefficients at its level.
    vu = hierarchical_at (xi, bs, want > 1);
    if (want < 2)
      u = vu{1}.';
      return;
    end
    [B, idx] = basis_at (xi, bs.gorder, bs.gknots, bs.gweights, bs.hessian);
    vx = contract (B, idx, Cg);
    clear B idx;
  elseif (want < 2)
    % The values alone: no geometry.
    [B, idx] = basis_at (xi, bs.sorder, bs.sknots, bs.sweights, false);
    v = contract (B(1), idx, C);
    u = v{1}.';
    return;
  elseif (bs.iso)
    [B, idx] = basis_at (xi, bs.sorder, bs.sknots, bs.sweights, bs.hessian);
    [vx, vu] = contract (B, idx, [Cg, C], rdim);
    clear B idx;
  else
    [B, idx] = basis_at (xi, bs.gorder, bs.gknots, bs.gweights, bs.hessian);
    vx = contract (B, idx, Cg);
    clear B idx;
    [B, idx] = basis_at (xi, bs.sorder, bs.sknots, bs.sweights, bs.hessian);
    vu = contract (B, idx, C);
    clear B idx;
  end

  % Physical gradients: grad u = grad_xi u K, K = J^-1 (rdim = d) or (J'J)^-1 J', on P x 1
  % columns (Jc{m, k} = d x_m / d xi_k, Kc{k, m}), which Octave runs faster than broadcasting.
  Jc = cell (rdim, d);
  for k = 1:d
    for m = 1:rdim, Jc{m, k} = vx{1 + k}(:, m); end
  end
  if (rdim == d)
    Kc = inverse (Jc);
  else
    Gc = cell (d, d);
    for a = 1:d
      for b = 1:d
        Gc{a, b} = Jc{1, a} .* Jc{1, b};
        for m = 2:rdim, Gc{a, b} = Gc{a, b} + Jc{m, a} .* Jc{m, b}; end
      end
    end
    Gi = inverse (Gc);
    Kc = cell (d, rdim);
    for a = 1:d
      for m = 1:rdim
        Kc{a, m} = Gi{a, 1} .* Jc{m, 1};
        for b = 2:d, Kc{a, m} = Kc{a, m} + Gi{a, b} .* Jc{m, b}; end
      end
    end
  end
  gc = cell (ncomp, rdim);
  for c = 1:ncomp
    for m = 1:rdim
      gc{c, m} = vu{2}(:, c) .* Kc{1, m};
      for k = 2:d, gc{c, m} = gc{c, m} + vu{1 + k}(:, c) .* Kc{k, m}; end
    end
  end

  u = vu{1}.';
  gradu = reshape ([gc{:}].', ncomp, rdim, P);
  x = vx{1}.';
  if (bs.hessian && want > 3)
    % H = K' (hess_xi u - sum_m (grad u)_m hess_xi x_m) K, a component at a time.
    K = reshape ([Kc{:}], P, d, rdim);
    grad = reshape ([gc{:}], P, ncomp, rdim);
    pairs = second_pairs (d);
    H = zeros (P, ncomp, rdim, rdim);
    for c = 1:ncomp
      A = zeros (P, d, d);
      for t = 1:size (pairs, 1)
        i = pairs(t, 1); j = pairs(t, 2);
        s = vu{d + 1 + t}(:, c);
        for m = 1:rdim
          s = s - grad(:, c, m) .* vx{d + 1 + t}(:, m);
        end
        A(:, i, j) = s; A(:, j, i) = s;
      end
      H(:, c, :, :) = reshape (product (product (permute (K, [1 3 2]), A), K), P, 1, rdim, rdim);
    end
    hessu = permute (H, [2 3 4 1]);
  end
end

% The fewest digits that read back as v: 1.0000001 is not printed as 1.
function text = exact (v)
  for digits = 1:17
    text = sprintf ('%.*g', digits, v);
    if (str2double (text) == v || isnan (v)), return; end
  end
end

% What a hierarchical space's field needs on a patch: the core's call for its values at points.
function hier = hierarchical_field (hs, patch, C)
  args = hierarchical_arguments ('FieldEval', hs, {}, {});
  args{end} = C(:);
  hier = struct ('args', {args}, 'patch', patch, 'ncomp', size (C, 2));
end

% The field's values and parametric derivatives at points xi (d x P) of a hierarchical space's
% patch, as contract gives them (vu{1} P x ncomp values, then first derivatives, then second):
% from the native core, each point in the active element that holds it.
function vu = hierarchical_at (xi, bs, derivatives)
  h = bs.hier;
  args = h.args;
  args{1} = [args{1}, 0, 5, h.patch, double(bs.hessian && derivatives)];
  args{end - 1} = xi;
  out = HierarchicalSpaceCore (args{:});
  nder = size (out, 1) / h.ncomp;
  if (~derivatives), nder = 1; end
  vu = cell (1, nder);
  out = reshape (out, h.ncomp, [], size (xi, 2));
  for b = 1:nder
    vu{b} = reshape (out(:, b, :), h.ncomp, []).';
  end
end

% An output of leading dimensions lead at every point, shaped by the grid where there is one.
function a = shaped (a, lead, grid)
  if (~isempty (grid))
    a = reshape (a, [lead, grid, 1]);
  end
end

function [order, knots] = basis_of (s)
  order = double (reshape (s.order, 1, []));
  knots = s.knots;
  if (~iscell (knots)), knots = {knots}; end
  knots = cellfun (@(k) double (reshape (k, 1, [])), knots(:)', 'UniformOutput', false);
end

% The space's weights (ones for a B-spline space), as the geometry's coefs(4, :) where the
% space is the geometry's basis or a NURBS struct without a weights field.
function w = space_weights (space, geometry, iso)
  if (iso)
    w = reshape (geometry.coefs(4, :), [], 1);
  elseif (isfield (space, 'weights'))
    w = double (space.weights(:));
  elseif (isfield (space, 'coefs'))
    w = reshape (double (space.coefs(4, :)), [], 1);
  else
    w = [];
  end
end

% The twin's rows at the points: B = {R, dR/dxi_k (k = 1..d), second derivatives in the twin's
% order}, each P x nen, and idx the functions' positions. The twins read first (second)
% derivatives from at least 2 (3) functions a direction; a direction with fewer gets p + 1 or
% more knots below its first, whose functions vanish on the domain: the others keep their knots,
% and so their values bit for bit, and FindSpan still puts the domain's first point in the first
% non-empty span. idx is mapped back to the unpadded functions.
function [B, idx] = basis_at (xi, order, knots, w, hessian)
  d = numel (order);
  p = order - 1;
  n = cellfun (@numel, knots) - order;
  if (isempty (w)), w = ones (prod (n), 1); end
  w = reshape (w, [n, 1]);
  least = 2 + hessian;
  shift = zeros (1, d);
  for k = find (n < least)
    shift(k) = max (p(k) + 1, least - n(k));
    a = knots{k}(1);
    knots{k} = [a - (knots{k}(end) - a) * (shift(k):-1:1), knots{k}];
    grid = size (w); grid(end + 1:d) = 1; grid(k) = shift(k);
    w = cat (k, ones (grid), w);
  end
  if (hessian)
    nout = 1 + d + d * (d + 1) / 2;
    twins = {@RatCurveShapeHessBatch, @RatSurfShapeHessBatch, @RatVolShapeHessBatch};
  else
    nout = 1 + d;
    twins = {@RatCurveShapeGradBatch, @RatSurfShapeGradBatch, @RatVolShapeGradBatch};
  end
  B = cell (1, nout);
  args = [{xi}, num2cell(p), knots, {w}];
  try
    [B{:}, idx] = twins{d} (args{:});
  catch err
    % The twin's own faults (too many points, no memory) under this call's name.
    id = regexprep (err.identifier, '^\w+Batch:', 'FieldEval:');
    error (struct ('identifier', id, 'message', ...
                   regexprep (err.message, '^\w+Batch:', 'FieldEval:'), 'stack', err.stack));
  end
  if (any (shift))
    sub = cell (1, max (d, 2));
    [sub{:}] = ind2sub ([n + shift, 1], idx);
    for k = 1:d, sub{k} = sub{k} - shift(k); end
    idx = sub2ind ([n, 1], sub{:});
  end
end

% sum_e B{b}(:, e) .* C(idx(:, e), :) for every b, one column of C at a time: operations on
% P x 1 columns alone, which Octave runs several times faster than the broadcasting ones of
% P x n, and no temporaries of P x functions.
% With `first`, v{b} holds the first columns' sums and w{b} the others'.
function [v, w] = contract (B, idx, C, first)
  P = size (idx, 1);
  acc = repmat ({zeros(P, 1)}, numel (B), size (C, 2));
  Be = cell (1, numel (B));
  for e = 1:size (idx, 2)
    ie = idx(:, e);
    for b = 1:numel (B), Be{b} = B{b}(:, e); end
    for j = 1:size (C, 2)
      g = C(ie, j);
      for b = 1:numel (B)
        if (e == 1)
          acc{b, j} = Be{b} .* g;
        else
          acc{b, j} = acc{b, j} + Be{b} .* g;
        end
      end
    end
  end
  if (nargin < 4), first = size (C, 2); end
  v = cell (1, numel (B)); w = v;
  for b = 1:numel (B)
    v{b} = [acc{b, 1:first}];
    w{b} = [acc{b, first + 1:end}];
  end
end

% The (a, b) of each second-derivative output of the Hessian twins.
function pairs = second_pairs (d)
  all_pairs = {[1 1], [1 1; 2 2; 1 2], [1 1; 2 2; 3 3; 1 2; 2 3; 1 3]};
  pairs = all_pairs{d};
end

% Per-point products of P x m x k and P x k x n arrays.
function C = product (A, B)
  C = zeros (size (A, 1), size (A, 2), size (B, 3));
  for k = 1:size (A, 3)
    C = C + A(:, :, k) .* B(:, k, :);
  end
end

% Per-point inverses of an n x n cell of P x 1 columns, n <= 3, by cofactors.
function X = inverse (A)
  n = size (A, 1);
  X = cell (n);
  if (n == 1)
    X{1} = 1 ./ A{1};
  elseif (n == 2)
    det = A{1, 1} .* A{2, 2} - A{1, 2} .* A{2, 1};
    X{1, 1} = A{2, 2} ./ det;  X{1, 2} = -A{1, 2} ./ det;
    X{2, 1} = -A{2, 1} ./ det; X{2, 2} = A{1, 1} ./ det;
  else
    for i = 1:3
      for j = 1:3
        r = setdiff (1:3, j); c = setdiff (1:3, i);
        X{i, j} = (-1) ^ (i + j) * (A{r(1), c(1)} .* A{r(2), c(2)} - ...
                                    A{r(1), c(2)} .* A{r(2), c(1)});
      end
    end
    det = A{1, 1} .* X{1, 1} + A{1, 2} .* X{2, 1} + A{1, 3} .* X{3, 1};
    for k = 1:9, X{k} = X{k} ./ det; end
  end
end

%!shared g, x, y
%! s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
%! g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
%! g.knots = {[0 0 0 1 1 1], [0 0 1 1]}; g.order = [3 2];
%!test
%! [u, gradu, p] = FieldEval (g, [x(:); y(:)], [0 0.3 1; 0 0.6 1]);
%! assert (u, p, 1e-14);
%! assert (gradu, repmat (eye (2), [1 1 3]), 1e-13);
%! assert (hypot (p(1, :), p(2, :)), [1 1.6 2], 1e-13);
%!test
%! u = FieldEval (g, ones (6, 1), {[0 0.5 1], [0 1]});
%! assert (u, ones (1, 3, 2), 1e-14);
%!error id=FieldEval:coefsLength FieldEval (g, ones (5, 1), [0.5; 0.5])
%!error id=FieldEval:pointsOutOfRange FieldEval (g, ones (6, 1), [0.5; 2])
%!error id=FieldEval:usage FieldEval (g, ones (6, 1))
