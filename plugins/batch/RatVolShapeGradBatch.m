function varargout = RatVolShapeGradBatch (varargin)
% RATVOLSHAPEGRADBATCH  RatVolShapeGrad at many points in one call.
%
%   [R, dRdxi, dRdeta, dRdzeta, idx] = RatVolShapeGradBatch(xi, p, q, r, knotU, knotV, knotW, weights)
%
%   Evaluates RatVolShapeGrad at every point of xi in one call: xi is a 3-by-P matrix, one
%   parametric point per column (P may be 0). Row j of every output is, bit for bit, what
%   RatVolShapeGrad(xi(:, j), p, q, r, knotU, knotV, knotW, weights) returns, for every valid input
%   and whatever the number of threads used.
%
%   The last output, idx, gives the 1-based positions in weights of each row's functions:
%   weights(idx(j, :)) are their weights, Px(idx) the control values of every row (for a vector
%   or an array Px laid out like the weights), and K(idx(j, :), idx(j, :)) the block of a global
%   matrix that row j's functions assemble into.
%
%   Inputs: as for RatVolShapeGrad (help RatVolShapeGrad), except
%     xi       a 3-by-P matrix: xi(:, j) is point j.
%   The knot vectors are checked whole, whatever their length, once for all points.
%
%   Outputs (P-by-(p+1)(q+1)(r+1) matrices, row j for point j, columns in RatVolShapeGrad's
%   order):
%     R        row j as RatVolShapeGrad's R at point j
%     dRdxi    row j as RatVolShapeGrad's dRdxi at point j
%     dRdeta   row j as RatVolShapeGrad's dRdeta at point j
%     dRdzeta  row j as RatVolShapeGrad's dRdzeta at point j
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
%   Errors (identifier RatVolShapeGradBatch:<mnemonic>): those of RatVolShapeGrad, and pointsShape,
%   tooManyPoints, outOfMemory (no heap for the scratch of a high degree,
%   or outputs larger than the memory gives: fewer points a call). A wrong number of inputs
%   raises the usage message.
%
%   Example: a quarter annulus extruded to height 1, at 1000 random points
%     U = [0 0 0 1 1 1]; V = [0 0 1 1]; s = 1/sqrt(2); w = repmat([1 s 1; 1 s 1]', 1, 1, 2);
%     Pz = cat(3, zeros(3, 2), ones(3, 2));
%     [R, dRdxi, dRdeta, dRdzeta, idx] = ...
%       RatVolShapeGradBatch(rand(3, 1000), 2, 1, 1, U, V, V, w);
%     z = sum(R .* Pz(idx), 2);   % the third coordinate

% Runs only where no compiled plug-in of this name is found: a built one takes precedence over
% this file in its own folder (MATLAB and Octave alike) and anywhere earlier on the path.
error ('nurbsbasis:notBuilt', ['%s is not built for this platform: no compiled %s.%s was ' ...
       'found. Run build_mex in the folder that holds %s.m (help build_mex), then call it ' ...
       'again.'], mfilename (), mfilename (), mexext (), mfilename ());
end

%!test
%! xi = [0 0.3 1; 0.5 0.9 1; 0.2 0 1]; U = [0 0 0.5 1 1]; args = {1, 1, 1, U, U, U, reshape(1 + (1:27) / 27, 3, 3, 3)};
%! a = {xi, args{:}}; [o1, o2, o3, o4, idx] = RatVolShapeGradBatch (a{:});
%! for j = 1:3
%!   b = {xi(:, j), args{:}}; [p1, p2, p3, p4] = RatVolShapeGrad (b{:});
%!   assert ([o1(j, :); o2(j, :); o3(j, :); o4(j, :)], [p1; p2; p3; p4]);
%! end
%! assert (idx(1, :), [4 5 7 8 13 14 16 17]);
%!error id=RatVolShapeGradBatch:pointsShape RatVolShapeGradBatch (rand (2, 5), 1, 1, 1, [0 0 1 1], [0 0 1 1], [0 0 1 1], ones (2, 2, 2))
