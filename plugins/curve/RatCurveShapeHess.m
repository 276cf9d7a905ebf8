function varargout = RatCurveShapeHess (varargin)
% RATCURVESHAPEHESS  Rational curve basis functions with first and second derivatives.
%
%   [R, dRdxi, dR2dxi] = RatCurveShapeHess(xi, p, knot, weights)
%
%   At the parametric point xi of a NURBS curve of degree p, returns the p + 1 rational basis
%   functions that do not vanish there, R(k) = N(k) w(k) / W, their first derivatives and their
%   second derivatives
%     dR2dxi(k) = w(k) (N''(k)/W - 2 N'(k) W'/W^2 - N(k) W''/W^2 + 2 N(k) W'^2/W^3).
%
%   Inputs (real, full double arrays):
%     xi       the point; only xi(1) is read. A point within 2.220446049250313e-14 of the last
%              knot is evaluated that far below it; a point outside the knot range is
%              extrapolated with the first or last span's polynomials; NaN gives NaN.
%     p        the degree, p(1) truncated toward zero; 0 <= p <= 18.
%     knot     the knot vector, a row, non-decreasing, no NaN, with n = numel(knot) - p - 1
%              basis functions, n >= p + 1 and n >= 3.
%     weights  the n weights, one per basis function (any shape, read in column order).
%
%   The end clamp's distance is absolute: with knot vectors of very small scale, or a last
%   non-empty span shorter than 2.220446049250313e-14, the point so moved can lie outside that
%   span. A knot vector may also be given as a 1-by-N-by-K array: its elements are read in order.
%
%   Outputs (1-by-(p+1) rows, functions s-p .. s of the knot span s holding xi, in order):
%     R        rational basis functions; they sum to 1.
%     dRdxi    first derivatives; they sum to 0.
%     dR2dxi   second derivatives; they sum to 0.
%   A weight sum of 0 gives Inf or NaN, not an error.
%
%   Errors (identifier RatCurveShapeHess:<mnemonic>): notDouble, complex, sparse, tooFewValues,
%   degreeNotFinite, degreeNegative, degreeTooLarge, knotsNotRow, knotsTooShort, knotsNaN,
%   knotsDecreasing, tooManyOutputs. A wrong number of inputs raises the usage message.

% Runs only where no compiled plug-in of this name is found: a built one takes precedence over
% this file in its own folder (MATLAB and Octave alike) and anywhere earlier on the path.
error ('nurbsbasis:notBuilt', ['%s is not built for this platform: no compiled %s.%s was ' ...
       'found. Run build_mex in the folder that holds %s.m (help build_mex), then call it ' ...
       'again.'], mfilename (), mfilename (), mexext (), mfilename ());
end

%!test
%! [R, dRdxi, dR2dxi] = RatCurveShapeHess (0.5, 2, [0 0 0 1 1 1], [1 1 1]);
%! assert ([R; dRdxi; dR2dxi], [0.25 0.5 0.25; -1 0 1; 2 -4 2], 8 * eps);
%!error id=RatCurveShapeHess:knotsTooShort RatCurveShapeHess (0.5, 2, [0 0 0 1 1], [1 1])
