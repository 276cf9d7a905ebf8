function varargout = RatCurveEvalD2 (varargin)
% RATCURVEEVALD2  Value, first and second derivative of a scalar field on a NURBS curve.
%
%   [interp, interp_deriv, interp_deriv2] = RatCurveEvalD2(xi, p, knot, points, weights)
%
%   Evaluates f(xi) = sum of points(k) R(k)(xi) over the rational basis R of the curve, df/dxi
%   and d2f/dxi2 at the parametric point xi. The basis' second derivatives follow
%   R'' = (w N'' - 2 W' R' - W'' R) / W.
%
%   Inputs (real, full double arrays):
%     xi       the point; only xi(1) is read. A point within 2.220446049250313e-14 of the last
%              knot is evaluated that far below it; a point outside the knot range is
%              extrapolated with the first or last span's polynomials; NaN gives NaN.
%     p        the degree, p(1) truncated toward zero; 0 <= p <= 18.
%     knot     the knot vector, a row, non-decreasing, no NaN, with n = numel(knot) - p - 1
%              basis functions, n >= p + 1 and n >= 3.
%     points   the n control values of the field (any shape, read in column order).
%     weights  the n weights.
%
%   The end clamp's distance is absolute: with knot vectors of very small scale, or a last
%   non-empty span shorter than 2.220446049250313e-14, the point so moved can lie outside that
%   span. A knot vector may also be given as a 1-by-N-by-K array: its elements are read in order.
%
%   Outputs (scalars):
%     interp         f(xi)
%     interp_deriv   df/dxi
%     interp_deriv2  d2f/dxi2
%   A weight sum of 0 gives Inf or NaN, not an error.
%
%   Errors (identifier RatCurveEvalD2:<mnemonic>): notDouble, complex, sparse, tooFewValues,
%   degreeNotFinite, degreeNegative, degreeTooLarge, knotsNotRow, knotsTooShort, knotsNaN,
%   knotsDecreasing, tooManyOutputs. A wrong number of inputs raises the usage message.

% Runs only where no compiled plug-in of this name is found: a built one takes precedence over
% this file in its own folder (MATLAB and Octave alike) and anywhere earlier on the path.
error ('nurbsbasis:notBuilt', ['%s is not built for this platform: no compiled %s.%s was ' ...
       'found. Run build_mex in the folder that holds %s.m (help build_mex), then call it ' ...
       'again.'], mfilename (), mfilename (), mexext (), mfilename ());
end

%!test
%! % Control values at the Greville abscissae reproduce f(xi) = xi.
%! [f, df, d2f] = RatCurveEvalD2 (0.3, 2, [0 0 0 1 1 1], [0 0.5 1], [1 1 1]);
%! assert ([f df d2f], [0.3 1 0], 8 * eps);
%!error id=RatCurveEvalD2:notDouble RatCurveEvalD2 (0.3, 2, [0 0 0 1 1 1], int32 ([0 1 2]), [1 1 1])
