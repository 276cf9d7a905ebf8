% RatCurveShapeGrad in the real host: against Octave's nurbs package, errors as Octave shows them,
% output counts, and many calls in a row.
pkg load nurbs
t = harness ();
tol = 2.220446049250313e-14;
rand ('seed', 42);

% Random curves: B-spline values and derivatives from the nurbs package, made rational here.
worst = 0;
for c = 1:300
  p = mod (c, 6);
  n = p + 2 + floor (rand * 10);
  [U, w] = random_curve (p, n);
  xi = rand;
  if (mod (c, 25) == 0), xi = 1; end
  u = xi;
  if (abs (u - U(end)) < tol), u = U(end) - tol; end
  s = findspan (n - 1, p, u, U);
  d = reshape (basisfunder (s, p, u, U, 1), 2, p + 1);
  ww = w(s - p + 1:s + 1);
  W = sum (ww .* d(1,:));
  dW = sum (ww .* d(2,:));
  Rref = d(1,:) .* ww / W;
  dRref = (d(2,:) * W - d(1,:) * dW) .* ww / W^2;
  [R, dR] = RatCurveShapeGrad (xi, p, U, w);
  err = max (norm (R - Rref, Inf) / norm (Rref, Inf), ...
             norm (dR - dRref, Inf) / max (norm (dRref, Inf), 1));
  worst = max (worst, err);
  t = expect (t, size (R, 1) == 1 && size (R, 2) == p + 1 && size (dR, 2) == p + 1, ...
              sprintf ('curve %d: output sizes', c));
  t = expect (t, err < 1e-13, sprintf ('curve %d (p = %d): relative difference %g', c, p, err));
end
printf ('worst relative difference from the nurbs package over 300 curves: %.3g\n', worst);

% A quarter circle, and its end point just inside the last span.
knot = [0 0 0 1 1 1]; w = [1 1/sqrt(2) 1];
for xi = linspace (0, 1, 33)
  R = RatCurveShapeGrad (xi, 2, knot, w);
  t = expect (t, abs (norm (R * [1 0; 1 1; 0 1]) - 1) < 1e-15, sprintf ('radius at %g', xi));
end
t = expect (t, isequal (RatCurveShapeGrad (1, 2, knot, w), RatCurveShapeGrad (1 - tol, 2, knot, w)), ...
            'the last knot is evaluated at last knot - tol');

% Outputs: ans takes slot 0; asking for more than two is an error.
RatCurveShapeGrad (0.5, 2, knot, w);
t = expect (t, isequal (ans, RatCurveShapeGrad (0.5, 2, knot, w)), 'nargout 0 sets ans');
[R, dR] = RatCurveShapeGrad (0.5, 2, knot, w);
t = expect (t, abs (sum (dR)) < 1e-15 && abs (sum (R) - 1) < 1e-15, 'two outputs');
try
  [a, b, c] = RatCurveShapeGrad (0.5, 2, knot, w);
  t = expect (t, false, 'three outputs accepted');
catch e
  t = expect (t, strcmp (e.identifier, 'RatCurveShapeGrad:tooManyOutputs'), ['three outputs: ' e.message]);
end

% One output, many times: a plug-in that stored its second output anyway would corrupt the heap.
acc = 0;
for k = 1:20000
  acc += sum (RatCurveShapeGrad (mod (k, 97) / 97, 2, knot, w));
end
t = expect (t, abs (acc - 20000) < 1e-9, 'twenty thousand one-output calls');

% The caller's arrays are never written.
xi0 = 0.3; p0 = 2;
copies = cellfun (@unshared, {xi0, p0, knot, w}, 'UniformOutput', false);
[R, dR] = RatCurveShapeGrad (xi0, p0, knot, w);
t = expect (t, isequal (copies, {xi0, p0, knot, w}), 'inputs unchanged');

% Errors: the usage message through mexErrMsgTxt, every check with its identifier.
try
  RatCurveShapeGrad (0.5, 2, knot);
  t = expect (t, false, 'three inputs accepted');
catch e
  t = expect (t, strcmp (e.message, ['RatCurveShapeGrad: 4 inputs expected, as in ' ...
                                     '[R, dRdxi] = RatCurveShapeGrad(xi, p, knot, weights)']), ...
              ['usage message: ' e.message]);
end
[t, e] = expect_error (t, @() RatCurveShapeGrad (0.5, 2, [0 0 0 0.7 0.3 1 1 1], ones (1, 5)), ...
                       'RatCurveShapeGrad:knotsDecreasing', 'decreasing knots');
t = expect (t, strcmp (e.message, ...
            'RatCurveShapeGrad: knot must be non-decreasing, found knot(5) < knot(4).'), ...
            ['message as Octave shows it: ' e.message]);
bad = {
  'notDouble',       {0.5, int32(2), knot, w}
  'notDouble',       {single(0.5), 2, knot, w}
  'notDouble',       {0.5, 2, knot, w > 0}
  'notDouble',       {0.5, 2, 'abcdef', w}
  'notDouble',       {{0.5}, 2, knot, w}
  'notDouble',       {0.5, 2, knot, struct('w', w)}
  'complex',         {0.5 + 1i, 2, knot, w}
  'sparse',          {0.5, 2, sparse(knot), w}
  'tooFewValues',    {[], 2, knot, w}
  'tooFewValues',    {0.5, [], knot, w}
  'tooFewValues',    {0.5, 2, knot, w(1:2)}
  'degreeNotFinite', {0.5, NaN, knot, w}
  'degreeNotFinite', {0.5, Inf, knot, w}
  'degreeNegative',  {0.5, -3, knot, w}
  'degreeTooLarge',  {0.5, 1e9, knot, w}
  'knotsNotRow',     {0.5, 2, knot', w}
  'knotsNotRow',     {0.5, 2, [knot; knot], w}
  'knotsTooShort',   {0.5, 2, [0 0 1 1 1], w}
  'knotsNaN',        {0.5, 2, [0 0 0 NaN 1 1 1], [w 1]}
  'knotsDecreasing', {0.5, 2, fliplr(knot), w}
};
for k = 1:rows (bad)
  args = bad{k, 2};
  t = expect_error (t, @() RatCurveShapeGrad (args{:}), ['RatCurveShapeGrad:' bad{k, 1}], ...
                    sprintf ('bad call %d (%s)', k, bad{k, 1}));
end

% Odd but safe: extrapolation, NaN point, zero weights, fractional degree.
R = RatCurveShapeGrad (-0.5, 2, knot, [1 1 1]);
t = expect (t, abs (R(1) - 2.25) < 1e-15, 'extrapolated below the knot range');
t = expect (t, all (isnan (RatCurveShapeGrad (NaN, 2, knot, w))), 'NaN point gives NaN');
t = expect (t, all (isnan (RatCurveShapeGrad (0.5, 2, knot, [0 0 0]))), 'zero weights give NaN');
t = expect (t, isequal (RatCurveShapeGrad (0.5, 2.9, knot, w), RatCurveShapeGrad (0.5, 2, knot, w)), ...
            'degree 2.9 reads as 2');

% help works from the file beside the binary.
t = expect (t, ! isempty (strfind (evalc ('help RatCurveShapeGrad'), ...
                                   '[R, dRdxi] = RatCurveShapeGrad(xi, p, knot, weights)')), 'help text');
report (t);
