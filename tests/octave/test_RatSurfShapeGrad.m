% RatSurfShapeGrad in the real host: against tensor products of the nurbs package's B-splines,
% weights as a matrix, independent end clamps, errors and outputs.
pkg load nurbs
t = harness ();
rand ('seed', 21);
worst = 0;
for k = 1:200
  c = random_case (2, 5, 2);
  [Rr, dRr] = rational_tensor (c);
  [R, dRdxi, dRdeta] = RatSurfShapeGrad (c.x, c.p(1), c.p(2), c.U{1}, c.U{2}, c.w);
  e = max ([relative_error(R, Rr), relative_error(dRdxi, dRr{1}), relative_error(dRdeta, dRr{2})]);
  worst = max (worst, e);
  t = expect (t, numel (R) == prod (c.p + 1) && e < 1e-12, ...
              sprintf ('surface %d (p = %d, q = %d): %g', k, c.p(1), c.p(2), e));
  R2 = RatSurfShapeGrad (c.x, c.p(1), c.p(2), c.U{1}, c.U{2}, c.w(:)');
  t = expect (t, isequal (R, R2), sprintf ('surface %d: weights as a row', k));
end
printf ('worst relative difference from the nurbs package over 200 surfaces: %.3g\n', worst);

U = [0 0 0 0.5 1 1 1]; V = [0 0 0.25 1 1]; w = ones (4, 3);
tol = 2.220446049250313e-14;
t = expect (t, isequal (RatSurfShapeGrad ([1 0.3], 2, 1, U, V, w), ...
                        RatSurfShapeGrad ([1 - tol, 0.3], 2, 1, U, V, w)), 'xi clamped alone');
t = expect (t, isequal (RatSurfShapeGrad ([0.3 1], 2, 1, U, V, w), ...
                        RatSurfShapeGrad ([0.3, 1 - tol], 2, 1, U, V, w)), 'eta clamped alone');
RatSurfShapeGrad ([0.3 0.6], 2, 1, U, V, w);
t = expect (t, abs (sum (ans) - 1) < 1e-15, 'nargout 0 sets ans');
try
  [a, b, c, d] = RatSurfShapeGrad ([0.3 0.6], 2, 1, U, V, w);
  t = expect (t, false, 'four outputs accepted');
catch e
  t = expect (t, strcmp (e.identifier, 'RatSurfShapeGrad:tooManyOutputs'), e.message);
end
bad = {
  'tooFewValues',  {0.3, 2, 1, U, V, w}
  'tooFewValues',  {[0.3 0.6], 2, 1, U, V, ones(3, 3)}
  'knotsNotRow',   {[0.3 0.6], 2, 1, U, V', w}
  'knotsDecreasing', {[0.3 0.6], 2, 1, U, [0 0 0.5 0.25 1], w}
  'degreeNotFinite', {[0.3 0.6], 2, NaN, U, V, w}
  'notDouble',     {[0.3 0.6], 2, 1, U, V, single(w)}
};
for k = 1:rows (bad)
  args = bad{k, 2};
  t = expect_error (t, @() RatSurfShapeGrad (args{:}), ['RatSurfShapeGrad:' bad{k, 1}], ...
                    sprintf ('bad call %d (%s)', k, bad{k, 1}));
end
report (t);
