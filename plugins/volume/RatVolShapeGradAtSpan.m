function varargout = RatVolShapeGradAtSpan (varargin)
% RATVOLSHAPEGRADATSPAN  RatVolShapeGrad at knot spans given by the caller.
%
%   [R, dRdxi, dRdeta, dRdzeta] = RatVolShapeGradAtSpan(xi, p, q, r, knotU, knotV, knotW, weights, spans)
%
%   At the parametric point (xi(1), xi(2), xi(3)) of a NURBS volume of degrees p, q and r,
%   returns the (p+1)(q+1)(r+1) rational basis functions R = N M L w / W that do not vanish
%   there, and their derivatives along xi, eta and zeta.
%
%   Inputs (real, full double arrays):
%     xi       the point: xi(1) along knotU, xi(2) along knotV, xi(3) along knotW. A coordinate
%              within 2.220446049250313e-14 of its last knot is evaluated that far below it; one
%              outside its knot range is extrapolated; NaN gives NaN.
%     p, q, r  the degrees, first elements truncated toward zero; 0 <= p, q, r <= 18.
%     knotU    knots along xi, a row, non-decreasing, no NaN, with nu = numel(knotU) - p - 1
%              functions, nu >= p + 1 and nu >= 2.
%     knotV    knots along eta, likewise with nv functions.
%     knotW    knots along zeta, likewise with nw functions.
%     weights  nu*nv*nw weights, the xi index fastest, then eta, then zeta: an nu-by-nv-by-nw
%              array, or any shape in that column order.
%     spans    the knot spans of the point, 0-based as a span search gives them: spans(1..3)
%              along xi, eta and zeta, each from its degree to its function count - 1,
%              truncated toward zero. No search is made: a point outside its span is evaluated
%              with that span's polynomial pieces. With the spans the search would find, the
%              outputs equal RatVolShapeGrad's bit for bit.
%
%   The end clamp's distance is absolute: with knot vectors of very small scale, or a last
%   non-empty span shorter than 2.220446049250313e-14, the point so moved can lie outside that
%   span. A knot vector may also be given as a 1-by-N-by-K array: its elements are read in order.
%
%   Outputs (1-by-(p+1)(q+1)(r+1) rows, entry k + j(p+1) + i(p+1)(q+1) + 1 for the local
%   functions k along xi, j along eta and i along zeta, k fastest):
%     R        rational basis functions; they sum to 1.
%     dRdxi    derivatives along xi; they sum to 0.
%     dRdeta   derivatives along eta; they sum to 0.
%     dRdzeta  derivatives along zeta; they sum to 0.
%   A weight sum of 0 gives Inf or NaN, not an error.
%
%   Errors (identifier RatVolShapeGradAtSpan:<mnemonic>): notDouble, complex, sparse, tooFewValues,
%   degreeNotFinite, degreeNegative, degreeTooLarge, knotsNotRow, knotsTooShort, knotsNaN,
%   knotsDecreasing, spanOutOfRange, tooManyOutputs. A wrong number of inputs raises the usage
%   message.

% Runs only where no compiled plug-in of this name is found: a built one takes precedence over
% this file in its own folder (MATLAB and Octave alike) and anywhere earlier on the path.
error ('nurbsbasis:notBuilt', ['%s is not built for this platform: no compiled %s.%s was ' ...
       'found. Run build_mex in the folder that holds %s.m (help build_mex), then call it ' ...
       'again.'], mfilename (), mfilename (), mexext (), mfilename ());
end

%!test
%! U = [0 0 0.5 1 1];
%! R = RatVolShapeGradAtSpan ([0.2 0.7 0.4], 1, 1, 1, U, U, U, ones (3, 3, 3), [1 2 1]);
%! assert (R, RatVolShapeGrad ([0.2 0.7 0.4], 1, 1, 1, U, U, U, ones (3, 3, 3)));
%!error id=RatVolShapeGradAtSpan:spanOutOfRange RatVolShapeGradAtSpan ([0.2 0.7 0.4], 1, 1, 1, [0 0 0.5 1 1], [0 0 0.5 1 1], [0 0 0.5 1 1], ones (3, 3, 3), [1 2 3])
