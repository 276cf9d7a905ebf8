function varargout = RatCurveShapeGrad (varargin)
% RATCURVESHAPEGRAD  Rational basis functions of a NURBS curve and their first derivatives.
%
%   [R, dRdxi] = RatCurveShapeGrad(xi, p, knot, weights)
%
%   At the parametric point xi of a NURBS curve of degree p, returns the p + 1 rational basis
%   functions that do not vanish there, R(k) = N(k) w(k) / W, and their derivatives
%   dRdxi(k) = (N'(k) W - N(k) W') w(k) / W^2, W = sum of w(k) N(k).
%
%   Inputs (real, full double arrays):
%     xi       the point; only xi(1) is read. A point within 2.220446049250313e-14 of the last
%              knot is evaluated that far below it, in the last non-empty span. A point outside
%              the knot range is not rejected: the first or last span's polynomials are
%              extrapolated. NaN gives NaN.
%     p        the degree, p(1) truncated toward zero; 0 <= p <= 18.
%     knot     the knot vector, a row, non-decreasing, no NaN, with n = numel(knot) - p - 1
%              basis functions, n >= p + 1 and n >= 2.
%     weights  the n weights, one per basis function (any shape, read in column order).
%
%   The end clamp's distance is absolute: with knot vectors of very small scale, or a last
%   non-empty span shorter than 2.220446049250313e-14, the point so moved can lie outside that
%   span. A knot vector may also be given as a 1-by-N-by-K array: its elements are read in order.
%
%   Outputs (1-by-(p+1) rows, functions s-p .. s of the knot span s holding xi, in order):
%     R        rational basis functions at xi; they sum to 1.
%     dRdxi    their derivatives with respect to xi; they sum to 0.
%   A weight sum of 0 gives Inf or NaN, not an error.
%
%   Errors (identifier RatCurveShapeGrad:<mnemonic>): notDouble, complex, sparse, tooFewValues
%   (xi, p or weights too short), degreeNotFinite, degreeNegative, degreeTooLarge, knotsNotRow,
%   knotsTooShort, knotsNaN, knotsDecreasing, tooManyOutputs. A wrong number of inputs raises
%   the usage message.
%
%   Example: a quarter circle of radius 1
%     knot = [0 0 0 1 1 1]; w = [1 1/sqrt(2) 1];
%     R = RatCurveShapeGrad(0.5, 2, knot, w);
%     x = R * [1; 1; 0]; y = R * [0; 1; 1];   % x^2 + y^2 == 1

% Runs only where no compiled plug-in of this name is found: a built one takes precedence over
% this file in its own folder (MATLAB and Octave alike) and anywhere earlier on the path.
error ('nurbsbasis:notBuilt', ['%s is not built for this platform: no compiled %s.%s was ' ...
       'found. Run build_mex in the folder that holds %s.m (help build_mex), then call it ' ...
       'again.'], mfilename (), mfilename (), mexext (), mfilename ());
end

%!test
%! [R, dRdxi] = RatCurveShapeGrad (0.5, 2, [0 0 0 1 1 1], [1 1/sqrt(2) 1]);
%! assert (R, [1 - 1/sqrt(2), sqrt(2) - 1, 1 - 1/sqrt(2)], 4 * eps);
%! assert (sum (dRdxi), 0, 4 * eps);
%!error id=RatCurveShapeGrad:knotsDecreasing RatCurveShapeGrad (0.5, 2, [0 0 1 0.5 1 1], [1 1 1])
