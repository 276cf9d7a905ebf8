function varargout = RatCurveEvalD2Batch (varargin)
% RATCURVEEVALD2BATCH  RatCurveEvalD2 at many points in one call.
%
%   [interp, interp_deriv, interp_deriv2] = RatCurveEvalD2Batch(xi, p, knot, points, weights)
%
%   Evaluates RatCurveEvalD2 at every point of xi in one call: xi is a vector of P parametric
%   points, a row or a column (or empty). Row j of every output is, bit for bit, what
%   RatCurveEvalD2(xi(j), p, knot, points, weights) returns, for every valid input and whatever the
%   number of threads used.
%
%   Inputs: as for RatCurveEvalD2 (help RatCurveEvalD2), except
%     xi       P points (a 1-by-N-by-K array is read as its elements in order).
%   The knot vectors are checked whole, whatever their length, once for all points.
%
%   Outputs (P-by-1 columns, entry j for point j):
%     interp       RatCurveEvalD2's interp at point j
%     interp_deriv RatCurveEvalD2's interp_deriv at point j
%     interp_deriv2RatCurveEvalD2's interp_deriv2 at point j
%   A NaN point or one outside the knot range gives the row the one-point call gives.
%
%   Threads: a call with enough work splits its points over the hardware's threads (only the
%   results' bits matter, and they do not depend on the split). The environment variable
%   NURBS_NUM_THREADS caps the count: a positive whole number in decimal digits, blanks around
%   it allowed, is the most threads a call uses (setenv('NURBS_NUM_THREADS', '1') makes calls
%   serial); unset or empty, there is no cap; any other value (0, -1, 3.5, 1e3, abc) makes
%   calls serial.
%
%   Errors (identifier RatCurveEvalD2Batch:<mnemonic>): those of RatCurveEvalD2, and pointsShape,
%   tooManyPoints, outOfMemory (outputs larger than the memory gives:
%   fewer points a call). A wrong number of inputs raises the usage message.
%
%   Example: a scalar field and its first two derivatives at 5 points
%     [f, df, d2f] = RatCurveEvalD2Batch(linspace(0, 1, 5), 2, [0 0 0 0.5 1 1 1], [0 1 4 9], ...
%                                        [1 0.8 1.2 1]);

% Runs only where no compiled plug-in of this name is found: a built one takes precedence over
% this file in its own folder (MATLAB and Octave alike) and anywhere earlier on the path.
error ('nurbsbasis:notBuilt', ['%s is not built for this platform: no compiled %s.%s was ' ...
       'found. Run build_mex in the folder that holds %s.m (help build_mex), then call it ' ...
       'again.'], mfilename (), mfilename (), mexext (), mfilename ());
end

%!test
%! xi = [0 0.3 1]; args = {2, [0 0 0 0.5 1 1 1], [0 1 4 9], [1 0.8 1.2 1]};
%! a = {xi, args{:}}; [o1, o2, o3] = RatCurveEvalD2Batch (a{:});
%! for j = 1:3
%!   b = {xi(j), args{:}}; [p1, p2, p3] = RatCurveEvalD2 (b{:});
%!   assert ([o1(j, :); o2(j, :); o3(j, :)], [p1; p2; p3]);
%! end
%!error id=RatCurveEvalD2Batch:pointsShape RatCurveEvalD2Batch ([0.1 0.2; 0.3 0.4], 2, [0 0 0 0.5 1 1 1], [0 1 4 9], [1 1 1 1])
