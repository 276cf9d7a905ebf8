function varargout = RatCurveShapeGradBatch (varargin)
% RATCURVESHAPEGRADBATCH  RatCurveShapeGrad at many points in one call.
%
%   [R, dRdxi, idx] = RatCurveShapeGradBatch(xi, p, knot, weights)
%
%   Evaluates RatCurveShapeGrad at every point of xi in one call: xi is a vector of P parametric
%   points, a row or a column (or empty). Row j of every output is, bit for bit, what
%   RatCurveShapeGrad(xi(j), p, knot, weights) returns, for every valid input and whatever the
%   number of threads used.
%
%   The last output, idx, gives the 1-based positions in weights of each row's functions:
%   weights(idx(j, :)) are their weights, Px(idx) the control values of every row (for a vector
%   or an array Px laid out like the weights), and K(idx(j, :), idx(j, :)) the block of a global
%   matrix that row j's functions assemble into.
%
%   Inputs: as for RatCurveShapeGrad (help RatCurveShapeGrad), except
%     xi       P points (a 1-by-N-by-K array is read as its elements in order).
%   The knot vectors are checked whole, whatever their length, once for all points.
%
%   Outputs (P-by-(p+1) matrices, row j for point j, columns in RatCurveShapeGrad's
%   order):
%     R        row j as RatCurveShapeGrad's R at point j
%     dRdxi    row j as RatCurveShapeGrad's dRdxi at point j
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
%   Errors (identifier RatCurveShapeGradBatch:<mnemonic>): those of RatCurveShapeGrad, and
%   pointsShape, tooManyPoints, outOfMemory (outputs larger than the memory gives:
%   fewer points a call). A wrong number of inputs raises the usage message.
%
%   Example: a quarter circle of radius 1 at 101 points
%     knot = [0 0 0 1 1 1]; w = [1 1/sqrt(2) 1]; X = [1; 1; 0]; Y = [0; 1; 1];
%     [R, dRdxi, idx] = RatCurveShapeGradBatch(linspace(0, 1, 101), 2, knot, w);
%     x = sum(R .* X(idx), 2); y = sum(R .* Y(idx), 2);   % x.^2 + y.^2 == 1

% Runs only where no compiled plug-in of this name is found: a built one takes precedence over
% this file in its own folder (MATLAB and Octave alike) and anywhere earlier on the path.
error ('nurbsbasis:notBuilt', ['%s is not built for this platform: no compiled %s.%s was ' ...
       'found. Run build_mex in the folder that holds %s.m (help build_mex), then call it ' ...
       'again.'], mfilename (), mfilename (), mexext (), mfilename ());
end

%!test
%! xi = [0 0.3 1]; args = {2, [0 0 0 0.5 1 1 1], [1 0.8 1.2 1]};
%! a = {xi, args{:}}; [o1, o2, idx] = RatCurveShapeGradBatch (a{:});
%! for j = 1:3
%!   b = {xi(j), args{:}}; [p1, p2] = RatCurveShapeGrad (b{:});
%!   assert ([o1(j, :); o2(j, :)], [p1; p2]);
%! end
%! assert (idx(1, :), [1 2 3]);
%!error id=RatCurveShapeGradBatch:pointsShape RatCurveShapeGradBatch ([0.1 0.2; 0.3 0.4], 2, [0 0 0 0.5 1 1 1], [1 1 1 1])
