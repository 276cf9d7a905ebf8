% ERRORESTIMATE  Residual error indicators of a Poisson-type solution, element by element.
%
%   eta = ErrorEstimate(hs, u, f, c)
%   eta = ErrorEstimate(hs, u, f, c, Name, Value, ...)
%
%   For u the solution of -div(c grad u) = f in hs's space (hs.ndof coefficients), eta(K) is
%   the residual indicator of active element K (hs.elements' order, a column):
%     eta(K)^2 = h_K^2 ||f + div(c grad u)||^2 on K
%                + sum over K's faces F on an interface of h_F / 2 ||[c du/dn]||^2 on F
%   with h_K MeshEval's element_size, h_F the face's, [c du/dn] the jump of the normal flux
%   across the interface between two glued patches (within a patch the space is C1 where its
%   knots have multiplicity below the degree, and there is no jump to take). div(c grad u) is
%   c lap u + grad c . grad u, lap u from MeshEval's Laplacians; grad c of a handle by central
%   differences of step 1e-6 relative to the element's size. sqrt (sum (eta .^ 2)) estimates
%   the error in the energy norm up to a constant; MarkElements marks from eta.
%
%   f, c  constants or function handles of the physical coordinates, as the forms take them
%         (f(x, y) returning one value a point).
%   Options (name, value pairs): 'quadrature', nodes a direction (default the space's order
%   plus one), applied to every element and face.
%
%   Errors (identifier ErrorEstimate:<mnemonic>): usage, notHierarchical, coefsLength,
%   coefficientType (f or c neither a number nor a handle), coefficientSize (a handle's values
%   not one a point), optionValue, and those of MeshEval and FieldEval.
%
%   Example: see examples/adaptive_example.m (solve, estimate, mark, refine).
%
%   See also MarkElements, RefineElements, MeshEval, FieldEval.
function eta = ErrorEstimate (hs, u, f, c, varargin)
  who = 'ErrorEstimate';
  fail = @(mnemonic, varargin) error ([who ':' mnemonic], varargin{:});
  if (nargin < 4)
    fail ('usage', 'usage: eta = ErrorEstimate (hs, u, f, c, Name, Value, ...)');
  end
  if (~is_hierarchical (hs))
    fail ('notHierarchical', 'hs must be a hierarchical space as HierarchicalSpace makes it.');
  end
  if (~isnumeric (u) || ~isreal (u) || numel (u) ~= hs.ndof)
    fail ('coefsLength', 'u must hold the space''s %d coefficients, found %d values.', hs.ndof, ...
          numel (u));
  end
  u = double (u(:));
  for v = {f, c}
    if (~(isa (v{1}, 'function_handle') || (isnumeric (v{1}) && isscalar (v{1}) && isreal (v{1}))))
      fail ('coefficientType', 'f and c must be real numbers or function handles.');
    end
  end
  quadrature = {};
  for k = 1:2:numel (varargin)
    if (k + 1 > numel (varargin) || ~ischar (varargin{k}) || ~strcmpi (varargin{k}, 'quadrature'))
      fail ('optionValue', 'the only option is ''quadrature'', nodes a direction.');
    end
    quadrature = {'quadrature', varargin{k + 1}};
  end
  eta2 = zeros (hs.nel, 1);
  for i = 1:hs.npatch
    q = quadrature;
    if (isempty (q)), q = {'quadrature', order_of(hs, i) + 1}; end
    m = MeshEval (hs, 'patch', i, 'gradient', true, 'laplacian', true, q{:});
    if (m.nel == 0), continue; end
    conn = m.connectivity;
    on = conn > 0;
    conn(~on) = 1;
    U = reshape (u(conn) .* on, 1, m.nsh_max, m.nel);
    lap = reshape (sum (m.shape_function_laplacians .* U, 2), m.nqn, m.nel);
    grad = reshape (sum (m.shape_function_gradients .* reshape (U, 1, 1, m.nsh_max, m.nel), 3), ...
                    m.rdim, m.nqn, m.nel);
    x = reshape (m.geo_map, m.rdim, []);
    fv = at_nodes (fail, f, x, m.nqn, m.nel);
    [cv, gc] = coefficient_and_gradient (fail, c, x, m);
    r = fv + cv .* lap + reshape (sum (gc .* reshape (grad, m.rdim, []), 1), m.nqn, m.nel);
    w = m.quad_weights .* m.jacdet;
    eta2(m.elements) = eta2(m.elements) + (m.element_size(:) .^ 2) .* sum (w .* r .^ 2, 1)';
  end
  for k = 1:numel (hs.interfaces)
    eta2 = jump (eta2, hs, u, c, hs.interfaces(k), quadrature, fail);
  end
  eta = sqrt (eta2);
end

% A coefficient's values at the nodes, nqn x nel.
function v = at_nodes (fail, f, x, nqn, nel)
  if (isnumeric (f))
    v = double (f) + zeros (nqn, nel);
    return;
  end
  points = num2cell (x, 2);
  v = f (points{:});
  if (~isnumeric (v) || numel (v) ~= size (x, 2))
    fail ('coefficientSize', 'a coefficient handle must return one value a point (%d).', ...
          size (x, 2));
  end
  v = reshape (double (v), nqn, nel);
end

% c and its gradient at the nodes: central differences of a handle.
function [cv, gc] = coefficient_and_gradient (fail, c, x, m)
  cv = at_nodes (fail, c, x, m.nqn, m.nel);
  gc = zeros (m.rdim, size (x, 2));
  if (isnumeric (c)), return; end
  h = repmat (1e-6 * reshape (m.element_size, 1, []), m.nqn, 1);
  h = h(:)';
  for k = 1:m.rdim
    xp = x; xm = x;
    xp(k, :) = xp(k, :) + h; xm(k, :) = xm(k, :) - h;
    gc(k, :) = (reshape (at_nodes (fail, c, xp, m.nqn, m.nel), 1, []) - ...
                reshape (at_nodes (fail, c, xm, m.nqn, m.nel), 1, [])) ./ (2 * h);
  end
end

% The jumps of the normal flux across one interface, half to each side's element.
function eta2 = jump (eta2, hs, u, c, in, quadrature, fail)
  q = quadrature;
  if (isempty (q)), q = {'quadrature', order_of(hs, in.patch1) + 1}; end
  m = MeshEval (hs, 'face', [in.patch1, in.side1], 'gradient', false, q{:});
  if (m.nel == 0), return; end
  d = hs.ndim;
  xi = reshape (m.quad_nodes, d, []);
  eta = map_face (hs, in, xi);
  [~, g1] = FieldEval (hs, u, xi, 'patch', in.patch1);
  [~, g2] = FieldEval (hs, u, eta, 'patch', in.patch2);
  x = reshape (m.geo_map, m.rdim, []);
  cv = at_nodes (fail, c, x, m.nqn, m.nel);
  n = reshape (m.normal, m.rdim, []);
  J = reshape (sum ((reshape (g1, m.rdim, []) - reshape (g2, m.rdim, [])) .* n, 1), m.nqn, m.nel);
  J = (cv .* J) .^ 2;
  w = m.quad_weights .* m.jacdet;
  share = 0.5 * m.element_size(:) .* sum (w .* J, 1)';
  eta2(m.elements) = eta2(m.elements) + share;
  % The other side's elements: those that hold each face element's middle.
  mid = reshape (mean (reshape (eta, d, m.nqn, m.nel), 2), d, m.nel);
  other = find (hs.elements.patch == in.patch2);
  box = hs.elements.box(other, :);
  for e = 1:m.nel
    inside = true (numel (other), 1);
    for k = 1:d
      inside = inside & box(:, 2 * k - 1) <= mid(k, e) & mid(k, e) <= box(:, 2 * k);
    end
    at = other(find (inside, 1));
    if (~isempty (at)), eta2(at) = eta2(at) + share(e); end
  end
end

% Patch 1's face parameters xi (d x P) as patch 2's across the interface.
function eta = map_face (hs, in, xi)
  d = hs.ndim;
  [lo1, hi1] = domain_of (hs, in.patch1);
  [lo2, hi2] = domain_of (hs, in.patch2);
  f1 = ceil (in.side1 / 2); f2 = ceil (in.side2 / 2);
  dirs1 = setdiff (1:d, f1); dirs2 = setdiff (1:d, f2);
  perm = 1:d - 1; rev = false (1, d - 1);
  if (d == 2)
    rev(1) = in.flag == -1;
  elseif (d == 3)
    if (in.flag == -1), perm = [2 1]; end
    rev = [in.ornt1 == -1, in.ornt2 == -1];
  end
  eta = zeros (size (xi));
  for m = 1:d - 1
    a = dirs1(m); b = dirs2(perm(m));
    t = (xi(a, :) - lo1(a)) / (hi1(a) - lo1(a));
    if (rev(m)), t = 1 - t; end
    eta(b, :) = lo2(b) + t * (hi2(b) - lo2(b));
  end
  if (mod (in.side2, 2) == 1), eta(f2, :) = lo2(f2); else, eta(f2, :) = hi2(f2); end
end

% A patch's space's orders.
function o = order_of (hs, patch)
  o = hs.patches{patch}.order;
  if (~hs.isoparametric(patch)), o = hs.spaces{patch}.order; end
end

function [lo, hi] = domain_of (hs, patch)
  s = hs.patches{patch};
  if (~hs.isoparametric(patch)), s = hs.spaces{patch}; end
  K = s.knots;
  if (~iscell (K)), K = {K}; end
  p = double (s.order) - 1;
  lo = cellfun (@(U, q) U(q + 1), K, num2cell (p));
  hi = cellfun (@(U, q) U(end - q), K, num2cell (p));
end
