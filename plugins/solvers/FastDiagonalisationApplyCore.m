function varargout = FastDiagonalisationApplyCore (varargin)
% FASTDIAGONALISATIONAPPLYCORE  The native application of FastDiagonalisation's preconditioner.
%
%   y = FastDiagonalisationApplyCore(n, sizes, U1, lambda1, U2, lambda2, U3, lambda3, scale,
%       map, ... (those 9 of each piece), x)
%
%   y = sum over the pieces of R' S P^-1 S R x, P^-1 = (U3 x U2 x U1) diag(1 ./ (a (lambda1 +
%   lambda2 + lambda3) + beta)) (U3 x U2 x U1)' on the piece's n1 x n2 x n3 grid (a zero
%   denominator gives 0), applied one direction at a time. sizes = [d n1 n2 n3 a beta] (n3 0
%   for d = 2, and U3, lambda3 []); scale the piece's S (or [] for 1); map the position in x of
%   each of its unknowns, 1-based, 0 for none ([] where the piece is all of x); x n x m. Every
%   array is checked on every call. Same bits on any number of threads; Ctrl-C ends a long call.
%
%   Errors: FastDiagonalisation:<mnemonic>: notDouble, complex, sparse, optionValue, sizes,
%   eigenSize, scaleSize, mapValue, xSize, tooManyPoints, tooManyOutputs, outOfMemory; a wrong
%   number of inputs raises the usage message.
%
%   See also FastDiagonalisation, FastDiagonalisationSetupCore.

% Runs only where no compiled plug-in of this name is found: a built one takes precedence over
% this file in its own folder (MATLAB and Octave alike) and anywhere earlier on the path.
error ('nurbsbasis:notBuilt', ['%s is not built for this platform: no compiled %s.%s was ' ...
       'found. Run build_mex in the folder that holds %s.m (help build_mex), then call it ' ...
       'again.'], mfilename (), mfilename (), mexext (), mfilename ());
end
