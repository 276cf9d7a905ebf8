% Every plug-in and batch twin of the registry, called wrongly in every way the cases below know,
% in one Octave process that must survive them all. Each call must end in its documented result
% or in the error whose identifier the case expects ('' for the usage message); the caller's
% arrays must come back unchanged. Prints 'N passed, N failed'.
1;  % a script: its helper functions first

function args = put (args, at, value)
  args{at} = value;
end

function id = ifelse_id (bad, id)
  if (! bad), id = 'ok'; end
end

% Each case {args, nargout, expected identifier or 'ok'} of f: the caller's arrays must come back
% unchanged, the call end as expected.
function [t, calls] = run_cases (t, f, name, cases, calls)
  for c = 1:rows (cases)
    [args, n, expected] = cases{c, :};
    copies = cellfun (@unshared, args, 'UniformOutput', false);
    got = 'ok';
    try
      out = cell (1, n);
      if (n == 0)
        f (args{:});
      else
        [out{:}] = f (args{:});
      end
    catch err
      got = err.identifier;
    end
    calls += 1;
    label = sprintf ('%s case %d (nargout %d): expected "%s", got "%s"', name, c, n, expected, got);
    t = expect (t, strcmp (got, expected) && isequaln (args, copies), label);
  end
end

% The quarter annulus, degrees 2 and 1, as an nrbmak struct.
function g = annulus ()
  s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
  g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
  g.knots = {[0 0 0 1 1 1], [0 0 1 1]};
  g.order = [3 2];
end

% A mesh core's inputs on the annulus refined by a cubic space, then the call's own inputs.
function good = mesh_core_call (e)
  g = annulus ();
  k = [0 0 0 0 0.25 0.5 0.75 1 1 1 1];
  good = {g.coefs, g.order, g.knots{:}, [], [4 4], k, k, [], [], 4, 4, [], 0, [1 1 1 0 0]};
  good = [good, coefficients(e)];
end

% A form's coefficients, constants: b has one a physical coordinate.
function c = coefficients (e)
  c = num2cell (ones (1, numel (e.inputs)));
  if (strcmp (e.kind, 'Advection')), c = {[1; 1]}; end
end

% Where a face may be given: MeshEval, and the forms of a face.
function ok = takes_side (e)
  ok = any (strcmp (e.kind, {'Fields', 'Nodes', 'Mass', 'Load'}));
end

% sampled: under memcheck, the class checks of every third input only (one code reads them all).
function cases = mesh_core_cases (e, sampled)
  good = mesh_core_call (e);
  id = @(m) [e.name ':' m];
  outputs = numel (e.outputs);
  cases = {};
  for n = [0 1 2 outputs outputs + 1]
    cases(end + 1, :) = {good, n, ifelse_id(n > outputs, id('tooManyOutputs'))};
  end
  cases(end + 1, :) = {good(1:end - 1), 1, ''};
  cases(end + 1, :) = {[good, {1}], 1, ''};
  cases(end + 1, :) = {{}, 1, ''};
  % The mesh's inputs are read by the same code in every core: MeshEval's sweep covers their
  % classes, a form's its coefficients'.
  first = 1;
  if (~strcmp (e.kind, 'Fields')), first = 16; end
  for a = first:(1 + 2 * sampled):numel (good)
    v = good{a};
    for wrong = {int32(v), single(v), logical(v), 'abc', {v}, struct('v', v)}
      cases(end + 1, :) = {put(good, a, wrong{1}), 1, id('notDouble')};
    end
    cases(end + 1, :) = {put(good, a, sparse(v(:, :, 1))), 1, id('sparse')};
    cases(end + 1, :) = {put(good, a, complex(v)), 1, id('complex')};
  end
  U = good{3}; k = good{7}; c = good{1};
  bad = {2, [], 'dimensions'; 2, [3 2 2 2], 'dimensions'; 2, [3.5 2], 'orderNotInteger';
         2, [0 2], 'orderTooSmall'; 2, [30 2], 'orderTooLarge'; 2, [NaN 2], 'orderNotInteger';
         3, U', 'knotsNotRow'; 3, [U(1:2) NaN U(4:end)], 'knotsNaN';
         3, [-Inf U(2:end - 1) Inf], 'knotsNotFinite'; 3, (2 * U - 1) * 1.5e308, 'knotsNotFinite';
         3, fliplr(U), 'knotsDecreasing'; 3, U(2:end - 1), 'knotsTooShort';
         3, 0 * U, 'domainEmpty'; 5, [0 1], 'dimensions';
         1, c(:, 1:end - 1), 'coefsSize'; 1, c(1:3, :), 'coefsSize';
         1, put3(c, 5, Inf), 'coefsNotFinite'; 1, put3(c, 4, 1e-310), 'coefsNotFinite';
         1, put3(c, 8, 0), 'weightsNotPositive';
         1, put3(c, 4, -1), 'weightsNotPositive';
         6, [4 4 4], 'dimensions'; 7, [0 0 0 0 0.5 0.5 0.5 0.5], 'notRefinement';
         7, 2 * k, 'notRefinement'; 10, [1 2 3], 'coefsSize'; 10, -ones(7), 'weightsNotPositive';
         11, 0, 'quadratureCount'; 11, 65, 'quadratureCount'; 11, 2.5, 'quadratureCount';
         11, [1 2 3], 'quadratureRule'; 11, [0.5 2; 1 1], 'quadratureRule';
         11, [0.5; NaN], 'quadratureRule'; 11, zeros(2, 0), 'quadratureCount';
         13, 3, 'dimensions'; 14, 0.5, 'elementOutOfRange'; 14, 1e9, 'elementOutOfRange';
         14, [1 NaN], 'elementOutOfRange'; 14, -1, 'elementOutOfRange';
         15, [1 0 0 0], 'optionValue'; 15, [2 0 0 0 0], 'optionValue';
         15, [1 0 0 5 0], 'sideOutOfRange'; 15, [1 0 0 1.5 0], 'sideOutOfRange';
         15, [1 0 0 0 1], 'optionValue'; 15, [1 0 0 0 4], 'optionValue'};
  for b = 1:rows (bad)
    cases(end + 1, :) = {put(good, bad{b, 1}, bad{b, 2}), 1, id(bad{b, 3})};
  end
  % Odd but safe: every control point at the origin (det J = 0 everywhere), no elements, the
  % same element twice, every side, a Lobatto rule with nodes on the element's ends, a large
  % mesh on threads.
  origin = c;
  origin(1:2, :, :) = 0;
  cases(end + 1, :) = {put(good, 1, origin), outputs, 'ok'};
  cases(end + 1, :) = {put(good, 14, zeros (1, 0)), outputs, 'ok'};
  cases(end + 1, :) = {put(good, 14, [3 3 1]), outputs, 'ok'};
  for side = 1:4
    cases(end + 1, :) = {put(good, 15, [1 1 1 side 0]), 1, ...
                         ifelse_id(~takes_side (e), id('sideOutOfRange'))};
  end
  cases(end + 1, :) = {put(good, 11, [0 1; 0.5 0.5]), outputs, 'ok'};
  many = [0 0 0 0 linspace(0, 1, 31)(2:end - 1) 1 1 1 1];   % work enough for two threads
  cases(end + 1, :) = {put(put(good, 7, many), 8, many), outputs, 'ok'};
