function varargout = RatSingleShapeBatch (varargin)
% RATSINGLESHAPEBATCH  RatSingleShape at many points in one call.
%
%   [Nip, dNipdxi] = RatSingleShapeBatch(i, p, xi, knot, weights)
%
%   Evaluates RatSingleShape at every point of xi in one call: xi is a vector of P parametric
%   points, a row or a column (or empty). Row j of every output is, bit for bit, what
%   RatSingleShape(i, p, xi(j), knot, weights) returns, for every valid input and whatever the
%   number of threads used.
%
%   Inputs: as for RatSingleShape (help RatSingleShape), except
%     xi       P points (a 1-by-N-by-K array is read as its elements in order).
%   The knot vectors are checked whole, whatever their length, once for all points.
%
%   Outputs (P-by-1 columns, entry j for point j):
%     Nip          RatSingleShape's Nip at point j
%     dNipdxi      RatSingleShape's dNipdxi at point j
%   A NaN point or one outside the knot range gives the row the one-point call gives.
%
%   Threads: a call with enough work splits its points over the hardware's threads (only the
%   results' bits matter, and they do not depend on the split). The environment variable
%   NURBS_NUM_THREADS caps the count: a positive whole number in decimal digits, blanks around
%   it allowed, is the most threads a call uses (setenv('NURBS_NUM_THREADS', '1') makes calls
%   serial); unset or empty, there is no cap; any other value (0, -1, 3.5, 1e3, abc) makes
%   calls serial.
%
%   Errors (identifier RatSingleShapeBatch:<mnemonic>): those of RatSingleShape, and pointsShape,
%   tooManyPoints, outOfMemory (outputs larger than the memory gives:
%   fewer points a call). A wrong number of inputs raises the usage message.
%
%   Example: the second function of a quadratic curve over its whole domain
%     u = linspace(0, 1, 201);
%     [N2, dN2] = RatSingleShapeBatch(2, 2, u, [0 0 0 0.5 1 1 1], [1 0.8 1.2 1]);
%     plot(u, N2, u, dN2)

% Runs only where no compiled plug-in of this name is found: a built one takes precedence over
% this file in its own folder (MATLAB and Octave alike) and anywhere earlier on the path.
error ('nurbsbasis:notBuilt', ['%s is not built for this platform: no compiled %s.%s was ' ...
       'found. Run build_mex in the folder that holds %s.m (help build_mex), then call it ' ...
       'again.'], mfilename (), mfilename (), mexext (), mfilename ());
end

%!test
%! xi = [0 0.3 1]; args = {2, [0 0 0 0.5 1 1 1], [1 0.8 1.2 1]};
%! a = {2, args{1}, xi, args{2:end}}; [o1, o2] = RatSingleShapeBatch (a{:});
%! for j = 1:3
%!   b = {2, args{1}, xi(j), args{2:end}}; [p1, p2] = RatSingleShape (b{:});
%!   assert ([o1(j, :); o2(j, :)], [p1; p2]);
%! end
%!error id=RatSingleShapeBatch:pointsShape RatSingleShapeBatch (2, 2, [0.1 0.2; 0.3 0.4], [0 0 0 0.5 1 1 1], [1 1 1 1])
