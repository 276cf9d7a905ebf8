% RatSingleShape in the real host: against the nurbs package function by function, 0 outside
% the support, its fixed usage message, index errors.
pkg load nurbs
t = harness ();
rand ('seed', 13);
worst = 0;
for c = 1:100
  p = mod (c, 5) + 1;
  n = p + 1 + floor (rand * 6);
  [U, w] = random_curve (p, n);
  xi = rand;
  [Rr, dRr, ~, s] = rational_basis (xi, p, U, w);
  for i = 1:n
    [Nip, dNip] = RatSingleShape (i, p, xi, U, w);
    local = i - (s - p);
    if (local < 1 || local > p + 1)
      t = expect (t, Nip == 0 && dNip == 0, sprintf ('curve %d function %d outside', c, i));
    else
      e = max (relative_error (Nip, Rr(local)), relative_error (dNip, dRr(local)));
      worst = max (worst, e);
      t = expect (t, e < 1e-11, sprintf ('curve %d function %d: %g', c, i, e));
    end
  end
end
printf ('worst relative difference from the nurbs package over 100 curves: %.3g\n', worst);

knot = [0 0 0 0.5 1 1 1]; w = [1 2 1 1];
RatSingleShape (2, 2, 0.3, knot, w);
t = expect (t, ans > 0, 'nargout 0 sets ans');
t = expect (t, RatSingleShape (4, 2, 1, knot, w) < 1, 'the last function is just below 1 at the end');
[v, d] = RatSingleShape (1, 0, 0.2, [0 0.5 1], [1 1]);
t = expect (t, v == 1 && d == 0, 'degree 0: value 1, derivative 0');
try
  RatSingleShape (1, 2, 0.3, knot);
catch e
  t = expect (t, strcmp (e.message, ['RatSingleShape: You fool! You haven''t passed in 5 ' ...
              'arguments to the function.We expect it to be in the form [Nip] = ' ...
              'RatSingleShape(i, p, xi, knot, weights)']), ['usage: ' e.message]);
end
bad = {
  'indexOutOfRange', {0, 2, 0.3, knot, w}
  'indexOutOfRange', {5, 2, 0.3, knot, w}
  'indexOutOfRange', {NaN, 2, 0.3, knot, w}
  'tooFewValues',    {2, 2, 0.3, knot, w(1:3)}
  'knotsTooShort',   {1, 2, 0.3, [0 0 1 1 1], w}
};
for k = 1:rows (bad)
  args = bad{k, 2};
  t = expect_error (t, @() RatSingleShape (args{:}), ['RatSingleShape:' bad{k, 1}], ...
                    sprintf ('bad call %d (%s)', k, bad{k, 1}));
end
report (t);
