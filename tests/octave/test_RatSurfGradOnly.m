% RatSurfGradOnly in the real host: bit for bit outputs 2 and 3 of RatSurfShapeGrad.
pkg load nurbs
t = harness ();
rand ('seed', 22);
for k = 1:200
  c = random_case (2, 5, 2);
  [~, a, b] = RatSurfShapeGrad (c.x, c.p(1), c.p(2), c.U{1}, c.U{2}, c.w);
  [dRdxi, dRdeta] = RatSurfGradOnly (c.x, c.p(1), c.p(2), c.U{1}, c.U{2}, c.w);
  t = expect (t, isequal (dRdxi, a) && isequal (dRdeta, b), sprintf ('surface %d', k));
end
RatSurfGradOnly ([0.3 0.6], 2, 1, [0 0 0 0.5 1 1 1], [0 0 0.25 1 1], ones (4, 3));
t = expect (t, abs (sum (ans)) < 1e-14, 'nargout 0 sets ans');
t = expect_error (t, @() RatSurfGradOnly ([0.3 0.6], 2, 1, [0 0 0 1 1], [0 0 0.25 1 1], ones (4, 3)), ...
                  'RatSurfGradOnly:knotsTooShort', 'knots too short');
report (t);
