function varargout = RatSurfShapeHess (varargin)
% RATSURFSHAPEHESS  Rational surface basis with first and second derivatives.
%
%   [R, dRdxi, dRdeta, dR2dxi, dR2deta, dR2dxideta] = RatSurfShapeHess(xi, p, q, knotU, knotV, weights)
%
%   At the parametric point (xi(1), xi(2)) of a NURBS surface of degrees p and q, returns the
%   (p+1)(q+1) rational basis functions R = N M w / W that do not vanish there, their first
%   derivatives (bit for bit those of RatSurfShapeGrad), and their second derivatives
%   d2R/dxi2, d2R/deta2 and d2R/dxideta.
%
%   Inputs (real, full double arrays):
%     xi       the point: xi(1) along knotU, xi(2) along knotV. A coordinate within
%              2.220446049250313e-14 of its last knot is evaluated that far below it; one outside
%              its knot range is extrapolated; NaN gives NaN.
%     p, q     the degrees, p(1) and q(1) truncated toward zero; 0 <= p, q <= 18.
%     knotU    knots along xi, a row, non-decreasing, no NaN, with nu = numel(knotU) - p - 1
%              functions, nu >= p + 1 and nu >= 3.
%     knotV    knots along eta, likewise with nv = numel(knotV) - q - 1, nv >= 3.
%     weights  nu*nv weights, the xi index fastest: an nu-by-nv matrix, or any shape in that
%              column order.
%
%   The end clamp's distance is absolute: with knot vectors of very small scale, or a last
%   non-empty span shorter than 2.220446049250313e-14, the point so moved can lie outside that
%   span. A knot vector may also be given as a 1-by-N-by-K array: its elements are read in order.
%
%   Outputs (1-by-(p+1)(q+1) rows, entry k + j(p+1) + 1, k = 0..p along xi fastest):
%     R            rational basis functions; they sum to 1.
%     dRdxi        first derivatives along xi.
%     dRdeta       first derivatives along eta.
%     dR2dxi       second derivatives along xi.
%     dR2deta      second derivatives along eta.
%     dR2dxideta   mixed second derivatives.
%   The derivative rows sum to 0. A weight sum of 0 gives Inf or NaN, not an error.
%
%   Errors (identifier RatSurfShapeHess:<mnemonic>): notDouble, complex, sparse, tooFewValues,
%   degreeNotFinite, degreeNegative, degreeTooLarge, knotsNotRow, knotsTooShort, knotsNaN,
%   knotsDecreasing, tooManyOutputs. A wrong number of inputs raises the usage message.

% Runs only where no compiled plug-in of this name is found: a built one takes precedence over
% this file in its own folder (MATLAB and Octave alike) and anywhere earlier on the path.
error ('nurbsbasis:notBuilt', ['%s is not built for this platform: no compiled %s.%s was ' ...
       'found. Run build_mex in the folder that holds %s.m (help build_mex), then call it ' ...
       'again.'], mfilename (), mfilename (), mexext (), mfilename ());
end

%!test
%! % Unit weights on Bernstein knots: the second derivatives are N'' M and N M''.
%! U = [0 0 0 1 1 1]; N = [0.25 0.5 0.25]; d2N = [2 -4 2];
%! [R, ~, ~, dR2dxi, dR2deta, dR2dxideta] = RatSurfShapeHess ([0.5 0.5], 2, 2, U, U, ones (3));
%! assert ([dR2dxi; dR2deta], [kron(N, d2N); kron(d2N, N)], 16 * eps);
%! assert (sum (dR2dxideta), 0, 16 * eps);
%!error id=RatSurfShapeHess:degreeNegative RatSurfShapeHess ([0.5 0.5], -1, 2, [0 0 0 1 1 1], [0 0 0 1 1 1], ones (3))
