% RatVolShapeHess in the real host: the six second derivatives against tensor products of the
% nurbs package's B-spline derivatives in rational form, the first four outputs bit for bit those
% of RatVolShapeGrad, sums, its twin on the same points, and its faults.
pkg load nurbs
t = harness ();
rand ('seed', 31);
worst = 0;
for k = 1:120
  c = random_case (3, 4, 3);
  [Rr, dRr, d2Rr] = rational_tensor (c);
  out = cell (1, 10);
  [out{:}] = RatVolShapeHess (c.x, c.p(1), c.p(2), c.p(3), c.U{:}, c.w);
  e = 0;
  for o = 1:6
    e = max (e, relative_error (out{4 + o}, d2Rr{o}));
    t = expect (t, abs (sum (out{4 + o})) < 1e-10 * max ([1, abs(out{4 + o})]), ...
                sprintf ('volume %d: output %d sums to 0', k, 4 + o));
  end
  worst = max (worst, e);
  t = expect (t, e < 1e-10, sprintf ('volume %d (p, q, r = %d, %d, %d): %g', k, c.p, e));
  g = cell (1, 4);
  [g{:}] = RatVolShapeGrad (c.x, c.p(1), c.p(2), c.p(3), c.U{:}, c.w);
  t = expect (t, isequal (g, out(1:4)), sprintf ('volume %d: first four outputs', k));
  batch = cell (1, 11);
  [batch{:}] = RatVolShapeHessBatch (c.x(:), c.p(1), c.p(2), c.p(3), c.U{:}, c.w);
  t = expect (t, isequal (batch(1:10), out), sprintf ('volume %d: the twin at one point', k));
end
printf ('worst relative difference from the nurbs package over 120 volumes: %.3g\n', worst);
U = [0 0 0 0.5 1 1 1]; w = ones (4, 4, 4);
t = expect_error (t, @() RatVolShapeHess ([0.3 0.6 0.9], 2, 2, 1, U, U, [0 0 1 1], ones (4, 4, 2)), ...
                  'RatVolShapeHess:knotsTooShort', 'two functions along zeta');
t = expect_error (t, @() RatVolShapeHess ([0.3 0.6], 2, 2, 2, U, U, U, w), ...
                  'RatVolShapeHess:tooFewValues', 'two coordinates');
try
  out = cell (1, 11);
  [out{:}] = RatVolShapeHess ([0.3 0.6 0.9], 2, 2, 2, U, U, U, w);
  t = expect (t, false, 'eleven outputs accepted');
catch err
  t = expect (t, strcmp (err.identifier, 'RatVolShapeHess:tooManyOutputs'), err.message);
end
report (t);
