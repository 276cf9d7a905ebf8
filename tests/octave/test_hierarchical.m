% Hierarchical spaces (HierarchicalSpace) in the real host: a space refined everywhere against
% the refined tensor space, every form on random refinements of 3 to 5 levels against m-code
% assembly from the change of basis (thb_basis, over the nurbs package's knot insertion) and the
% finest level's tensor matrices, in 2-D, 3-D and over a domain; partition of unity, linear
% independence, nestedness, polynomials, continuity across interfaces, threads, and every
% fault by identifier.
1;  % a script: its helper functions first

function v = ifelse (test, a, b)
  if (test), v = a; else, v = b; end
end

% Points on side `side` of the unit square of parameters, at t along the side.
function xi = face_points (side, t)
  switch (side)
    case 1, xi = [0 * t; t];
    case 2, xi = [1 + 0 * t; t];
    case 3, xi = [t; 0 * t];
    otherwise, xi = [t; 1 + 0 * t];
  end
end

% HierarchicalSpaceCore's inputs for a space of one patch of two directions (its tables).
function args = hierarchical_core_call (hs)
  g = hs.patches{1};
  args = [{[0 2 1 1 2 0 1 0], g.coefs, g.order}, g.knots, {[], [], [], [], [], [], 3, 3, [], 0, ...
          [1 0 0 0 2], hs.refined, zeros(7, 0), zeros(2, 0), []}];
end

function e = frob (a, b)
  e = norm (full (a - b), 'fro') / max (norm (full (b), 'fro'), realmin);
end

% A parallelogram (an affine map, so that every form's integrand is a polynomial and coarse and
% fine quadrature agree), degree p, n x n elements; in 3-D a parallelepiped.
function g = slab (d, p, n)
  if (d == 2)
    g = nrb4surf ([0 0], [1 0.3], [0.2 1], [1.2 1.3]);
  else
    g = nrbextrude (nrb4surf ([0 0 0], [1 0.3 0], [0.2 1 0], [1.2 1.3 0]), [0.1 0.2 1]);
  end
  g = nrbdegelev (g, p - (g.order - 1));
  k = (1:n - 1) / n;
  g = nrbkntins (g, repmat ({k}, 1, d));
end

% Rounds of refinement at random, more often near the origin's corner of the parameters.
function hs = refine_at_random (hs, rounds, seed, fraction)
  rand ('seed', seed);
  for r = 1:rounds
    near = sum (hs.elements.box(:, 1:2:end), 2) < 0.5;
    marked = find (rand (hs.nel, 1) < fraction * (0.2 + 2 * near));
    if (isempty (marked)), marked = 1; end
    hs = RefineElements (hs, marked');
  end
end

% The space's functions in each patch's finest tensor basis: K_h = sum_i G_i T_i K_i T_i' G_i'.
function [Kh, spaces] = from_tensor (hs, form)
  Kh = 0;
  spaces = cell (1, hs.npatch);
  for i = 1:hs.npatch
    w0 = [];
    s0 = hs.patches{i};
    if (~hs.isoparametric(i)), s0 = hs.spaces{i}; end
    if (isfield (s0, 'weights')), w0 = s0.weights(:); end
    [T, wL, knots] = thb_basis (hs, i, w0);
    space = struct ('knots', {knots}, 'order', s0.order);
    if (~isempty (wL)), space.weights = reshape (wL, cellfun (@numel, knots) - s0.order); end
    spaces{i} = space;
    G = sparse (hs.gnum{i}, 1:numel (hs.gnum{i}), 1, hs.ndof, numel (hs.gnum{i}));
    Ki = form (hs.patches{i}, space);
    C = rows (Ki) / columns (T);
    Tc = kron (speye (C), sparse (T));
    Gc = kron (speye (C), G);
    if (columns (Ki) == 1)
      Kh = Kh + Gc * Tc * Ki;
    else
      Kh = Kh + Gc * Tc * Ki * Tc' * Gc';
    end
  end
end

t = struct ('passed', 0, 'failed', 0);
pkg load nurbs

% A space refined everywhere is the refined tensor space: its functions in tensor order, the
% same matrices.
for d = [2 3]
  p = 4 - d;
  g = slab (d, p, 3);
  hs = HierarchicalSpace (g);
  fine = RefineElements (hs, 1:hs.nel);
  k = repmat ({(1:5) / 6}, 1, d);
  f = nrbkntins (g, {[1 3 5] / 6, [1 3 5] / 6, [1 3 5] / 6}(1:d));
  n = prod (f.number);
  t = expect (t, fine.ndof == n && isequal (fine.functions.level, ones (n, 1)) && ...
              isequal (fine.functions.index, (1:n)'), sprintf ('%d-D: every element refined', d));
  c = @(varargin) 1 + varargin{1} .^ 2;
  pairs = {@(x, o) StiffnessMatrix (x, c, o{:}), @(x, o) MassMatrix (x, 2, o{:}), ...
           @(x, o) LoadVector (x, c, o{:}), @(x, o) ElasticityMatrix (x, 1, 2, o{:}), ...
           @(x, o) AdvectionMatrix (x, ones (d, 1), o{:})};
  if (d == 2), pairs{end + 1} = @(x, o) BilaplacianMatrix (x, 1, o{:}); end
  for q = 1:numel (pairs)
    A = pairs{q} (fine, {});
    B = pairs{q} (g, {'space', f});
    t = expect (t, frob (A, B) < 1e-13, sprintf ('%d-D refined everywhere: form %d (%g)', d, ...
                                                  q, frob (A, B)));
  end
end

% A NURBS patch's own basis, refined everywhere: the refined NURBS space (rational functions
% of the weights by knot insertion), to rounding at a high quadrature.
s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
annulus = nrbkntins (nrbdegelev (nrbmak (permute (cat (3, x .* w, y .* w, zeros (3, 2), w), ...
                                                  [3 1 2]), {[0 0 0 1 1 1], [0 0 1 1]}), [0 1]), ...
                     {[1 2] / 3, [1 2] / 3});
hs = HierarchicalSpace (annulus);
fine = RefineElements (hs, 1:hs.nel);
ref = nrbkntins (annulus, {[1 3 5] / 6, [1 3 5] / 6});
A = StiffnessMatrix (fine, 1, 'quadrature', 12);
B = StiffnessMatrix (annulus, 1, 'space', ref, 'quadrature', 12);
t = expect (t, frob (A, B) < 1e-13, sprintf ('NURBS refined everywhere: stiffness (%g)', frob (A, B)));
pts = rand (2, 200);
[u1, g1] = FieldEval (fine, (1:fine.ndof)', pts);
[u2, g2] = FieldEval (annulus, (1:fine.ndof)', pts, 'space', ref);
t = expect (t, max (abs (u1 - u2)) < 1e-12 * max (abs (u2)) && ...
            max (abs (g1(:) - g2(:))) < 1e-12 * max (abs (g2(:))), 'NURBS refined everywhere: a field');

% Forms on random refinements against the m-code assembly from the change of basis.
forms = {@(x, s) StiffnessMatrix (x, 1, 'space', s), @(x, s) MassMatrix (x, 1, 'space', s), ...
         @(x, s) ElasticityMatrix (x, 1, 2, 'space', s), ...
         @(x, s) AdvectionMatrix (x, [1; 2], 'space', s)};
names = {'stiffness', 'mass', 'elasticity', 'advection'};
hforms = {@(h) StiffnessMatrix (h, 1), @(h) MassMatrix (h, 1), @(h) ElasticityMatrix (h, 1, 2), ...
          @(h) AdvectionMatrix (h, [1; 2])};
for truncated = [true false]
  hs = refine_at_random (HierarchicalSpace (slab (2, 2, 3), 'truncated', truncated), 4, 5, 0.3);
  t = expect (t, hs.levels >= 4, sprintf ('random refinement: %d levels', hs.levels));
  for q = 1:numel (forms)
    A = hforms{q} (hs);
    B = from_tensor (hs, forms{q});
    t = expect (t, frob (A, B) < 1e-13, sprintf ('2-D truncated %d, %d levels: %s (%g)', ...
                                                  truncated, hs.levels, names{q}, frob (A, B)));
  end
  F = LoadVector (hs, @(x, y) x + y .^ 2);
  G = from_tensor (hs, @(x, s) LoadVector (x, @(x, y) x + y .^ 2, 'space', s));
  t = expect (t, frob (F, G) < 1e-13, sprintf ('2-D truncated %d: load (%g)', truncated, frob (F, G)));
  M = MassMatrix (hs, 1);
  t = expect (t, abs (sum (F) - sum (LoadVector (slab (2, 2, 3), @(x, y) x + y .^ 2))) < 1e-14 ...
              || ~truncated, sprintf ('truncated %d: load sums to the integral', truncated));
  % Linear independence: the mass matrix is positive definite.
  [~, bad] = chol (M);
  t = expect (t, bad == 0 && min (eig (full (M))) > 1e-12 * max (eig (full (M))), ...
              sprintf ('truncated %d: linearly independent', truncated));
end
hs3 = refine_at_random (HierarchicalSpace (slab (3, 2, 2)), 3, 7, 0.3);
for q = 1:2
  A = hforms{q} (hs3);
  B = from_tensor (hs3, forms{q});
  t = expect (t, frob (A, B) < 1e-13, sprintf ('3-D, %d levels: %s (%g)', hs3.levels, names{q}, ...
                                                frob (A, B)));
end

% A domain: an L-shape of three patches in mixed orientations, refined at its corner.
sq = @(P) nrbkntins (nrbdegelev (nrbmak (permute (cat (3, reshape (P(1, :), 2, 2), ...
          reshape (P(2, :), 2, 2), zeros (2), ones (2)), [3 1 2]), {[0 0 1 1], [0 0 1 1]}), ...
          [1 1]), {[1 2 3] / 4, [1 2 3] / 4});
L = {sq([-1 0 -1 0; 0 0 1 1]), sq([1 0 1 0; 0 0 1 1]), sq([-1 -1 0 0; -1 0 -1 0])};
mp = Multipatch (L);
hm = HierarchicalSpace (mp);
for r = 1:4
  corner = [];
  for e = 1:hm.nel
    b = hm.elements.box(e, :);
    c = nrbeval (hm.patches{hm.elements.patch(e)}, {b(1:2), b(3:4)});
    if (min (sum (reshape (c(1:2, :, :), 2, []) .^ 2, 1)) < 1e-12), corner(end + 1) = e; end
  end
  hm = RefineElements (hm, corner);
end
t = expect (t, hm.levels == 5 && any (hm.refined(1, :) == 2) && any (hm.refined(1, :) == 3), ...
            'domain: refined at the corner, in every patch');
for q = 1:3
  A = hforms{q} (hm);
  B = from_tensor (hm, forms{q});
  t = expect (t, frob (A, B) < 1e-13, sprintf ('domain, %d levels: %s (%g)', hm.levels, ...
                                                names{q}, frob (A, B)));
end
% Continuous across every interface.
u = rand (hm.ndof, 1);
tt = rand (1, 50);
for k = 1:numel (mp.interfaces)
  i = mp.interfaces(k);
  [a, ~, xa] = FieldEval (hm, u, face_points (i.side1, tt), 'patch', i.patch1);
  [b, ~, xb] = FieldEval (hm, u, face_points (i.side2, ifelse (i.flag == 1, tt, 1 - tt)), ...
                          'patch', i.patch2);
  t = expect (t, max (abs (xa(:) - xb(:))) < 1e-12 && max (abs (a - b)) < 1e-13, ...
              sprintf ('domain: continuous across interface %d', k));
end

% Partition of unity, nestedness, polynomials.
hs = refine_at_random (HierarchicalSpace (annulus), 4, 9, 0.3);
pts = rand (2, 400);
t = expect (t, max (abs (FieldEval (hs, ones (hs.ndof, 1), pts) - 1)) < 1e-14, ...
            'rational, truncated: a partition of unity');
m = MeshEval (hs);
t = expect (t, max (abs (squeeze (sum (m.shape_functions, 2))(:) - 1)) < 1e-14 && ...
            max (abs (sum (m.shape_function_gradients, 3)(:))) < 1e-11, ...
            'MeshEval: the functions sum to 1, their gradients to 0');
fine = refine_at_random (hs, 2, 10, 0.3);
u = rand (hs.ndof, 2);
v = ProlongField (hs, fine, u(:));
[a, ga] = FieldEval (hs, u(:), pts);
[b, gb] = FieldEval (fine, v, pts);
t = expect (t, numel (v) == 2 * fine.ndof && max (abs (a(:) - b(:))) < 1e-13 && ...
            max (abs (ga(:) - gb(:))) < 1e-12 * max (abs (ga(:))), ...
            'ProlongField: the same field in the finer space');
hb = refine_at_random (HierarchicalSpace (slab (2, 3, 3), 'truncated', false), 3, 12, 0.3);
hbf = refine_at_random (hb, 1, 13, 0.3);
u = rand (hb.ndof, 1);
t = expect (t, max (abs (FieldEval (hb, u, pts) - FieldEval (hbf, ProlongField (hb, hbf, u), pts))) ...
            < 1e-13, 'ProlongField, hierarchical (not truncated)');
% Degree 3 reproduces a cubic exactly: Dirichlet data and the load of u = x^3 - 2 x y^2 + y.
ue = @(x, y) x .^ 3 - 2 * x .* y .^ 2 + y;
lap = @(x, y) 6 * x - 4 * x;
[dofs, values] = DirichletValues (hb, 1:4, ue);
K = StiffnessMatrix (hb, 1);
F = LoadVector (hb, @(x, y) -lap (x, y));
free = setdiff (1:hb.ndof, dofs);
uh = zeros (hb.ndof, 1); uh(dofs) = values;
uh(free) = K(free, free) \ (F(free) - K(free, dofs) * values);
[val, ~, X] = FieldEval (hb, uh, pts);
t = expect (t, max (abs (val - ue (X(1, :), X(2, :)))) < 1e-11, 'a cubic solved exactly');

% The same bits on one thread and two.
setenv ('NURBS_NUM_THREADS', '1');
K1 = StiffnessMatrix (hm, 1);
setenv ('NURBS_NUM_THREADS', '2');
K2 = StiffnessMatrix (hm, 1);
unsetenv ('NURBS_NUM_THREADS');
t = expect (t, isequal (K1, K2) && isequal (K1, K1.'), 'threads: the same bits, symmetric');

% Faults, by identifier.
g = slab (2, 2, 3);
hs = HierarchicalSpace (g);
t = expect_error (t, @() HierarchicalSpace (), 'HierarchicalSpace:usage', 'no geometry');
t = expect_error (t, @() HierarchicalSpace (3), 'HierarchicalSpace:notStruct', 'not a struct');
t = expect_error (t, @() HierarchicalSpace (g, 'subdivisions', 2), 'HierarchicalSpace:unknownOption', 'option');
t = expect_error (t, @() HierarchicalSpace (g, 'subdivision', 1), 'HierarchicalSpace:optionValue', 'subdivision');
t = expect_error (t, @() HierarchicalSpace (g, 'truncated', 2), 'HierarchicalSpace:optionValue', 'truncated');
t = expect_error (t, @() HierarchicalSpace (g, 'admissibility', 1), 'HierarchicalSpace:optionValue', 'class 1');
t = expect_error (t, @() HierarchicalSpace (mp, 'space', g), 'HierarchicalSpace:optionValue', 'space of a domain');
t = expect_error (t, @() RefineElements (hs), 'RefineElements:usage', 'no marks');
t = expect_error (t, @() RefineElements (g, 1), 'RefineElements:notHierarchical', 'a patch');
t = expect_error (t, @() RefineElements (hs, hs.nel + 1), 'RefineElements:markOutOfRange', 'mark too large');
t = expect_error (t, @() RefineElements (hs, 0), 'RefineElements:markOutOfRange', 'mark 0');
t = expect_error (t, @() RefineElements (hs, 1.5), 'RefineElements:markOutOfRange', 'mark not whole');
t = expect_error (t, @() RefineElements (hs, NaN), 'RefineElements:markOutOfRange', 'mark NaN');
t = expect_error (t, @() RefineElements (hs, [2 3 2]), 'RefineElements:markRepeated', 'mark repeated');
t = expect_error (t, @() RefineElements (hs, {1}), 'RefineElements:markType', 'marks a cell');
t = expect (t, isequal (RefineElements (hs, []), hs), 'no marks: the same space');
t = expect_error (t, @() RefineFunctions (hs, hs.ndof + 1), 'RefineFunctions:markOutOfRange', 'function too large');
t = expect_error (t, @() RefineFunctions (hs, [1 1]), 'RefineFunctions:markRepeated', 'function repeated');
t = expect_error (t, @() ProlongField (hs, hs), 'ProlongField:usage', 'no field');
t = expect_error (t, @() ProlongField (g, hs, 1), 'ProlongField:notHierarchical', 'a patch');
other = HierarchicalSpace (g, 'truncated', false);
t = expect_error (t, @() ProlongField (other, hs, ones (hs.ndof, 1)), 'ProlongField:notNested', 'other options');
h2 = RefineElements (hs, 1);
t = expect_error (t, @() ProlongField (h2, hs, ones (h2.ndof, 1)), 'ProlongField:notNested', 'coarser than coarse');
t = expect_error (t, @() ProlongField (hs, h2, ones (hs.ndof + 1, 1)), 'ProlongField:coefsLength', 'a field''s length');
t = expect_error (t, @() MarkElements (), 'MarkElements:usage', 'no indicators');
t = expect_error (t, @() MarkElements ([1 NaN]), 'MarkElements:indicators', 'NaN indicator');
t = expect_error (t, @() MarkElements ([1 2], 'all', 0.5), 'MarkElements:unknownOption', 'strategy');
t = expect_error (t, @() MarkElements ([1 2], 'maximum', 1.5), 'MarkElements:optionValue', 'theta');
t = expect_error (t, @() ErrorEstimate (hs, 1, 1), 'ErrorEstimate:usage', 'no coefficient');
t = expect_error (t, @() ErrorEstimate (g, 1, 1, 1), 'ErrorEstimate:notHierarchical', 'a patch');
t = expect_error (t, @() ErrorEstimate (hs, 1, 1, 1), 'ErrorEstimate:coefsLength', 'a field''s length');
t = expect_error (t, @() ErrorEstimate (hs, zeros (hs.ndof, 1), 'f', 1), 'ErrorEstimate:coefficientType', 'f a name');
t = expect_error (t, @() ErrorEstimate (hs, zeros (hs.ndof, 1), @(x, y) [x; x], 1), ...
       'ErrorEstimate:coefficientSize', 'f of two values a point');
t = expect_error (t, @() ErrorEstimate (hs, zeros (hs.ndof, 1), 1, 1, 'quadrature'), 'ErrorEstimate:optionValue', ...
       'an option without its value');
t = expect_error (t, @() StiffnessMatrix (hs, 1, 'side', 1), 'StiffnessMatrix:sideOutOfRange', 'a side''s stiffness');
t = expect_error (t, @() StiffnessMatrix (hs, 1, 'elements', hs.nel + 1), 'StiffnessMatrix:elementOutOfRange', ...
       'an element beyond the space''s');
t = expect_error (t, @() MassMatrix (hs, 1, 'space', g), 'MassMatrix:optionValue', 'a space of its own');
t = expect_error (t, @() MassMatrix (hs, ones (2, 2)), 'MassMatrix:coefficientSize', 'values of another size');
t = expect_error (t, @() MeshEval (hs, 'side', 5), 'MeshEval:sideOutOfRange', 'side 5');
t = expect_error (t, @() MeshEval (hm, 'boundary', [1 2]), 'MeshEval:optionValue', 'two faces');
t = expect_error (t, @() FieldEval (hm, ones (hm.ndof, 1), [0.5; 0.5]), 'FieldEval:optionValue', 'no patch');
t = expect_error (t, @() FieldEval (hs, ones (hs.ndof + 1, 1), [0.5; 0.5]), 'FieldEval:coefsLength', 'length');
t = expect_error (t, @() FieldEval (hs, ones (hs.ndof, 1), [0.5; 1.5]), 'FieldEval:pointsOutOfRange', 'outside');
% A space changed by hand: every fault the core finds in it.
bad = @(field, value) setfield (hs, field, value);
r = RefineElements (hs, [1 2]).refined;
tampered = {[1; 0; 99], 'refinement', 'a cell beyond its level';
            [1 1; 0 0; 2 1], 'refinement', 'columns out of order';
            [1 1; 0 0; 1 1], 'refinement', 'a repeated column';
            [2; 0; 1], 'refinement', 'a patch beyond the space''s';
            [1; 31; 1], 'refinement', 'a level beyond the last';
            [1; 1; 1], 'refinement', 'a cell whose parent is not refined';
            [1; 0.5; 1], 'refinement', 'a fractional level';
            r(1:2, :), 'refinement', 'two rows';
            [1; 23; 1], 'tooFine', 'a level of too many cells'};
for k = 1:rows (tampered)
  t = expect_error (t, @() StiffnessMatrix (bad ('refined', tampered{k, 1}), 1), ...
         ['StiffnessMatrix:' tampered{k, 2}], ['tampered refined: ' tampered{k, 3}]);
end
t = expect_error (t, @() RefineElements (bad ('refined', [1; 1; 1]), 1), 'RefineElements:refinement', ...
       'a tampered space refined');
t = expect_error (t, @() FieldEval (bad ('refined', [1; 1; 1]), ones (hs.ndof, 1), [0.5; 0.5]), ...
       'FieldEval:refinement', 'a tampered space evaluated');
% Over the domain: a refinement along an interface on one side only, interfaces out of range,
% and a patch whose knots are not open at an interface.
r = hm.refined;
one_side = r(:, ~(r(1, :) == 2));
t = expect_error (t, @() StiffnessMatrix (setfield (hm, 'refined', one_side), 1), ...
       'StiffnessMatrix:notConforming', 'refined on one side of an interface');
in = hm.interfaces;
in(1).patch2 = 7;
t = expect_error (t, @() StiffnessMatrix (setfield (hm, 'interfaces', in), 1), 'StiffnessMatrix:interfaces', ...
       'an interface to no patch');
in = hm.interfaces;
in(1).side2 = 5;
t = expect_error (t, @() StiffnessMatrix (setfield (hm, 'interfaces', in), 1), 'StiffnessMatrix:interfaces', ...
       'an interface of no side');
in = hm.interfaces;
in(1).patch2 = in(1).patch1;
in(1).side2 = 4;
wide = hm;
wide.patches{1} = nrbkntins (wide.patches{1}, {[], 0.1});
wide.refined = zeros (3, 0);
t = expect_error (t, @() StiffnessMatrix (setfield (wide, 'interfaces', in), 1), 'StiffnessMatrix:interfaces', ...
       'faces of different sizes glued');
open = hm.patches;
open{1}.knots{1}(end) = 1.1;
t = expect_error (t, @() StiffnessMatrix (setfield (setfield (hm, 'patches', open), 'refined', zeros (3, 0)), 1), ...
       'StiffnessMatrix:knotsNotOpen', 'knots not open at an interface');
% The core called directly with a header out of range.
args = hierarchical_core_call (hs);
args{1}(2) = 1;
t = expect_error (t, @() HierarchicalSpaceCore (args{:}), 'HierarchicalSpace:optionValue', 'subdivision 1');
args = hierarchical_core_call (hs);
args{1}(6) = 9;
t = expect_error (t, @() HierarchicalSpaceCore (args{:}), 'HierarchicalSpace:optionValue', 'mode 9');
args = hierarchical_core_call (hs);
args{1}(5) = 1;
t = expect_error (t, @() HierarchicalSpaceCore (args{:}), 'HierarchicalSpace:optionValue', 'admissibility 1');
args = hierarchical_core_call (hs);
t = expect_error (t, @() HierarchicalSpaceCore (args{1:end - 1}), '', 'an input short');
report (t);
