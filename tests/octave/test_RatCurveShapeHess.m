% RatCurveShapeHess in the real host: against the nurbs package, errors, outputs.
pkg load nurbs
t = harness ();
rand ('seed', 7);
worst = 0;
for c = 1:300
  p = mod (c, 6);
  n = max (p + 1, 3) + floor (rand * 10);
  [U, w] = random_curve (p, n);
  xi = rand;
  if (mod (c, 25) == 0), xi = 1; end
  [Rr, dRr, d2Rr] = rational_basis (xi, p, U, w);
  [R, dR, d2R] = RatCurveShapeHess (xi, p, U, w);
  e = max ([relative_error(R, Rr), relative_error(dR, dRr), relative_error(d2R, d2Rr)]);
  worst = max (worst, e);
  t = expect (t, e < 1e-12, sprintf ('curve %d (p = %d): relative difference %g', c, p, e));
end
printf ('worst relative difference from the nurbs package over 300 curves: %.3g\n', worst);

knot = [0 0 0 0.5 1 1 1]; w = [1 2 1 3];
RatCurveShapeHess (0.3, 2, knot, w);
t = expect (t, isequal (ans, RatCurveShapeHess (0.3, 2, knot, w)), 'nargout 0 sets ans');
[R, dR, d2R] = RatCurveShapeHess (0.3, 2, knot, w);
t = expect (t, abs (sum (d2R)) < 1e-12 && abs (sum (dR)) < 1e-13, 'three outputs sum to 0');
for k = 1:5000
  R = RatCurveShapeHess (mod (k, 89) / 89, 2, knot, w);
end
t = expect (t, abs (sum (R) - 1) < 1e-15, 'five thousand one-output calls');
try
  [a, b, c, d] = RatCurveShapeHess (0.3, 2, knot, w);
  t = expect (t, false, 'four outputs accepted');
catch e
  t = expect (t, strcmp (e.identifier, 'RatCurveShapeHess:tooManyOutputs'), e.message);
end
bad = {
  'notDouble',     {0.3, 2, single(knot), w}
  'knotsTooShort', {0.3, 1, [0 0 1 1], w}
  'knotsNaN',      {0.3, 2, [0 0 0 NaN 1 1 1], w}
  'tooFewValues',  {0.3, 2, knot, w(1:3)}
  'degreeNegative', {0.3, -1, knot, w}
};
for k = 1:rows (bad)
  args = bad{k, 2};
  t = expect_error (t, @() RatCurveShapeHess (args{:}), ['RatCurveShapeHess:' bad{k, 1}], ...
                    sprintf ('bad call %d (%s)', k, bad{k, 1}));
end
try
  RatCurveShapeHess (0.3, 2, knot);
catch e
  t = expect (t, strcmp (e.message, ['RatCurveShapeHess: 4 inputs expected, as in ' ...
              '[R, dRdxi, dR2dxi] = RatCurveShapeHess(xi, p, knot, weights)']), e.message);
end
report (t);
