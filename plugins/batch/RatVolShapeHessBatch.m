function varargout = RatVolShapeHessBatch (varargin)
% RATVOLSHAPEHESSBATCH  RatVolShapeHess at many points in one call.
%
%   [R, dRdxi, dRdeta, dRdzeta, dR2dxi, dR2deta, dR2dzeta, dR2dxideta, dR2detazeta, dR2dxizeta,
%    idx] = RatVolShapeHessBatch(xi, p, q, r, knotU, knotV, knotW, weights)
%
%   Evaluates RatVolShapeHess at every point of xi in one call: xi is a 3-by-P matrix, one
%   parametric point per column (P may be 0). Row j of every output is, bit for bit, what
%   RatVolShapeHess(xi(:, j), p, q, r, knotU, knotV, knotW, weights) returns, for every valid input
%   and whatever the number of threads used.
%
%   The last output, idx, gives the 1-based positions in weights of each row's functions:
%   weights(idx(j, :)) are their weights, Px(idx) the control values of every row (for a vector
%   or an array Px laid out like the weights), and K(idx(j, :), idx(j, :)) the block of a global
%   matrix that row j's functions assemble into.
%
%   Inputs: as for RatVolShapeHess (help RatVolShapeHess), except
%     xi       a 3-by-P matrix: xi(:, j) is point j.
%   The knot vectors are checked whole, whatever their length, once for all points.
%
%   Outputs (P-by-(p+1)(q+1)(r+1) matrices, row j for point j, columns in RatVolShapeHess's
%   order):
%     R ... dR2dxizeta   row j as RatVolShapeHess's at point j
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
%   Errors (identifier RatVolShapeHessBatch:<mnemonic>): those of RatVolShapeHess, and pointsShape,
%   tooManyPoints, outOfMemory (no heap for the scratch of a high degree,
%   or outputs larger than the memory gives: fewer points a call). A wrong number of inputs
%   raises the usage message.
%
%   Example: the Laplacian of every basis function of a triquadratic B-spline volume at 1000
%   points
%     U = [0 0 0 0.5 1 1 1]; w = ones(4, 4, 4);
%     [R, ~, ~, ~, dxx, dyy, dzz, ~, ~, ~, idx] = ...
%       RatVolShapeHessBatch(rand(3, 1000), 2, 2, 2, U, U, U, w);
%     laplacian = dxx + dyy + dzz;   % row j: point j, columns as R's

% Runs only where no compiled plug-in of this name is found: a built one takes precedence over
% this file in its own folder (MATLAB and Octave alike) and anywhere earlier on the path.
error ('nurbsbasis:notBuilt', ['%s is not built for this platform: no compiled %s.%s was ' ...
       'found. Run build_mex in the folder that holds %s.m (help build_mex), then call it ' ...
       'again.'], mfilename (), mfilename (), mexext (), mfilename ());
end

%!test
%! xi = [0 0.3 1; 0.5 0.9 1; 0.2 0 1]; U = [0 0 0 0.5 1 1 1];
%! args = {2, 2, 2, U, U, U, reshape(1 + (1:64) / 64, 4, 4, 4)};
%! o = cell (1, 11); [o{:}] = RatVolShapeHessBatch (xi, args{:});
%! for j = 1:3
%!   one = cell (1, 10); [one{:}] = RatVolShapeHess (xi(:, j), args{:});
%!   for k = 1:10, assert (o{k}(j, :), one{k}); end
%! end
%! assert (o{11}(3, end), 64);   % the last function at the last corner
%!error id=RatVolShapeHessBatch:pointsShape RatVolShapeHessBatch (rand (2, 5), 2, 2, 2, [0 0 0 1 1 1], [0 0 0 1 1 1], [0 0 0 1 1 1], ones (3, 3, 3))
