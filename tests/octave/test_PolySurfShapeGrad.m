% PolySurfShapeGrad in the real host: against tensor products of the nurbs package's B-splines,
% and RatSurfShapeGrad with unit weights.
pkg load nurbs
t = harness ();
rand ('seed', 24);
worst = 0;
for k = 1:200
  c = random_case (2, 5, 2);
  D = cell (1, 2);
  for d = 1:2, D{d} = bspline_ders (c.x(d), c.p(d), c.U{d}, 1); end
  [R, dRdxi, dRdeta] = PolySurfShapeGrad (c.x, c.p(1), c.p(2), c.U{1}, c.U{2});
  e = max ([relative_error(R, kron (D{2}(1,:), D{1}(1,:))), ...
            relative_error(dRdxi, kron (D{2}(1,:), D{1}(2,:))), ...
            relative_error(dRdeta, kron (D{2}(2,:), D{1}(1,:)))]);
  worst = max (worst, e);
  t = expect (t, e < 1e-12, sprintf ('surface %d: %g', k, e));
  [a, b, g] = RatSurfShapeGrad (c.x, c.p(1), c.p(2), c.U{1}, c.U{2}, ones (size (c.w)));
  t = expect (t, max ([relative_error(a, R), relative_error(b, dRdxi), relative_error(g, dRdeta)]) < 1e-13, ...
              sprintf ('surface %d: unit weights', k));
end
printf ('worst relative difference from the nurbs package over 200 surfaces: %.3g\n', worst);
t = expect_error (t, @() PolySurfShapeGrad ([0.3 0.6], 2, 1, [0 0 0 1 1 1], [0 0 1]), ...
                  'PolySurfShapeGrad:knotsTooShort', 'knots too short');
report (t);
