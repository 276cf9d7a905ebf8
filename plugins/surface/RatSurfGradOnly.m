function varargout = RatSurfGradOnly (varargin)
% RATSURFGRADONLY  First derivatives of the rational basis functions of a NURBS surface.
%
%   [dRdxi, dRdeta] = RatSurfGradOnly(xi, p, q, knotU, knotV, weights)
%
%   At the parametric point (xi(1), xi(2)) of a NURBS surface of degrees p along xi and q along
%   eta, returns the derivatives along xi and eta of the (p+1)(q+1) rational basis functions
%   R = N M w / W that do not vanish there, without R itself: bit for bit outputs 2 and 3 of
%   RatSurfShapeGrad.
%
%   Inputs (real, full double arrays):
%     xi       the point: xi(1) along knotU, xi(2) along knotV. A coordinate within
%              2.220446049250313e-14 of its last knot is evaluated that far below it; one outside
%              its knot range is extrapolated; NaN gives NaN.
%     p, q     the degrees, p(1) and q(1) truncated toward zero; 0 <= p, q <= 18.
%     knotU    knots along xi, a row, non-decreasing, no NaN, with nu = numel(knotU) - p - 1
%              functions, nu >= p + 1 and nu >= 2.
%     knotV    knots along eta, likewise with nv = numel(knotV) - q - 1.
%     weights  nu*nv weights, the xi index fastest: an nu-by-nv matrix, or any shape in that
%              column order.
%
%   The end clamp's distance is absolute: with knot vectors of very small scale, or a last
%   non-empty span shorter than 2.220446049250313e-14, the point so moved can lie outside that
%   span. A knot vector may also be given as a 1-by-N-by-K array: its elements are read in order.
%
%   Outputs (1-by-(p+1)(q+1) rows, entry k + j(p+1) + 1 for the k-th function along xi and the
%   j-th along eta of the spans holding the point, k = 0..p fastest):
%     dRdxi    derivatives along xi; they sum to 0.
%     dRdeta   derivatives along eta; they sum to 0.
%   A weight sum of 0 gives Inf or NaN, not an error.
%
%   Errors (identifier RatSurfGradOnly:<mnemonic>): notDouble, complex, sparse, tooFewValues,
%   degreeNotFinite, degreeNegative, degreeTooLarge, knotsNotRow, knotsTooShort, knotsNaN,
%   knotsDecreasing, tooManyOutputs. A wrong number of inputs raises the usage message.

% Runs only where no compiled plug-in of this name is found: a built one takes precedence over
% this file in its own folder (MATLAB and Octave alike) and anywhere earlier on the path.
error ('nurbsbasis:notBuilt', ['%s is not built for this platform: no compiled %s.%s was ' ...
       'found. Run build_mex in the folder that holds %s.m (help build_mex), then call it ' ...
       'again.'], mfilename (), mfilename (), mexext (), mfilename ());
end

%!test
%! [dRdxi, dRdeta] = RatSurfGradOnly ([0.25 0.5], 1, 1, [0 0 1 1], [0 0 1 1], ones (2));
%! assert ([dRdxi; dRdeta], [-0.5 0.5 -0.5 0.5; -0.75 -0.25 0.75 0.25], 4 * eps);
%!error id=RatSurfGradOnly:tooManyOutputs [a, b, c] = RatSurfGradOnly ([0.25 0.5], 1, 1, [0 0 1 1], [0 0 1 1], ones (2));