end

% Sets element `at` (linear) of the coefficients to v.
function c = put3 (c, at, v)
  c(at) = v;
end

function cases = mesh_struct_cases (e)
  g = annulus ();
  id = @(m) [e.name ':' m];
  extra = coefficients (e);
  cases = {{1, extra{:}}, 1, id('notStruct');
           {[g g], extra{:}}, 1, id('notStruct');
           {rmfield(g, 'coefs'), extra{:}}, 1, id('missingField');
           {rmfield(g, 'order'), extra{:}}, 1, id('missingField');
           {setfield(g, 'knots', [0 1]), extra{:}}, 1, id('fieldType');
           {setfield(g, 'knots', {[0 0 1 1]}), extra{:}}, 1, id('fieldType');
           {setfield(g, 'order', 'ab'), extra{:}}, 1, id('fieldType');
           {g, extra{:}, 'quadrature'}, 1, id('unknownOption');
           {g, extra{:}, 'nonsense', 1}, 1, id('unknownOption');
           {g, extra{:}, 3, 1}, 1, id('unknownOption');
           {g, extra{:}, 'space', 1}, 1, id('optionValue');
           {g, extra{:}, 'space', struct('order', [3 2])}, 1, id('missingField');
           {g, extra{:}, 'quadrature', {2}}, 1, id('optionValue');
           {g, extra{:}, 'quadrature', [2 2 2]}, 1, id('optionValue');
           {g, extra{:}, 'elements', {1}}, 1, id('optionValue');
           {g, extra{:}, 'side', [1 2]}, 1, id('optionValue');
           {g, extra{:}, 'rdim', 0}, 1, id('optionValue');
           {g, extra{:}, 'side', 7}, 1, id('sideOutOfRange');
           {g, extra{:}, 'QUADRATURE', 3, 'Side', 1}, 1, ifelse_id(~takes_side (e), ...
                                                                   id('sideOutOfRange'));
           {setfield(g, 'coefs', permute (g.coefs, [1 3 2])), extra{:}}, 1, id('coefsSize');
           {g, extra{:}, 'space', rmfield(setfield(g, 'weights', ones (2, 3)), 'coefs')}, 1, ...
           id('coefsSize');
           {g, extra{:}, 'space', setfield(g, 'coefs', g.coefs(:, :, 1))}, 1, id('coefsSize');
           {g, extra{:}, 'space', g}, 1, 'ok';
           {g, extra{:}, 'quadrature', 2, 'quadrature', 3}, 1, 'ok';
           {}, 1, id('usage');
           {g, extra{:}}, 1, 'ok'};
  if (~isempty (e.inputs))
    cases(end + 1, :) = {{g}, 1, id('usage')};
    cases(end + 1, :) = {{g, 'quadrature', 3}, 1, id('usage')};
    cases(end + 1, :) = {{g, extra{1:end - 1}, 'rdim', 2}, 1, id('usage')};
  end
  if (strcmp (e.name, 'MeshEval'))
    cases(end + 1, :) = {{g, 'hessian', 2}, 1, id('optionValue')};
    cases(end + 1, :) = {{g, 'gradient', false, 'laplacian', true}, 1, 'ok'};
  end
end

% A valid call of a plug-in of the registry, or of its batch twin at three points.
function args = valid_call (entry, batch)
  U = [0 0 0 0.5 1 1 1];        % degree 2, four functions (three spans)
  d = entry.dirs;
  x = [0.3 0.7 1; 0.6 0.2 1; 0.9 0.5 0];
  s = [2 3 2; 3 2 3; 2 2 3];
  if (! batch), x = x(:, 1); s = s(:, 1); end
  args = cell (1, numel (entry.kinds));
  for a = 1:numel (entry.kinds)
    switch (entry.kinds(a))
      case 'x', args{a} = x(1:d, :);
        if (! batch), args{a} = args{a}'; end
      case 'p', args{a} = 2;
      case 'k', args{a} = U;
      case 'w', args{a} = ones ([4 * ones(1, d), 1]);
      case 's', args{a} = s(1:d, :);
        if (! batch), args{a} = args{a}'; end
      case 'i', args{a} = 2;
    end
  end
end

t = harness ();
% malformed_part, where the caller sets it: 'plugins' (the plug-ins and twins) or 'meshes' (the
% calls over a mesh and a domain), so that two processes can share the sweep; else both.
if (~exist ('malformed_part', 'var')), malformed_part = 'all'; end
% malformed_valgrind, where the caller sets it (under memcheck, some 200 times slower): the forms
% whose native paths another form's cases already take (the mass and bilaplacian matrices read
% one scalar coefficient as the stiffness does) and the m-level checks of the struct calls
% (m-code, which no invalid access can come from) are left to the run without it.
if (~exist ('malformed_valgrind', 'var')), malformed_valgrind = false; end
repeats = @(name) malformed_valgrind && any (strcmp (name, {'MassMatrix', 'BilaplacianMatrix'}));
sweep_plugins = any (strcmp (malformed_part, {'all', 'plugins'}));
sweep_meshes = any (strcmp (malformed_part, {'all', 'meshes'}));
registry = plugin_registry ();
% Every plug-in and every batch twin: name, a valid call, number of outputs, what each input is
% (x point, p degree, k knots, w values, s spans, i index), whether it is a twin.
plugins = cell (0, 5);
for e = registry
  plugins(end + 1, :) = {e.name, valid_call(e, false), numel(e.outputs), e.kinds, false};
  plugins(end + 1, :) = {[e.name 'Batch'], valid_call(e, true), numel(e.outputs) + e.rows, ...
                         e.kinds, true};
end

