% Every plug-in, called wrongly in every way the table below knows, in one Octave process that
% must survive them all. Each call must end in its documented result or in the error whose
% identifier the table expects ('' for the usage message); the caller's arrays must come back
% unchanged. Prints 'N passed, N failed'.
1;  % a script: its helper functions first

function args = put (args, at, value)
  args{at} = value;
end

function id = ifelse_id (bad, id)
  if (! bad), id = 'ok'; end
end

t = harness ();
U = [0 0 0 0.5 1 1 1];        % degree 2, four functions (three for the spans below)
w = ones (1, 4);
curve = {0.3, 2, U, w};
field = {0.3, 2, U, w, w};
surface = {[0.3 0.6], 2, 2, U, U, ones(4)};
volume = {[0.3 0.6 0.9], 2, 2, 2, U, U, U, ones(4, 4, 4)};
% name, a valid call, number of outputs, what each input is (x point, p degree, k knots,
% w values, s spans, i index)
plugins = {
  'RatCurveShapeGrad',      curve,                 2, 'xpkw'
  'RatCurveShapeHess',      curve,                 3, 'xpkw'
  'RatCurveEval',           field,                 2, 'xpkww'
  'RatCurveEvalD2',         field,                 3, 'xpkww'
  'RatSingleShape',         {2, 2, 0.3, U, w},     2, 'ipxkw'
  'RatSurfShapeGrad',       surface,               3, 'xppkkw'
  'RatSurfGradOnly',        surface,               2, 'xppkkw'
  'RatSurfShapeGradAtSpan', [surface, {[2 3]}],    3, 'xppkkws'
  'PolySurfShapeGrad',      surface(1:5),          3, 'xppkk'
  'RatSurfShapeHess',       surface,               6, 'xppkkw'
  'RatVolShapeGrad',        volume,                4, 'xpppkkkw'
  'RatVolShapeGradAtSpan',  [volume, {[2 3 2]}],   4, 'xpppkkkws'
};

calls = 0;
for k = 1:rows (plugins)
  [name, good, outputs, kinds] = plugins{k, :};
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
        cases(end + 1, :) = {put(good, a, v(1:end - 1)), 1, id('tooFewValues')};
        cases(end + 1, :) = {put(good, a, NaN * v), 1, 'ok'};
        cases(end + 1, :) = {put(good, a, v + 5), 1, 'ok'};                 % extrapolated
      case 'w'
        cases(end + 1, :) = {put(good, a, v(1:end - 1)), 1, id('tooFewValues')};
        cases(end + 1, :) = {put(good, a, []), 1, id('tooFewValues')};
        cases(end + 1, :) = {put(good, a, 0 * v), 1, 'ok'};                 % W = 0
      case 's'
        cases(end + 1, :) = {put(good, a, v - v), 1, id('spanOutOfRange')};
        cases(end + 1, :) = {put(good, a, v + 10), 1, id('spanOutOfRange')};
        cases(end + 1, :) = {put(good, a, NaN * v), 1, id('spanOutOfRange')};
        cases(end + 1, :) = {put(good, a, v(1:end - 1)), 1, id('tooFewValues')};
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
