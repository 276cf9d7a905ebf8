% RatVolShapeGrad in the real host: against tensor products of the nurbs package's B-splines,
% weights as a three-dimensional array.
pkg load nurbs
t = harness ();
rand ('seed', 26);
worst = 0;
for k = 1:150
  c = random_case (3, 4, 2);
  [Rr, dRr] = rational_tensor (c);
  out = cell (1, 4);
  [out{:}] = RatVolShapeGrad (c.x, c.p(1), c.p(2), c.p(3), c.U{1}, c.U{2}, c.U{3}, c.w);
  e = max ([relative_error(out{1}, Rr), relative_error(out{2}, dRr{1}), ...
            relative_error(out{3}, dRr{2}), relative_error(out{4}, dRr{3})]);
  worst = max (worst, e);
  t = expect (t, e < 1e-12, sprintf ('volume %d: %g', k, e));
  R2 = RatVolShapeGrad (c.x, c.p(1), c.p(2), c.p(3), c.U{1}, c.U{2}, c.U{3}, c.w(:)');
  t = expect (t, isequal (out{1}, R2), sprintf ('volume %d: weights as a row', k));
end
printf ('worst relative difference from the nurbs package over 150 volumes: %.3g\n', worst);
U = [0 0 0.5 1 1];
t = expect_error (t, @() RatVolShapeGrad ([0.3 0.6], 1, 1, 1, U, U, U, ones (3, 3, 3)), ...
                  'RatVolShapeGrad:tooFewValues', 'two coordinates');
t = expect_error (t, @() RatVolShapeGrad ([0.3 0.6 0.9], 1, 1, 1, U, U, U, ones (3, 3, 2)), ...
                  'RatVolShapeGrad:tooFewValues', 'too few weights');
report (t);
