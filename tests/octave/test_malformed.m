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
printf ('%d malformed and edge calls in one process\n', calls);
report (t);
