% RatCurveEvalD2 in the real host: against the nurbs package, curvature of the quarter circle.
pkg load nurbs
t = harness ();
rand ('seed', 12);
worst = 0;
for c = 1:300
  p = mod (c, 6);
  n = max (p + 1, 3) + floor (rand * 10);
  [U, w] = random_curve (p, n);
  P = 4 * rand (1, n) - 2;
  xi = rand;
  if (mod (c, 25) == 0), xi = 1; end
  [Rr, dRr, d2Rr, s] = rational_basis (xi, p, U, w);
  Ps = P(s - p + 1:s + 1);
  [f, df, d2f] = RatCurveEvalD2 (xi, p, U, P, w);
  e = max ([relative_error(f, sum (Ps .* Rr)), relative_error(df, sum (Ps .* dRr)), ...
            relative_error(d2f, sum (Ps .* d2Rr))]);
  worst = max (worst, e);
  t = expect (t, e < 1e-11, sprintf ('curve %d (p = %d): relative difference %g', c, p, e));
end
printf ('worst relative difference from the nurbs package over 300 curves: %.3g\n', worst);

knot = [0 0 0 1 1 1]; w = [1 1/sqrt(2) 1];
for xi = linspace (0, 1, 33)
  [x, dx, ddx] = RatCurveEvalD2 (xi, 2, knot, [1 1 0], w);
  [y, dy, ddy] = RatCurveEvalD2 (xi, 2, knot, [0 1 1], w);
  kappa = abs (dx * ddy - dy * ddx) / hypot (dx, dy)^3;
  t = expect (t, abs (kappa - 1) < 1e-14, sprintf ('curvature at %g: %.17g', xi, kappa));
end
RatCurveEvalD2 (0.5, 2, knot, [1 1 0], w);
t = expect (t, abs (ans - sqrt (0.5)) < 1e-15, 'nargout 0 sets ans');
bad = {
  'knotsTooShort', {0.5, 1, [0 0 1 1], [1 1], [1 1]}
  'tooFewValues',  {0.5, 2, knot, [1 1 0], w(1:2)}
  'sparse',        {sparse(0.5), 2, knot, [1 1 0], w}
};
for k = 1:rows (bad)
  args = bad{k, 2};
  t = expect_error (t, @() RatCurveEvalD2 (args{:}), ['RatCurveEvalD2:' bad{k, 1}], ...
                    sprintf ('bad call %d (%s)', k, bad{k, 1}));
end
report (t);
