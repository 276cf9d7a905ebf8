function varargout = RatSurfShapeHessBatch (varargin)
% RATSURFSHAPEHESSBATCH  RatSurfShapeHess at many points in one call.
%
%   [R, dRdxi, dRdeta, dR2dxi, dR2deta, dR2dxideta, idx] = RatSurfShapeHessBatch(xi, p, q, knotU, knotV, weights)
%
%   Evaluates RatSurfShapeHess at every point of xi in one call: xi is a 2-by-P matrix, one
%   parametric point per column (P may be 0). Row j of every output is, bit for bit, what
%   RatSurfShapeHess(xi(:, j), p, q, knotU, knotV, weights) returns, for every valid input and
%   whatever the number of threads used.
%
%   The last output, idx, gives the 1-based positions in weights of each row's functions:
%   weights(idx(j, :)) are their weights, Px(idx) the control values of every row (for a vector
%   or an array Px laid out like the weights), and K(idx(j, :), idx(j, :)) the block of a global
%   matrix that row j's functions assemble into.
%
%   Inputs: as for RatSurfShapeHess (help RatSurfShapeHess), except
%     xi       a 2-by-P matrix: xi(:, j) is point j.
%   The knot vectors are checked whole, whatever their length, once for all points.
%
%   Outputs (P-by-(p+1)(q+1) matrices, row j for point j, columns in RatSurfShapeHess's
%   order):
%     R        row j as RatSurfShapeHess's R at point j
%     dRdxi    row j as RatSurfShapeHess's dRdxi at point j
%     dRdeta   row j as RatSurfShapeHess's dRdeta at point j
%     dR2dxi   row j as RatSurfShapeHess's dR2dxi at point j
%     dR2deta  row j as RatSurfShapeHess's dR2deta at point j
%     dR2dxidetarow j as RatSurfShapeHess's dR2dxideta at point j
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
%   Errors (identifier RatSurfShapeHessBatch:<mnemonic>): those of RatSurfShapeHess, and
%   pointsShape, tooManyPoints, outOfMemory (outputs larger than the memory gives:
%   fewer points a call). A wrong number of inputs raises the usage message.
%
%   Example: second derivatives of a biquadratic B-spline surface's basis at 1000 points
%     U = [0 0 0 0.5 1 1 1]; w = ones(4, 4);
%     [R, dRdxi, dRdeta, dR2dxi, dR2deta, dR2dxideta, idx] = ...
%       RatSurfShapeHessBatch(rand(2, 1000), 2, 2, U, U, w);
%     laplacian = dR2dxi + dR2deta;   % of every function, at every point

% Runs only where no compiled plug-in of this name is found: a built one takes precedence over
% this file in its own folder (MATLAB and Octave alike) and anywhere earlier on the path.
error ('nurbsbasis:notBuilt', ['%s is not built for this platform: no compiled %s.%s was ' ...
       'found. Run build_mex in the folder that holds %s.m (help build_mex), then call it ' ...
       'again.'], mfilename (), mfilename (), mexext (), mfilename ());
end

%!test
%! xi = [0 0.3 1; 0.5 0.9 1]; U = [0 0 0 0.5 1 1 1]; args = {2, 2, U, U, 1 + magic(4) / 16};
%! a = {xi, args{:}}; [o1, o2, o3, o4, o5, o6, idx] = RatSurfShapeHessBatch (a{:});
%! for j = 1:3
%!   b = {xi(:, j), args{:}}; [p1, p2, p3, p4, p5, p6] = RatSurfShapeHess (b{:});
%!   assert ([o1(j, :); o2(j, :); o3(j, :); o4(j, :); o5(j, :); o6(j, :)], [p1; p2; p3; p4; p5; p6]);
%! end
%! assert (idx(1, :), [5 6 7 9 10 11 13 14 15]);
%!error id=RatSurfShapeHessBatch:pointsShape RatSurfShapeHessBatch ([0.1 0.2], 2, 2, [0 0 0 0.5 1 1 1], [0 0 0 0.5 1 1 1], ones (4))
