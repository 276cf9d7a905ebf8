function varargout = RatSingleShape (varargin)
% RATSINGLESHAPE  One rational basis function of a NURBS curve and its derivative.
%
%   [Nip, dNipdxi] = RatSingleShape(i, p, xi, knot, weights)
%
%   Returns the i-th (counting from 1) rational basis function of a NURBS curve of degree p,
%   R_i = N_i w_i / W, and its derivative, at the parametric point xi. W and W' are the weight
%   function of the span holding xi; a function whose support does not hold xi gives 0 and 0.
%
%   Inputs (real, full double arrays):
%     i        the function's index, i(1) truncated toward zero, 1 <= i <= n.
%     p        the degree, p(1) truncated toward zero; 0 <= p <= 18. At degree 0 the
%              derivative is 0.
%     xi       the point; only xi(1) is read. A point within 2.220446049250313e-14 of the last
%              knot is evaluated that far below it (so the last function is just below 1 there).
%              A point outside the function's support gives 0 and 0, also outside the knot
%              range: the one function is not extrapolated, unlike the other plug-ins' bases.
%              NaN gives NaN.
%     knot     the knot vector, a row, non-decreasing, no NaN, with n = numel(knot) - p - 1
%              basis functions, n >= p + 1.
%     weights  the n weights (any shape, read in column order).
%
%   The end clamp's distance is absolute: with knot vectors of very small scale, or a last
%   non-empty span shorter than 2.220446049250313e-14, the point so moved can lie outside that
%   span. A knot vector may also be given as a 1-by-N-by-K array: its elements are read in order.
%
%   Outputs (scalars):
%     Nip      R_i(xi)
%     dNipdxi  dR_i/dxi
%   A weight sum of 0 gives Inf or NaN, not an error.
%
%   Errors (identifier RatSingleShape:<mnemonic>): notDouble, complex, sparse, tooFewValues,
%   degreeNotFinite, degreeNegative, degreeTooLarge, knotsNotRow, knotsTooShort, knotsNaN,
%   knotsDecreasing, indexOutOfRange, tooManyOutputs. A wrong number of inputs raises the
%   usage message.

% Runs only where no compiled plug-in of this name is found: a built one takes precedence over
% this file in its own folder (MATLAB and Octave alike) and anywhere earlier on the path.
error ('nurbsbasis:notBuilt', ['%s is not built for this platform: no compiled %s.%s was ' ...
       'found. Run build_mex in the folder that holds %s.m (help build_mex), then call it ' ...
       'again.'], mfilename (), mfilename (), mexext (), mfilename ());
end

%!test
%! [N2, dN2] = RatSingleShape (2, 2, 0.5, [0 0 0 1 1 1], [1 1 1]);
%! assert ([N2 dN2], [0.5 0], 4 * eps);
%! assert (RatSingleShape (1, 2, 0.7, [0 0 0 0.5 1 1 1], [1 1 1 1]), 0);   % outside its support
%! assert (RatSingleShape (4, 2, 1.5, [0 0 0 0.5 1 1 1], [1 1 1 1]), 0);   % not extrapolated
%!error id=RatSingleShape:indexOutOfRange RatSingleShape (5, 2, 0.5, [0 0 0 0.5 1 1 1], [1 1 1 1])
