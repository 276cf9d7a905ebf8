function varargout = RatVolShapeHess (varargin)
% RATVOLSHAPEHESS  Rational volume basis functions with first and second derivatives.
%
%   [R, dRdxi, dRdeta, dRdzeta, dR2dxi, dR2deta, dR2dzeta, dR2dxideta, dR2detazeta, dR2dxizeta]
%       = RatVolShapeHess(xi, p, q, r, knotU, knotV, knotW, weights)
%
%   At the parametric point (xi(1), xi(2), xi(3)) of a NURBS volume of degrees p, q and r,
%   returns the (p+1)(q+1)(r+1) rational basis functions R = N M L w / W that do not vanish
%   there, their first derivatives (bit for bit those of RatVolShapeGrad) and their six second
%   derivatives.
%
%   Inputs (real, full double arrays): as for RatVolShapeGrad, except that every direction needs
%   at least 3 basis functions (nu, nv, nw >= 3) for its second derivatives.
%     xi       the point: xi(1) along knotU, xi(2) along knotV, xi(3) along knotW. A coordinate
%              within 2.220446049250313e-14 of its last knot is evaluated that far below it; one
%              outside its knot range is extrapolated; NaN gives NaN.
%     p, q, r  the degrees, first elements truncated toward zero; 0 <= p, q, r <= 18.
%     knotU    knots along xi, a row, non-decreasing, no NaN, with nu = numel(knotU) - p - 1
%              functions, nu >= p + 1 and nu >= 3.
%     knotV    knots along eta, likewise with nv functions.
%     knotW    knots along zeta, likewise with nw functions.
%     weights  nu*nv*nw weights, the xi index fastest, then eta, then zeta: an nu-by-nv-by-nw
%              array, or any shape in that column order.
%   The end clamp's distance is absolute: with knot vectors of very small scale, or a last
%   non-empty span shorter than 2.220446049250313e-14, the point so moved can lie outside that
%   span. A knot vector may also be given as a 1-by-N-by-K array: its elements are read in order.
%
%   Outputs (1-by-(p+1)(q+1)(r+1) rows, entry k + j(p+1) + i(p+1)(q+1) + 1 for the local
%   functions k along xi, j along eta and i along zeta, k fastest):
%     R, dRdxi, dRdeta, dRdzeta   as RatVolShapeGrad's
%     dR2dxi, dR2deta, dR2dzeta   d2R/dxi2, d2R/deta2, d2R/dzeta2
%     dR2dxideta, dR2detazeta, dR2dxizeta   the mixed derivatives
%   Each set of second derivatives sums to 0. A weight sum of 0 gives Inf or NaN, not an error.
%
%   The arithmetic, fixed: with N, M, L the B-splines along xi, eta, zeta at the point, w the
%   weight of (k, j, i), B = (N M) L, and W, Wxi, Weta, Wzeta as RatVolShapeGrad forms them,
%   the sums, from 0 with i outermost and k innermost,
%     Wxixi = sum ((M N'') L) w, Wetaeta = sum ((N M'') L) w, Wzetazeta = sum ((N M) L'') w,
%     Wxieta = sum ((M' N') L) w, Wetazeta = sum ((N M') L') w, Wxizeta = sum ((M N') L') w,
%   and, each "/ W / W" a chain of divisions:
%     dR2dxi = (((A1 - A2) - A3) + A4) w, A1 = ((M N'') L) / W,
%       A2 = ((((2 N') M) L) Wxi) / W / W, A3 = (B Wxixi) / W / W,
%       A4 = (((((2 N) M) L) Wxi) Wxi) / W / W / W;
%     dR2deta = (((B1 - B2) - B3) + B4) w, B1 = ((N M'') L) / W,
%       B2 = ((((2 M') N) L) Weta) / W / W, B3 = (B Wetaeta) / W / W,
%       B4 = (((((2 N) M) L) Weta) Weta) / W / W / W;
%     dR2dzeta = (((D1 - D2) - D3) + D4) w, D1 = ((N M) L'') / W,
%       D2 = ((((2 L') N) M) Wzeta) / W / W, D3 = (B Wzetazeta) / W / W,
%       D4 = (((((2 N) M) L) Wzeta) Wzeta) / W / W / W;
%     dR2dxideta = ((((C1 - C2) - C3) - C4) + C5) w, C1 = ((M' N') L) / W,
%       C2 = (((M N') L) Weta) / W / W, C3 = (((M' N) L) Wxi) / W / W, C4 = (B Wxieta) / W / W,
%       C5 = (((((2 N) M) L) Wxi) Weta) / W / W / W;
%     dR2detazeta = ((((E1 - E2) - E3) - E4) + E5) w, E1 = ((N M') L') / W,
%       E2 = (((N M') L) Wzeta) / W / W, E3 = (((N M) L') Weta) / W / W,
%       E4 = (B Wetazeta) / W / W, E5 = (((((2 N) M) L) Weta) Wzeta) / W / W / W;
%     dR2dxizeta = ((((F1 - F2) - F3) - F4) + F5) w, F1 = ((M N') L') / W,
%       F2 = (((M N') L) Wzeta) / W / W, F3 = (((N M) L') Wxi) / W / W,
%       F4 = (B Wxizeta) / W / W, F5 = (((((2 N) M) L) Wxi) Wzeta) / W / W / W.
%   These are RatSurfShapeHess's terms with L joined last to every product of N and M.
%
%   Errors (identifier RatVolShapeHess:<mnemonic>): notDouble, complex, sparse, tooFewValues,
%   degreeNotFinite, degreeNegative, degreeTooLarge, knotsNotRow, knotsTooShort, knotsNaN,
%   knotsDecreasing, tooManyOutputs. A wrong number of inputs raises the usage message.
%
%   Example: the Laplacian of every basis function of a triquadratic B-spline volume
%     U = [0 0 0 0.5 1 1 1]; w = ones(4, 4, 4);
%     [R, ~, ~, ~, dxx, dyy, dzz] = RatVolShapeHess([0.3 0.6 0.2], 2, 2, 2, U, U, U, w);
%     laplacian = dxx + dyy + dzz;

% Runs only where no compiled plug-in of this name is found: a built one takes precedence over
% this file in its own folder (MATLAB and Octave alike) and anywhere earlier on the path.
error ('nurbsbasis:notBuilt', ['%s is not built for this platform: no compiled %s.%s was ' ...
       'found. Run build_mex in the folder that holds %s.m (help build_mex), then call it ' ...
       'again.'], mfilename (), mfilename (), mexext (), mfilename ());
end

%!test
%! % Unit weights on Bernstein knots: the second derivatives are products of B-splines.
%! U = [0 0 0 1 1 1]; N = [0.25 0.5 0.25]; dN = [-1 0 1]; d2N = [2 -4 2];
%! o = cell (1, 10);
%! [o{:}] = RatVolShapeHess ([0.5 0.5 0.5], 2, 2, 2, U, U, U, ones (3, 3, 3));
%! assert (o{5}, kron (N, kron (N, d2N)), 32 * eps);
%! assert (o{7}, kron (d2N, kron (N, N)), 32 * eps);
%! assert (o{8}, kron (N, kron (dN, dN)), 32 * eps);
%!error id=RatVolShapeHess:knotsTooShort RatVolShapeHess ([0.5 0.5 0.5], 1, 1, 1, [0 0 1 1], [0 0 1 1], [0 0 1 1], ones (2, 2, 2))
