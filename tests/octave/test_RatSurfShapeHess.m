% RatSurfShapeHess in the real host: second derivatives against the nurbs package, first three
% outputs bit for bit those of RatSurfShapeGrad.
pkg load nurbs
t = harness ();
rand ('seed', 25);
worst = 0;
for k = 1:200
  c = random_case (2, 5, 3);
  [Rr, dRr, d2Rr] = rational_tensor (c);
  out = cell (1, 6);
  [out{:}] = RatSurfShapeHess (c.x, c.p(1), c.p(2), c.U{1}, c.U{2}, c.w);
  e = max ([relative_error(out{4}, d2Rr{1}), relative_error(out{5}, d2Rr{2}), ...
            relative_error(out{6}, d2Rr{3}), relative_error(out{2}, dRr{1})]);
  worst = max (worst, e);
  t = expect (t, e < 1e-11, sprintf ('surface %d (p = %d, q = %d): %g', k, c.p(1), c.p(2), e));
  g = cell (1, 3);
  [g{:}] = RatSurfShapeGrad (c.x, c.p(1), c.p(2), c.U{1}, c.U{2}, c.w);
  t = expect (t, isequal (g, out(1:3)), sprintf ('surface %d: first three outputs', k));
end
printf ('worst relative difference from the nurbs package over 200 surfaces: %.3g\n', worst);
try
  out = cell (1, 7);
  [out{:}] = RatSurfShapeHess ([0.3 0.6], 2, 1, [0 0 0 0.5 1 1 1], [0 0 0.25 0.5 1 1], ones (4, 4));
  t = expect (t, false, 'seven outputs accepted');
catch e
  t = expect (t, strcmp (e.identifier, 'RatSurfShapeHess:tooManyOutputs'), e.message);
end
t = expect_error (t, @() RatSurfShapeHess ([0.3 0.6], 2, 1, [0 0 0 0.5 1 1 1], [0 0 1 1], ones (4, 2)), ...
                  'RatSurfShapeHess:knotsTooShort', 'two functions along eta');
report (t);