calls = 0;
if (~sweep_plugins), plugins = cell (0, 5); end
for k = 1:rows (plugins)
  [name, good, outputs, kinds, batch] = plugins{k, :};
  f = str2func (name);
  id = @(m) [name ':' m];
  cases = {};  % {args, nargout, expected identifier or 'ok'}
  for n = 0:7
    cases(end + 1, :) = {good, n, ifelse_id(n > outputs, id('tooManyOutputs'))};
  end
  cases(end + 1, :) = {good(1:end - 1), 1, ''};
  cases(end + 1, :) = {[good, {1}], 1, ''};
  cases(end + 1, :) = {{}, 1, ''};
  for a = 1:numel (good)
    v = good{a};
    wrong = {int32(v), single(v), logical(v), 'abc', {v}, struct('v', v), uint8(v)};
    for c = 1:numel (wrong)
      cases(end + 1, :) = {put(good, a, wrong{c}), 1, id('notDouble')};
    end
    cases(end + 1, :) = {put(good, a, sparse(v(:, :, 1))), 1, id('sparse')};
    cases(end + 1, :) = {put(good, a, complex(v)), 1, id('complex')};
    switch (kinds(a))
      case 'k'
        cases(end + 1, :) = {put(good, a, []), 1, id('knotsNotRow')};
        cases(end + 1, :) = {put(good, a, v'), 1, id('knotsNotRow')};
        cases(end + 1, :) = {put(good, a, [v; v]), 1, id('knotsNotRow')};
        cases(end + 1, :) = {put(good, a, [v(1:3) NaN v(5:end)]), 1, id('knotsNaN')};
        cases(end + 1, :) = {put(good, a, fliplr(v)), 1, id('knotsDecreasing')};
        cases(end + 1, :) = {put(good, a, v([1 2 4 3 5 6 7])), 1, id('knotsDecreasing')};
        cases(end + 1, :) = {put(good, a, v(3:end)), 1, id('knotsTooShort')};
        cases(end + 1, :) = {put(good, a, [v(1:end - 1) Inf]), 1, 'ok'};     % odd but safe
        cases(end + 1, :) = {put(good, a, [-Inf v(2:end)]), 1, 'ok'};
      case 'p'
        cases(end + 1, :) = {put(good, a, 1e9), 1, id('degreeTooLarge')};
        cases(end + 1, :) = {put(good, a, -3), 1, id('degreeNegative')};
        cases(end + 1, :) = {put(good, a, NaN), 1, id('degreeNotFinite')};
        cases(end + 1, :) = {put(good, a, -Inf), 1, id('degreeNotFinite')};
        cases(end + 1, :) = {put(good, a, []), 1, id('tooFewValues')};
        cases(end + 1, :) = {put(good, a, 2.9), 1, 'ok'};
      case 'x'
        cases(end + 1, :) = {put(good, a, NaN * v), 1, 'ok'};
        cases(end + 1, :) = {put(good, a, v + 5), 1, 'ok'};                 % extrapolated
        if (! batch)
          cases(end + 1, :) = {put(good, a, v(1:end - 1)), 1, id('tooFewValues')};
        elseif (rows (v) == 1)                                              % a curve's points
          cases(end + 1, :) = {put(good, a, v'), 1, 'ok'};
          cases(end + 1, :) = {put(good, a, zeros (1, 0)), 1, 'ok'};
          cases(end + 1, :) = {put(good, a, [v; v]), 1, id('pointsShape')};
        else
          % Other point counts, with spans to match where the twin takes them.
          spans = find (kinds == 's');
          many = put (good, a, rand (rows (v), 20000));                     % threads
          if (spans), many{spans} = repmat (good{spans}(:, 1), 1, 20000); end
          cases(end + 1, :) = {many, 1, 'ok'};
          none = put (good, a, v(:, []));
          if (spans), none{spans} = good{spans}(:, []); end
          cases(end + 1, :) = {none, 1, 'ok'};
          if (spans)
            cases(end + 1, :) = {put(good, a, v(:, 1:2)), 1, id('spansShape')};
          end
          cases(end + 1, :) = {put(good, a, v(:)'), 1, id('pointsShape')};
          cases(end + 1, :) = {put(good, a, [v; v]), 1, id('pointsShape')};
          cases(end + 1, :) = {put(good, a, []), 1, id('pointsShape')};
        end
      case 'w'
        cases(end + 1, :) = {put(good, a, v(1:end - 1)), 1, id('tooFewValues')};
        cases(end + 1, :) = {put(good, a, []), 1, id('tooFewValues')};
        cases(end + 1, :) = {put(good, a, 0 * v), 1, 'ok'};                 % W = 0
      case 's'
        cases(end + 1, :) = {put(good, a, v - v), 1, id('spanOutOfRange')};
        cases(end + 1, :) = {put(good, a, v + 10), 1, id('spanOutOfRange')};
        cases(end + 1, :) = {put(good, a, NaN * v), 1, id('spanOutOfRange')};
        if (batch)
          last = v; last(end) = 4;                                          % one past the last span
          cases(end + 1, :) = {put(good, a, last), 1, id('spanOutOfRange')};
          cases(end + 1, :) = {put(good, a, v(:, 1:end - 1)), 1, id('spansShape')};
          cases(end + 1, :) = {put(good, a, v(:)'), 1, id('spansShape')};
        else
          cases(end + 1, :) = {put(good, a, v(1:end - 1)), 1, id('tooFewValues')};
        end
      case 'i'
        cases(end + 1, :) = {put(good, a, 0), 1, id('indexOutOfRange')};
        cases(end + 1, :) = {put(good, a, 5), 1, id('indexOutOfRange')};
        cases(end + 1, :) = {put(good, a, NaN), 1, id('indexOutOfRange')};
        cases(end + 1, :) = {put(good, a, []), 1, id('tooFewValues')};
    end
  end

  [t, calls] = run_cases (t, f, name, cases, calls);
end

% The calls over a whole mesh: the m-function and its native core, on the quarter annulus.
[~, meshes] = plugin_registry ();
if (~sweep_meshes), meshes = meshes([]); end
for e = meshes
  if (repeats (e.name)), continue; end
  [t, calls] = run_cases (t, str2func (e.core), e.core, ...
                          mesh_core_cases (e, malformed_valgrind), calls);
  if (! malformed_valgrind)
    [t, calls] = run_cases (t, str2func (e.name), e.name, mesh_struct_cases (e), calls);
  end
end
% Domains of patches (Multipatch): its native core, the forms' domain calls and the m-level calls
% over a domain. Two unit squares side by side under quadratic spaces of n x n elements.

% The square [x0, x0 + 1] x [y0, y0 + 1], bilinear, as an nrbmak struct.
function g = square (x0, y0)
  g.coefs = permute (cat (3, [x0 x0; x0+1 x0+1], [y0 y0+1; y0 y0+1], zeros (2), ones (2)), ...
                     [3 1 2]);
  g.knots = {[0 0 1 1], [0 0 1 1]};
  g.order = [2 2];
end

% A square's 15 mesh inputs under a quadratic space of n x n elements.
function a = square_inputs (x0, y0, n)
  g = square (x0, y0);
  k = [0 0 0 (1:n - 1) / n 1 1 1];
  a = {g.coefs, g.order, g.knots{:}, [], [3 3], k, k, [], [], 3, 3, [], 0, [1 0 0 0 0]};
end

% The 15 mesh inputs of three unit squares in 3-D like the pages of a book on one spine (x = 1,
% z = 0): the first two in the plane z = 0, the third standing up.
function [a, b, c] = book_inputs ()
  a = put (square_inputs (0, 0, 2), 15, [1 0 0 0 3]);
  b = put (square_inputs (1, 0, 2), 15, [1 0 0 0 3]);
  c = b;
  page = zeros (4, 2, 2);
  page(1, :, :) = 1;
  page(2, :, :) = [0 1; 0 1];
  page(3, :, :) = [0 0; 1 1];
  page(4, :, :) = 1;
  c{1} = page;
end

function cases = multipatch_core_cases (sampled)
  id = @(m) ['Multipatch:' m];
  one = square_inputs (0, 0, 2);
  two = square_inputs (1, 0, 2);
  good = [{1e-10}, one, two];
  cases = {};
  for n = [0 1 5 6]
    cases(end + 1, :) = {good, n, ifelse_id(n > 5, id('tooManyOutputs'))};
  end
  cases(end + 1, :) = {good(1:16), 5, 'ok'};                    % one patch
  cases(end + 1, :) = {[good, two], 5, id('faceMatchedTwice')};  % the second twice
  for wrong = {{}, good(1:end - 1), [good, {1}], good(2:end), good(1:15), good(1:17)}
    cases(end + 1, :) = {wrong{1}, 1, ''};
  end
  for t = {0, 1, -1e-3, 2, NaN, Inf, -Inf, [1e-10 1e-10], [], single(1e-10), int32(1), ...
           complex(1e-10, 0), sparse(1e-10), 'a', {1e-10}, true}
    cases(end + 1, :) = {put(good, 1, t{1}), 1, id('optionValue')};
  end
  % Any input of either patch of another class, complex or sparse (under memcheck, every third).
  for a = 2:(1 + 2 * sampled):31
    v = good{a};
    for wrong = {int32(v), single(v), logical(v), 'abc', {v}, struct('v', v)}
      cases(end + 1, :) = {put(good, a, wrong{1}), 1, id('notDouble')};
    end
    cases(end + 1, :) = {put(good, a, sparse(v(:, :, 1))), 1, id('sparse')};
    cases(end + 1, :) = {put(good, a, complex(v)), 1, id('complex')};
  end
  % A patch's own faults, by MeshEval's identifiers.
  k = two{7};
  bad = {3, fliplr(two{3}), 'knotsDecreasing'; 1, two{1}(:, 1:3), 'coefsSize';
         7, 2 * k, 'notRefinement'; 11, 0, 'quadratureCount'; 14, 1e9, 'elementOutOfRange';
         15, [1 0 0 5 0], 'sideOutOfRange'; 15, [1 0 0 0 4], 'optionValue'};
  for b = 1:rows (bad)
    cases(end + 1, :) = {put(good, 16 + bad{b, 1}, bad{b, 2}), 1, id(bad{b, 3})};
    cases(end + 1, :) = {put(good, 1 + bad{b, 1}, bad{b, 2}), 1, id(bad{b, 3})};
  end
  % Patches of different dimensions: a curve and a surface, a surface in 2-D and one in 3-D.
  curve = {[0 1; 0 0; 0 0; 1 1], 2, [0 0 1 1], [], [], [], [], [], [], [], 3, [], [], 0, ...
           [1 0 0 0 0]};
  cases(end + 1, :) = {[good(1:16), curve], 1, id('dimensions')};
  cases(end + 1, :) = {[{1e-10}, curve, two], 1, id('dimensions')};
  cases(end + 1, :) = {put(good, 31, [1 0 0 0 3]), 1, id('dimensions')};
  % Geometry the gluing refuses: knots not open, spaces that differ on a shared face (their knots,
  % their degrees), faces that meet in part, a face met by two.
  open = two;
  open(3:10) = {[0 0 1 1.25], [0 0 1 1], [], [], [], [], [], []};
  cases(end + 1, :) = {[{1e-10}, one, open], 1, id('knotsNotOpen')};
  cases(end + 1, :) = {[{1e-10}, one, square_inputs(1, 0, 3)], 1, id('nonConforming')};
  cubic = [0 0 0 0 0.5 1 1 1 1];
  cases(end + 1, :) = {[{1e-10}, one, put(put(put(two, 6, [4 4]), 7, cubic), 8, cubic)], 1, ...
                       id('nonConforming')};
  cases(end + 1, :) = {[{1e-10}, one, square_inputs(1, 0.5, 2)], 1, id('partialContact')};
  cases(end + 1, :) = {[{1e-10}, one, one], 1, id('patchesOverlap')};     % a patch twice
  cases(end + 1, :) = {[{1e-10}, one, put(one, 3, [0 0 1 1])], 1, id('patchesOverlap')};
  [a, b, c] = book_inputs ();
  cases(end + 1, :) = {[{1e-10}, a, b, c], 1, id('faceMatchedTwice')};
  cases(end + 1, :) = {[{1e-10}, a, b], 5, 'ok'};
  % Odd but safe: a coarse tolerance, patches that touch nowhere.
  cases(end + 1, :) = {put(good, 1, 1e-3), 5, 'ok'};
  cases(end + 1, :) = {[{1e-10}, one, square_inputs(3, 0, 2)], 5, 'ok'};
end

% The message of a patch's fault names the patch: its index in MultipatchCore, the header's in a
% form.
function t = multipatch_messages (t)
  one = square_inputs (0, 0, 2);
  two = square_inputs (1, 0, 2);
  [g, ~, ~, ~, counts] = MultipatchCore (1e-10, one{:}, two{:});
  calls = {@() MultipatchCore (1e-10, one{:}, put(two, 3, [1 0 0 0]){:}), 'patch 2: ';
           @() MultipatchCore (1e-10, put(one, 1, NaN * one{1}){:}, two{:}), 'patch 1: ';
           @() MultipatchCore (1e-10, one{:}, put(two, 5, 1){:}), 'patch 2: ';
           @() StiffnessMatrixCore ([counts(1) 1 7], one{:}, g(1:16), put(two, 11, 0){:}, ...
                                    g(17:32), 1), 'patch 7: ';
           @() StiffnessMatrixCore ([counts(1) 4 2], one{:}, 0 * g(1:16), two{:}, ...
                                    g(17:32), 1), 'patch 4: '};
  for k = 1:rows (calls)
    message = '';
    try
      calls{k, 1} ();
    catch err
      message = err.message;
    end
    % The host may put the function's name first.
    t = expect (t, ! isempty (regexp (message, ['^(\w+: )?' calls{k, 2}], 'once')), ...
                sprintf ('multipatch message %d: expected "%s...", got "%s"', k, calls{k, 2}, ...
                         message));
  end
end

% A form's domain call on the two squares: the header, each piece's numbering, the coefficients
% at the nodes of both pieces, pieces that do not fit together.
function cases = domain_form_cases (e)
  id = @(m) [e.name ':' m];
  one = square_inputs (0, 0, 2);
  two = square_inputs (1, 0, 2);
  [g, ~, ~, ~, counts] = MultipatchCore (1e-10, one{:}, two{:});
  ndof = counts(1);
  g1 = g(1:16);
  g2 = g(17:32);
  extra = coefficients (e);
  good = [{[ndof 1 2]}, one, {g1}, two, {g2}, extra];
  nodes = 2 * 36;                                  % 2 x 2 elements of 3 x 3 nodes a piece
  cases = {};
  for n = [0 1 2]
    cases(end + 1, :) = {good, n, ifelse_id(n > 1, id('tooManyOutputs'))};
  end
  cases(end + 1, :) = {[{[ndof 2]}, two, {g2}, extra], 1, 'ok'};
  cases(end + 1, :) = {put(good([1:17, 34:end]), 1, [ndof 1]), 1, 'ok'};   % one piece
  cases(end + 1, :) = {good([1:16, 18:end]), 1, ''};             % a numbering missing
  cases(end + 1, :) = {good(1:end - 1), 1, ''};
  cases(end + 1, :) = {[good, {1}], 1, ''};
  for h = {[ndof 1], [ndof 1 2 3], [], [0 1 2], [-ndof 1 2], [ndof + 0.5 1 2], [NaN 1 2], ...
           [Inf 1 2], [ndof 0 2], [ndof 1 -2], [ndof 1 2.5], [ndof NaN 2], [ndof 1 1e300], ...
           single([ndof 1 2]), int32([ndof 1 2]), complex([ndof 1 2]), sparse([ndof 1 2]), ...
           {ndof, 1, 2}}
    cases(end + 1, :) = {put(good, 1, h{1}), 1, id('optionValue')};
  end
  % Each piece's numbering: its length, its values (ndof the highest), its class.
  for at = [17 33]
    v = good{at};
    for wrong = {v(1:end - 1), [v, 1], [], put3(v, 5, 0), put3(v, 5, -1), put3(v, 5, ndof + 1), ...
                 put3(v, 5, NaN), put3(v, 5, 2.5), put3(v, 5, Inf), int32(v), single(v), ...
                 complex(v), sparse(v), {v}}
      cases(end + 1, :) = {put(good, at, wrong{1}), 1, id('numbering')};
    end
  end
  cases(end + 1, :) = {put(good, 1, [ndof - 1 1 2]), 1, id('numbering')};
  % The coefficients: one value (b: rdim values) per node of both pieces, or constants (the
  % nodes' core has none).
  rows = 1;
  if (strcmp (e.kind, 'Advection')), rows = 2; end
  for count = [nodes - 1, nodes + 1, nodes / 2, 2 * nodes]
    if (isempty (extra)), break; end
    cases(end + 1, :) = {put(good, 34, ones (rows, count)), 1, id('coefficientSize')};
  end
  if (~isempty (extra))
    cases(end + 1, :) = {put(good, 34, ones (rows, nodes)), 1, 'ok'};
    cases(end + 1, :) = {put(good, 34, ones (3, nodes)), 1, id('coefficientSize')};
    cases(end + 1, :) = {put(good, 34, single (good{34})), 1, id('notDouble')};
  end
  % Pieces that do not fit together: another physical dimension, another parametric one.
  cases(end + 1, :) = {put(good, 32, [1 0 0 0 3]), 1, id('dimensions')};
  curve = {[1 2; 0 0; 0 0; 1 1], 2, [0 0 1 1], [], [], [], [], [], [], [], 3, [], [], 0, ...
           [1 0 0 0 0], [1 2]};
  cases(end + 1, :) = {[good(1:17), curve, extra], 1, id('dimensions')};
  % A piece on a face: the forms of a face only.
  cases(end + 1, :) = {put(good, 16, [1 0 0 1 0]), 1, ...
                       ifelse_id(~takes_side (e), id('sideOutOfRange'))};
end

% The m-level calls over a domain: Multipatch's options, a form's choice of pieces, MeshEval's.
function [t, calls] = multipatch_m_cases (t, calls)
  P = [square(0, 0), square(1, 0)];
  id = @(m) ['Multipatch:' m];
  cases = {{P}, 1, 'ok'; {{P(1), P(2)}}, 1, 'ok'; {}, 1, id('usage');
           {1}, 1, id('notStruct'); {{}}, 1, id('notStruct'); {{P(1), 1}}, 1, id('notStruct');
           {P, 'tolerance'}, 1, id('unknownOption'); {P, 'tolerence', 1e-8}, 1, id('unknownOption');
           {P, 3, 1e-8}, 1, id('unknownOption')};
  for v = {0, 1, -1, NaN, [1e-8 1e-8], 'a', complex(1e-8, 0), {1e-8}, []}
    cases(end + 1, :) = {{P, 'tolerance', v{1}}, 1, id('optionValue')};
  end
  cases(end + 1, :) = {{P, 'space', 1}, 1, id('optionValue')};
  cases(end + 1, :) = {{P, 'space', {[]}}, 1, id('optionValue')};
  nan = P(2);
  nan.coefs(1, 1, 1) = NaN;
  cases(end + 1, :) = {{[P(1), nan]}, 1, id('coefsNotFinite')};
  cases(end + 1, :) = {{[P, square(1, 0)]}, 1, id('faceMatchedTwice')};
  cases(end + 1, :) = {{[P(1), square(1, 0.5)]}, 1, id('partialContact')};
  cases(end + 1, :) = {{[P(1), P(1)]}, 1, id('patchesOverlap')};
  notOpen = P(2);
  notOpen.knots{1} = [0 0 1 1.25];
  cases(end + 1, :) = {{[P(1), notOpen]}, 1, id('knotsNotOpen')};
  s = struct ('knots', {{[0 0 0 0.5 1 1 1], [0 0 0 1 1 1]}}, 'order', [3 3]);
  cases(end + 1, :) = {{P, 'space', {s, []}}, 1, id('nonConforming')};
  cases(end + 1, :) = {{P, 'space', {s, s}}, 1, 'ok'};
  curve = struct ('coefs', [1 2; 0 0; 0 0; 1 1], 'knots', {{[0 0 1 1]}}, 'order', 2);
  cases(end + 1, :) = {{{P(1), curve}}, 1, id('dimensions')};
  [t, calls] = run_cases (t, @Multipatch, 'Multipatch', cases, calls);

  k = [0 0 0 0.5 1 1 1];
  s2 = struct ('knots', {{k, k}}, 'order', [3 3]);
  mp = Multipatch (P, 'space', {s2, s2});                          % 2 x 2 elements a patch
  faces = numel (mp.boundaries);
  for e = plugin_registry_meshes ()
    if (strcmp (e.kind, 'Fields')), continue; end
    id = @(m) [e.name ':' m];
    extra = coefficients (e);
    cases = {{mp, extra{:}}, 1, 'ok'; {mp, extra{:}, 'patches', 2}, 1, 'ok';
             {mp, extra{:}, 'patches', [2 1 2]}, 1, 'ok';
             {mp, extra{:}, 'elements', {[1 2], [3 4]}}, 1, 'ok';
             {mp, extra{:}, 'patches', 1, 'elements', [1 4]}, 1, 'ok';
             {mp, extra{:}, 'patches', []}, 1, 'ok'; {mp, extra{:}, 'elements', []}, 1, 'ok';
             {mp, extra{:}, 'elements', {[], []}}, 1, 'ok';
             {mp, extra{:}, 'patches', 2, 'elements', zeros(1, 0)}, 1, 'ok';
             {mp, extra{:}, 'patches', [2 2 1]}, 1, 'ok';
             {mp, extra{:}, 'patches'}, 1, id('unknownOption');
             {mp, extra{:}, 'boundary', 1, 'elements', {1, 1}}, 1, id('optionValue');
             {mp, extra{:}, 'elements', [1 2]}, 1, id('optionValue');
             {mp, extra{:}, 'elements', {1}}, 1, id('optionValue');
             {mp, extra{:}, 'elements', {1, 99}}, 1, id('elementOutOfRange');
             {mp, extra{:}, 'boundary', 1}, 1, ifelse_id(~takes_side (e), id('sideOutOfRange'));
             {mp, extra{:}, 'boundary', 1:faces}, 1, ...
             ifelse_id(~takes_side (e), id('sideOutOfRange'))};
    for v = {0, 3, 1.5, NaN, 'a', {1}}
      cases(end + 1, :) = {{mp, extra{:}, 'patches', v{1}}, 1, id('optionValue')};
    end
    for v = {0, faces + 1, 1.5, NaN, 'a'}
      cases(end + 1, :) = {{mp, extra{:}, 'boundary', v{1}}, 1, id('optionValue')};
    end
    for v = {[], zeros(1, 0), [1 1 2]}
      cases(end + 1, :) = {{mp, extra{:}, 'boundary', v{1}}, 1, ...
                           ifelse_id(~takes_side (e) && ~isempty (v{1}), id('sideOutOfRange'))};
    end
    % Values at the nodes, a cell of one array a patch: 9 nodes on 4 elements, transposed or
    % split wrongly between the patches.
    lead = {};
    if (strcmp (e.kind, 'Advection')), lead = {2}; end
    for v = {{ones(lead{:}, 9, 4), 'ok'}, {ones(lead{:}, 4, 9), id('coefficientSize')}, ...
             {ones(lead{:}, 1, 35), id('coefficientSize')}}
      if (isempty (extra)), break; end     % the nodes' core has no coefficient
      c = {v{1}{1}, ones(lead{:}, 1, 72 - numel (v{1}{1}) / max ([lead{:}, 1]))};
      cells = repmat ({c}, 1, numel (extra));
      cases(end + 1, :) = {{mp, cells{:}}, 1, v{1}{2}};
    end
    for o = {'side', 1; 'rdim', 3; 'space', mp.spaces{1}}'
      cases(end + 1, :) = {{mp, extra{:}, o{:}}, 1, id('optionValue')};
    end
    [t, calls] = run_cases (t, str2func (e.name), e.name, cases, calls);
  end

  id = @(m) ['DirichletValues:' m];
  cases = {{mp, 1:faces, 1}, 2, 'ok'; {mp, [2 2 1], @(x, y) x}, 2, 'ok'; {mp, [], 1}, 2, 'ok';
           {mp, zeros(1, 0), 1}, 2, 'ok'; {mp, 1, 1, 'Quadrature', 4}, 2, 'ok';
           {mp, 1 + 1i, 1}, 1, id('optionValue'); {mp, NaN, 1}, 1, id('optionValue');
           {mp, faces + 1, 1}, 1, id('optionValue'); {mp, 'a', 1}, 1, id('optionValue');
           {mp, 1, 1, 'patches', 1}, 1, id('unknownOption');
           {mp, 1, 1, 'boundary', 2}, 1, id('unknownOption');
           {mp, 1, 1, 'components'}, 1, id('unknownOption'); {mp, 1, 1, 2, 3}, 1, id('unknownOption');
           {mp, 1, 1, 'components', 3}, 1, id('optionValue'); {mp, 1}, 1, id('usage')};
  [t, calls] = run_cases (t, @DirichletValues, 'DirichletValues', cases, calls);

  id = @(m) ['MeshEval:' m];
  cases = {{mp, 'patch', 2}, 1, 'ok'; {mp, 'boundary', faces}, 1, 'ok';
           {mp}, 1, id('optionValue'); {mp, 'gradient', true}, 1, id('optionValue');
           {mp, 'patch', 1, 'boundary', 1}, 1, id('optionValue');
           {mp, 'patch', 3}, 1, id('optionValue'); {mp, 'patch', 0}, 1, id('optionValue');
           {mp, 'patch', [1 2]}, 1, id('optionValue'); {mp, 'patch', 'a'}, 1, id('optionValue');
           {mp, 'boundary', faces + 1}, 1, id('optionValue');
           {mp, 'patch', 1, 'side', 1}, 1, id('optionValue');
           {mp, 'patch', 1, 'rdim', 3}, 1, id('optionValue')};
  [t, calls] = run_cases (t, @MeshEval, 'MeshEval', cases, calls);
end

% Hierarchical spaces' layout (gateway/mesh_gateway.h) over the two squares glued, one cell of
% each refined along the interface: the forms' cores and MeshEvalCore (header, the patches, the
% refined cells, the interfaces, faces, elements, coefficients) and HierarchicalSpaceCore's six
% modes, every input of theirs malformed.
function [base, refined, interfaces] = hierarchical_inputs ()
  one = square_inputs (0, 0, 2);
  two = square_inputs (1, 0, 2);
  base = [one, two];
  refined = [1 2; 0 0; 2 1];
  interfaces = [1; 2; 2; 1; 1; 0; 0];
end

function cases = hierarchical_form_cases (e, sampled)
  id = @(m) [e.name ':' m];
  [base, refined, interfaces] = hierarchical_inputs ();
  extra = {};
  if (~strcmp (e.kind, 'Fields')), extra = coefficients (e); end
  good = [{[0 2 1 2]}, base, {refined, interfaces, zeros(2, 0), 0}, extra];
  at = 32;                                         % refined's position; interfaces, faces, elements after
  outputs = 1;
  if (strcmp (e.kind, 'Fields')), outputs = numel (e.outputs); end
  cases = {good, outputs, 'ok'; good, outputs + 1, id('tooManyOutputs')};
  cases(end + 1, :) = {good(1:end - 1), 1, ''};
  cases(end + 1, :) = {[good, {1}], 1, ''};
  cases(end + 1, :) = {put(good, 1, [0 2 1 3]), 1, ''};       % patches the layout lacks
  for h = {[0 1 1 2], [0 17 1 2], [0 2.5 1 2], [0 2 2 2], [0 2 NaN 2], [0 2 1 2 0]}
    cases(end + 1, :) = {put(good, 1, h{1}), 1, id('optionValue')};
  end
  for r = {[1; 0; 99], [1 1; 0 0; 2 1], [1 1; 0 0; 2 2], [3; 0; 1], [1; 31; 1], [1; 0.5; 1], ...
           [1; 1; 1], [1; 0; NaN], [1 2; 0 0], ones(4, 1)}
    cases(end + 1, :) = {put(good, at, r{1}), 1, id('refinement')};
  end
  cases(end + 1, :) = {put(good, at, [1; 23; 1]), 1, id('tooFine')};
  cases(end + 1, :) = {put(good, at, [1; 0; 2]), 1, id('notConforming')};
  cases(end + 1, :) = {put(good, at, zeros (3, 0)), outputs, 'ok'};
  for i = {[3; 2; 2; 1; 1; 0; 0], [1; 5; 2; 1; 1; 0; 0], [1; 2; 2; 1; 0; 0; 0], ...
           [1; 2; 1; 2; 1; 0; 0], [1; 2; 2; 1; 1; 0], [1.5; 2; 2; 1; 1; 0; 0]}
    cases(end + 1, :) = {put(good, at + 1, i{1}), 1, id('interfaces')};
  end
  cases(end + 1, :) = {put(put(good, at + 1, zeros (7, 0)), at, zeros (3, 0)), outputs, 'ok'};
  for f = {[3; 1], [1; 5], [1; 1.5]}
    cases(end + 1, :) = {put(good, at + 2, f{1}), 1, id('sideOutOfRange')};
  end
  cases(end + 1, :) = {put(good, at + 2, [1 1 1]'), 1, id('optionValue')};
  cases(end + 1, :) = {put(good, at + 2, [1 2; 1 2]), 1, ifelse_id(~takes_side (e) || ...
                       strcmp (e.kind, 'Fields'), id(ifelse_name(strcmp (e.kind, 'Fields'), ...
                       'optionValue', 'sideOutOfRange')))};
  cases(end + 1, :) = {put(good, at + 2, [1; 1]), outputs, ifelse_id(~takes_side (e), ...
                       id('sideOutOfRange'))};
  for el = {0.5, 99, NaN, -1, [1 2 99]}
    cases(end + 1, :) = {put(good, at + 3, el{1}), 1, id('elementOutOfRange')};
  end
  cases(end + 1, :) = {put(good, at + 3, [3 3 1]), outputs, 'ok'};
  cases(end + 1, :) = {put(good, at + 3, zeros (1, 0)), outputs, 'ok'};
  % A patch's own fault, by MeshEval's identifier; and a patch of another dimension.
  cases(end + 1, :) = {put(good, 1 + 3, fliplr (good{4})), 1, id('knotsDecreasing')};
  cases(end + 1, :) = {put(good, 31, [1 0 0 0 3]), 1, id('dimensions')};
  cases(end + 1, :) = {put(good, 31, [1 0 0 1 0]), 1, id('optionValue')};
  % The class of every input of the layout's own.
  for a = [1, at:at + 3](1:(1 + sampled):end)
    v = good{a};
    for wrong = {int32(v), 'abc', {v}}
      % A header of another class is no hierarchical call: the usage message.
      cases(end + 1, :) = {put(good, a, wrong{1}), 1, ifelse_name(a > 1, id('notDouble'), '')};
    end
    if (a > 1)
      cases(end + 1, :) = {put(good, a, complex(v)), 1, id('complex')};
      cases(end + 1, :) = {put(good, a, sparse(v(:, :))), 1, id('sparse')};
    end
  end
  if (~isempty (extra))
    cases(end + 1, :) = {put(good, numel (good), ones (1, 7)), 1, id('coefficientSize')};
  end
end

function name = ifelse_name (test, a, b)
  if (test), name = a; else, name = b; end
end

function cases = hierarchical_space_cases ()
  [base, refined, interfaces] = hierarchical_inputs ();
  head = @(mode) [0 2 1 2 2 mode 1 0];
  tail = {refined, interfaces};
  % The space's functions, refined and not.
  [~, ~, ~, ~, ~, ~, counts] = HierarchicalSpaceCore (head (0), base{:}, tail{:}, zeros (2, 0), []);
  [~, ~, ~, ~, ~, ~, coarse] = HierarchicalSpaceCore (head (0), base{:}, zeros (3, 0), ...
                                                      interfaces, zeros (2, 0), []);
  n = counts(1);
  nc = coarse(1);
  cases = {};
  names = {'HierarchicalSpace', 'RefineElements', 'RefineFunctions', 'ProlongField', ...
           'FieldEval', 'FieldEval'};
  for mode = 0:5
    id = @(m) [names{mode + 1} ':' m];
    switch (mode)
      case {0, 1, 2}
        extra = {[1 2; 1 1], [1 3]};
        outputs = 7;
      case 3
        extra = {zeros(3, 0), ones(nc, 1)};
        outputs = 1;
      case 4
        extra = {0, ones(n, 2)};
        outputs = 2;
      otherwise
        extra = {rand(2, 40), ones(n, 1)};
        outputs = 1;
    end
    good = [{head(mode)}, base, tail, extra];
    cases(end + 1, :) = {good, outputs, 'ok'};
    cases(end + 1, :) = {good, outputs + 1, id('tooManyOutputs')};
    cases(end + 1, :) = {good(1:end - 1), 1, ''};
    cases(end + 1, :) = {put(good, 32, [1; 0; 99]), 1, id('refinement')};
    cases(end + 1, :) = {put(good, 1, put3 (head (mode), 5, 1)), 1, id('optionValue')};
    cases(end + 1, :) = {put(good, 1, put3 (head (mode), 7, 3)), 1, id('optionValue')};
    cases(end + 1, :) = {put(good, 1, put3 (head (mode), 8, 2)), 1, id('optionValue')};
    switch (mode)
      case {1, 2}
        for m = {0, 99, 1.5, NaN, [2 2]}
          cases(end + 1, :) = {put(good, 35, m{1}), 1, ...
                               id(ifelse_name(numel (m{1}) > 1, 'markRepeated', 'markOutOfRange'))};
        end
        cases(end + 1, :) = {put(good, 35, []), outputs, 'ok'};
        cases(end + 1, :) = {put(put(good, 35, 1), 1, put3 (head (mode), 5, 0)), outputs, 'ok'};
      case 3
        cases(end + 1, :) = {put(good, 34, [1; 0; 1]), 1, id('notNested')};
        cases(end + 1, :) = {put(good, 34, [1; 1; 1]), 1, id('refinement')};
        cases(end + 1, :) = {put(good, 34, ones (2, 1)), 1, id('refinement')};
        cases(end + 1, :) = {put(good, 35, ones (nc + 1, 1)), 1, id('coefsLength')};
        cases(end + 1, :) = {put(good, 35, []), 1, id('coefsLength')};
      case 4
        cases(end + 1, :) = {put(good, 34, 99), 1, id('elementOutOfRange')};
        cases(end + 1, :) = {put(good, 34, [1 1 2]), outputs, 'ok'};
        cases(end + 1, :) = {put(good, 35, ones (n + 1, 1)), 1, id('coefsLength')};
      case 5
        cases(end + 1, :) = {put(good, 34, rand (3, 4)), 1, id('pointsShape')};
        cases(end + 1, :) = {put(good, 34, [NaN 2 -1; 0.5 -3 1e300]), outputs, 'ok'};
        cases(end + 1, :) = {put(good, 34, zeros (2, 0)), outputs, 'ok'};
        cases(end + 1, :) = {put(good, 35, ones (n * 65, 1)), 1, id('coefsLength')};
        cases(end + 1, :) = {put(good, 1, put3 (head (mode), 8, 1)), outputs, 'ok'};
      otherwise
        cases(end + 1, :) = {put(good, 34, [3; 1]), 1, id('sideOutOfRange')};
        cases(end + 1, :) = {put(good, 1, put3 (head (mode), 6, 7)), 1, ...
                             'HierarchicalSpace:optionValue'};
    end
  end
end

function meshes = plugin_registry_meshes ()
  [~, meshes] = plugin_registry ();
end

if (sweep_meshes)
  [t, calls] = run_cases (t, @MultipatchCore, 'MultipatchCore', ...
                          multipatch_core_cases (malformed_valgrind), calls);
  t = multipatch_messages (t);
  if (! malformed_valgrind)
    [t, calls] = multipatch_m_cases (t, calls);
  end
end
for e = meshes
  if (~strcmp (e.kind, 'Fields') && ! repeats (e.name))
    [t, calls] = run_cases (t, str2func (e.core), [e.core ' over a domain'], ...
                            domain_form_cases (e), calls);
  end
  % Under memcheck, the forms whose hierarchical paths the others' cases take are left out.
  % MeshNodesCore takes a patch or a domain: MeshNodes asks MeshEval for a hierarchical space's.
  if (! repeats (e.name) && ! strcmp (e.kind, 'Nodes') && ! (malformed_valgrind && ...
      any (strcmp (e.name, {'AdvectionMatrix', 'ElasticityMatrix'}))))
    [t, calls] = run_cases (t, str2func (e.core), [e.core ' over a hierarchical space'], ...
                            hierarchical_form_cases (e, malformed_valgrind), calls);
  end
end
if (sweep_meshes)
  [t, calls] = run_cases (t, @HierarchicalSpaceCore, 'HierarchicalSpaceCore', ...
                          hierarchical_space_cases (), calls);
end
% The solvers' native cores: their setup on the annulus under a cubic space (the mesh's inputs are
% MeshEvalCore's, swept above), their application with the arrays the setup made.
function cases = class_cases (good, id)
  cases = {};
  for a = 1:numel (good)
    v = good{a};
    if (isempty (v)), v = 1; end
    for w = {int32(v), single(v), logical(v), 'abc', {v}, struct('v', v)}
      cases(end + 1, :) = {put(good, a, w{1}), 1, id('notDouble')};
    end
    cases(end + 1, :) = {put(good, a, sparse(v(:, :, 1))), 1, id('sparse')};
    cases(end + 1, :) = {put(good, a, complex(v)), 1, id('complex')};
  end
end

function cases = solver_cases (core, sampled)
  mesh = mesh_core_call (struct ('inputs', {{}}, 'kind', 'Stiffness'));
  who = 'MatrixFreeOperator';
  if (strncmp (core, 'Fast', 4)), who = 'FastDiagonalisation'; end
  id = @(m) [who ':' m];
  switch (core)
    case {'MatrixFreeSetupCore', 'FastDiagonalisationSetupCore'}
      outputs = ifelse_n (strcmp (core, 'MatrixFreeSetupCore'), 6, 8);
      good = [mesh, {[3 0.5 2], 1, 2}];
      cases = {good, outputs, 'ok'; good, outputs + 1, id('tooManyOutputs'); ...
               good(1:end - 1), 1, ''; [good, {1}], 1, ''; ...
               put(good, 16, [5 1 1]), 1, id('optionValue'); ...
               put(good, 16, [3 NaN 1]), 1, id('optionValue'); ...
               put(good, 16, [3 1]), 1, id('optionValue'); ...
               put(good, 17, [1 2 3]), 1, id('coefficientSize'); ...
               put(good, 18, ones (2, 3)), 1, id('coefficientSize'); ...
               put(good, 15, [1 1 1 3 0]), 1, id('sideOutOfRange'); ...
               put(good, 14, [1 2]), 1, id('optionValue'); ...
               put(good, 15, [1 1 1 0 3]), 1, id('dimensions'); ...
               put(good, 17, NaN), 1, 'ok'};
      if (strcmp (core, 'MatrixFreeSetupCore'))
        cases(end + 1, :) = {[mesh, {[0 0 0]}], 1, 'ok'};
        cases(end + 1, :) = {[mesh, {[0 0 0]}], 2, id('tooManyOutputs')};
      else
        cases(end + 1, :) = {[mesh, {[0 0 0]}], 1, id('optionValue')};
      end
      classes = class_cases (good(16:end), id);
      for c = 1:rows (classes), classes{c, 1} = [mesh, classes{c, 1}]; end
      cases = [cases; classes];
    case 'MatrixFreeApplyCore'
      [s, t1, t2, t3, F, W] = MatrixFreeSetupCore (mesh{:}, [1 1 1], 1);
      n = prod (s(4:5));
      good = {[n 1], s, t1, t2, t3, F, W, [], (1:n)', ones(n, 2)};
      bad_first = t1; bad_first(1, end) = -1;
      cases = {good, 1, 'ok'; good, 2, id('tooManyOutputs'); good(1:end - 1), 1, ''; ...
               [good, {1}], 1, ''; {}, 1, ''; ...
               put(good, 10, rand (n, 7)), 1, 'ok'; put(good, 10, zeros (n, 0)), 1, 'ok'; ...
               put(good, 10, NaN (n, 1)), 1, 'ok'; ...
               put(good, 1, [n 4]), 1, id('optionValue'); put(good, 1, n), 1, id('optionValue'); ...
               put(good, 2, s(1:12)), 1, id('sizes'); put(good, 2, put3v (s, 13, 9)), 1, id('sizes'); ...
               put(good, 2, put3v (s, 1, 3)), 1, id('sizes'); put(good, 2, put3v (s, 7, 40)), 1, id('sizes'); ...
               put(good, 3, t1'), 1, id('tableSize'); put(good, 5, [1 2]), 1, id('tableSize'); ...
               put(good, 3, bad_first), 1, id('tableValue'); put(good, 3, t1 + 100), 1, id('tableValue'); ...
               put(good, 6, F(1:end - 1)), 1, id('factorsSize'); put(good, 7, [1 2]), 1, id('weightsSize'); ...
               put(good, 8, [1 2]), 1, id('numbering'); put(good, 8, (2:n + 1)'), 1, id('numbering'); ...
               put(good, 9, (n:-1:1)'), 1, id('freeList'); put(good, 9, [0; (2:n)']), 1, id('freeList'); ...
               put(good, 9, zeros (0, 1)), 1, id('xSize'); ...
               put(good, 10, ones (n - 1, 1)), 1, id('xSize'); put(good, 10, ones (1, n)), 1, id('xSize')};
      if (! sampled), cases = [cases; class_cases(good, id)]; end
    case 'FastDiagonalisationApplyCore'
      good = {6, [2 3 2 0 1 0.5], eye(3), [1 2 3], eye(2), [1 2], [], [], [], [], ones(6, 3)};
      cases = {good, 1, 'ok'; good, 2, id('tooManyOutputs'); good(1:end - 1), 1, ''; ...
               [good, {1}], 1, ''; put(good, 11, zeros (6, 0)), 1, 'ok'; ...
               put(good, 2, [2 3 2 0 0 0]), 1, 'ok'; ...
               put(good, 1, -1), 1, id('optionValue'); put(good, 1, [6 6]), 1, id('optionValue'); ...
               put(good, 2, [3 3 2 0 1 0]), 1, id('sizes'); put(good, 2, [2 3 2 1 1 0]), 1, id('sizes'); ...
               put(good, 2, [2 3 2 0 Inf 0]), 1, id('sizes'); put(good, 2, [2 3 2.5 0 1 0]), 1, id('sizes'); ...
               put(good, 3, eye (2)), 1, id('eigenSize'); put(good, 4, [1 2]), 1, id('eigenSize'); ...
               put(good, 7, 1), 1, id('eigenSize'); put(good, 9, [1 2]), 1, id('scaleSize'); ...
               put(good, 10, [1 2]), 1, id('mapValue'); put(good, 10, [1 2 3 4 5 7]), 1, id('mapValue'); ...
               put(good, 10, [0 0 0 0 0 0]), 1, 'ok'; put(good, 11, ones (5, 1)), 1, id('xSize')};
      if (! sampled), cases = [cases; class_cases(good, id)]; end
  end
end

function v = put3v (v, at, value)
  v(at) = value;
end

function v = ifelse_n (test, a, b)
  if (test), v = a; else, v = b; end
end

if (sweep_meshes)
  [~, ~, ~, cores] = plugin_registry ();
  for e = cores
    [t, calls] = run_cases (t, str2func (e.name), e.name, solver_cases (e.name, malformed_valgrind), ...
                            calls);
  end
end
printf ('%d malformed and edge calls in one process\n', calls);
report (t);
