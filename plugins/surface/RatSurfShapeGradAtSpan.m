function varargout = RatSurfShapeGradAtSpan (varargin)
% RATSURFSHAPEGRADATSPAN  RatSurfShapeGrad at knot spans given by the caller.
%
%   [R, dRdxi, dRdeta] = RatSurfShapeGradAtSpan(xi, p, q, knotU, knotV, weights, spans)
%
%   At the parametric point (xi(1), xi(2)) of a NURBS surface of degrees p along xi and q along
%   eta, returns the (p+1)(q+1) rational basis functions that do not vanish there,
%   R = N M w / W, and their derivatives along xi and eta.
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
%     spans    the knot spans of the point, 0-based as a span search gives them: spans(1) along
%              xi with p <= spans(1) <= nu - 1, spans(2) along eta with q <= spans(2) <= nv - 1;
%              truncated toward zero. No search is made: a point outside its span is evaluated
%              with that span's polynomial pieces. With the spans the search would find, the
%              outputs equal RatSurfShapeGrad's bit for bit.
%
%   The end clamp's distance is absolute: with knot vectors of very small scale, or a last
%   non-empty span shorter than 2.220446049250313e-14, the point so moved can lie outside that
%   span. A knot vector may also be given as a 1-by-N-by-K array: its elements are read in order.
%
%   Outputs (1-by-(p+1)(q+1) rows, entry k + j(p+1) + 1 for the k-th function along xi and the
%   j-th along eta of the spans holding the point, k = 0..p fastest):
%     R        rational basis functions; they sum to 1.
%     dRdxi    derivatives along xi; they sum to 0.
%     dRdeta   derivatives along eta; they sum to 0.
%   A weight sum of 0 gives Inf or NaN, not an error.
%
%   Errors (identifier RatSurfShapeGradAtSpan:<mnemonic>): notDouble, complex, sparse, tooFewValues,
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
%! U = [0 0 0 0.5 1 1 1];
%! R = RatSurfShapeGradAtSpan ([0.3 0.6], 2, 2, U, U, ones (4), [2 3]);
%! assert (R, RatSurfShapeGrad ([0.3 0.6], 2, 2, U, U, ones (4)));
%!error id=RatSurfShapeGradAtSpan:spanOutOfRange RatSurfShapeGradAtSpan ([0.3 0.6], 2, 2, [0 0 0 0.5 1 1 1], [0 0 0 0.5 1 1 1], ones (4), [1 3])
