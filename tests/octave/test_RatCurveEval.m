% RatCurveEval in the real host: against the nurbs package, the quarter circle, errors, outputs.
pkg load nurbs
t = harness ();
rand ('seed', 11);
worst = 0;
for c = 1:300
  p = mod (c, 6);
  n = max (p + 1, 2) + floor (rand * 10);
  [U, w] = random_curve (p, n);
  P = 4 * rand (1, n) - 2;
  xi = rand;
  if (mod (c, 25) == 0), xi = 1; end
  [Rr, dRr, ~, s] = rational_basis (xi, p, U, w);
  Ps = P(s - p + 1:s + 1);
  [f, df] = RatCurveEval (xi, p, U, P, w);
  e = max (relative_error (f, sum (Ps .* Rr)), relative_error (df, sum (Ps .* dRr)));
  worst = max (worst, e);
  t = expect (t, isscalar (f) && isscalar (df) && e < 1e-12, ...
              sprintf ('curve %d (p = %d): relative difference %g', c, p, e));
end
printf ('worst relative difference from the nurbs package over 300 curves: %.3g\n', worst);

knot = [0 0 0 1 1 1]; w = [1 1/sqrt(2) 1];
for xi = linspace (0, 1, 33)
  [x, dx] = RatCurveEval (xi, 2, knot, [1 1 0], w);
  [y, dy] = RatCurveEval (xi, 2, knot, [0 1 1], w);
  t = expect (t, abs (hypot (x, y) - 1) < 1e-15 && abs (x * dx + y * dy) < 1e-15, ...
              sprintf ('quarter circle at %g', xi));
end
RatCurveEval (0.5, 2, knot, [1 1 0], w);
t = expect (t, abs (ans - sqrt (0.5)) < 1e-15, 'nargout 0 sets ans');
try
  [a, b, c] = RatCurveEval (0.5, 2, knot, [1 1 0], w);
  t = expect (t, false, 'three outputs accepted');
catch e
  t = expect (t, strcmp (e.identifier, 'RatCurveEval:tooManyOutputs'), e.message);
end
bad = {
  'tooFewValues',  {0.5, 2, knot, [1 1], w}
  'tooFewValues',  {0.5, 2, knot, [1 1 0], w(1:2)}
  'notDouble',     {0.5, 2, knot, int8([1 1 0]), w}
  'knotsDecreasing', {0.5, 2, [0 0 0 1 1 0.5], [1 1 0], w}
};
for k = 1:rows (bad)
  args = bad{k, 2};
  t = expect_error (t, @() RatCurveEval (args{:}), ['RatCurveEval:' bad{k, 1}], ...
                    sprintf ('bad call %d (%s)', k, bad{k, 1}));
end
report (t);
