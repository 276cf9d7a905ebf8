% RatVolShapeGradAtSpan in the real host: with findspan's spans it is RatVolShapeGrad bit for bit.
pkg load nurbs
t = harness ();
rand ('seed', 27);
for k = 1:150
  c = random_case (3, 4, 2);
  s = zeros (1, 3);
  for d = 1:3
    [~, s(d)] = bspline_ders (c.x(d), c.p(d), c.U{d}, 1);  % the clamped point's span
  end
  a = cell (1, 4); b = cell (1, 4);
  [a{:}] = RatVolShapeGrad (c.x, c.p(1), c.p(2), c.p(3), c.U{1}, c.U{2}, c.U{3}, c.w);
  [b{:}] = RatVolShapeGradAtSpan (c.x, c.p(1), c.p(2), c.p(3), c.U{1}, c.U{2}, c.U{3}, c.w, s);
  t = expect (t, isequal (a, b), sprintf ('volume %d', k));
end
U = [0 0 0.5 1 1];
t = expect_error (t, @() RatVolShapeGradAtSpan ([0.3 0.6 0.9], 1, 1, 1, U, U, U, ones (3, 3, 3), [1 2 3]), ...
                  'RatVolShapeGradAtSpan:spanOutOfRange', 'span above the last');
t = expect_error (t, @() RatVolShapeGradAtSpan ([0.3 0.6 0.9], 1, 1, 1, U, U, U, ones (3, 3, 3), [1 2]), ...
                  'RatVolShapeGradAtSpan:tooFewValues', 'two spans');
report (t);
