function varargout = RatCurveShapeHessBatch (varargin)
% RATCURVESHAPEHESSBATCH  RatCurveShapeHess at many points in one call.
%
%   [R, dRdxi, dR2dxi, idx] = RatCurveShapeHessBatch(xi, p, knot, weights)
%
%   Evaluates RatCurveShapeHess at every point of xi in one call: xi is a vector of P parametric
%   points, a row or a column (or empty). Row j of every output is, bit for bit, what
%   RatCurveShapeHess(xi(j), p, knot, weights) returns, for every valid input and whatever the
%   number of threads used.
%
%   The last output, idx, gives the 1-based positions in weights of each row's functions:
%   weights(idx(j, :)) are their weights, Px(idx) the control values of every row (for a vector
%   or an array Px laid out like the weights), and K(idx(j, :), idx(j, :)) the block of a global
%   matrix that row j's functions assemble into.
%
%   Inputs: as for RatCurveShapeHess (help RatCurveShapeHess), except
%     xi       P points (a 1-by-N-by-K array is read as its elements in order).
%   The knot vectors are checked whole, whatever their length, once for all points.
%
%   Outputs (P-by-(p+1) matrices, row j for point j, columns in RatCurveShapeHess's
%   order):
%     R        row j as RatCurveShapeHess's R at point j
%     dRdxi    row j as RatCurveShapeHess's dRdxi at point j
%     dR2dxi   row j as RatCurveShapeHess's dR2dxi at point j
%     idx      idx(j, e) is the position in weights of row j's e-th function
%   A NaN point or one outside the knot range gives the row the one-point call gives.
%
%   Threads: a call with enough work splits its points over the hardware's threads (only the
%   results' bits matter, and they do not depend on the split). The environment variable
%   NURBS_NUM_THREADS caps the count: a positive whole number in decimal digits, blanks around
%   it allowed, is the most threads a call uses (setenv('NURBS_NUM_THREADS', '1') makes calls
%   serial); unset or empty, there is no cap; any other value (0, -1, 3.5, 1e3, abc) makes
%   calls serial.
%
%   Errors (identifier RatCurveShapeHessBatch:<mnemonic>): those of RatCurveShapeHess, and
%   pointsShape, tooManyPoints, outOfMemory (outputs larger than the memory gives:
%   fewer points a call). A wrong number of inputs raises the usage message.
%
%   Example: the curvature of a quarter circle of radius 1 at 101 points
%     knot = [0 0 0 1 1 1]; w = [1 1/sqrt(2) 1]; X = [1; 1; 0]; Y = [0; 1; 1];
%     [R, d1, d2, idx] = RatCurveShapeHessBatch(linspace(0, 1, 101), 2, knot, w);
%     dx = sum(d1 .* X(idx), 2); dy = sum(d1 .* Y(idx), 2);
%     ddx = sum(d2 .* X(idx), 2); ddy = sum(d2 .* Y(idx), 2);
%     kappa = abs(dx .* ddy - dy .* ddx) ./ hypot(dx, dy).^3;   % 1

% Runs only where no compiled plug-in of this name is found: a built one takes precedence over
% this file in its own folder (MATLAB and Octave alike) and anywhere earlier on the path.
error ('nurbsbasis:notBuilt', ['%s is not built for this platform: no compiled %s.%s was ' ...
       'found. Run build_mex in the folder that holds %s.m (help build_mex), then call it ' ...
       'again.'], mfilename (), mfilename (), mexext (), mfilename ());
end

%!test
%! xi = [0 0.3 1]; args = {2, [0 0 0 0.5 1 1 1], [1 0.8 1.2 1]};
%! a = {xi, args{:}}; [o1, o2, o3, idx] = RatCurveShapeHessBatch (a{:});
%! for j = 1:3
%!   b = {xi(j), args{:}}; [p1, p2, p3] = RatCurveShapeHess (b{:});
%!   assert ([o1(j, :); o2(j, :); o3(j, :)], [p1; p2; p3]);
%! end
%! assert (idx(1, :), [1 2 3]);
%!error id=RatCurveShapeHessBatch:pointsShape RatCurveShapeHessBatch ([0.1 0.2; 0.3 0.4], 2, [0 0 0 0.5 1 1 1], [1 1 1 1])
