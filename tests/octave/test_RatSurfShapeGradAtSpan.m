% RatSurfShapeGradAtSpan in the real host: with findspan's spans it is RatSurfShapeGrad bit for
% bit; spans out of range are refused.
pkg load nurbs
t = harness ();
rand ('seed', 23);
for k = 1:200
  c = random_case (2, 5, 2);
  s = zeros (1, 2);
  for d = 1:2
    [~, s(d)] = bspline_ders (c.x(d), c.p(d), c.U{d}, 1);  % the clamped point's span
  end
  [a, b, e] = RatSurfShapeGrad (c.x, c.p(1), c.p(2), c.U{1}, c.U{2}, c.w);
  [R, dRdxi, dRdeta] = RatSurfShapeGradAtSpan (c.x, c.p(1), c.p(2), c.U{1}, c.U{2}, c.w, s);
  t = expect (t, isequal (R, a) && isequal (dRdxi, b) && isequal (dRdeta, e), sprintf ('surface %d', k));
end
U = [0 0 0 0.5 1 1 1]; V = [0 0 0.25 1 1]; w = ones (4, 3);
t = expect (t, isequal (RatSurfShapeGradAtSpan ([0.3 0.6], 2, 1, U, V, w, [2.9 1.5]), ...
                        RatSurfShapeGradAtSpan ([0.3 0.6], 2, 1, U, V, w, [2 1])), 'spans truncate');
bad = {[1 1], [4 1], [2 0], [2 3], [NaN 1], 2};
ids = {'spanOutOfRange', 'spanOutOfRange', 'spanOutOfRange', 'spanOutOfRange', 'spanOutOfRange', 'tooFewValues'};
for k = 1:numel (bad)
  t = expect_error (t, @() RatSurfShapeGradAtSpan ([0.3 0.6], 2, 1, U, V, w, bad{k}), ...
                    ['RatSurfShapeGradAtSpan:' ids{k}], sprintf ('spans %s', mat2str (bad{k})));
end
report (t);
