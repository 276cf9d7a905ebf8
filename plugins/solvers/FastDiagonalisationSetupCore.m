function varargout = FastDiagonalisationSetupCore (varargin)
% FASTDIAGONALISATIONSETUPCORE  The native setup of FastDiagonalisation: a patch's 1-D matrices.
%
%   [K1, M1, K2, M2, K3, M3, constants, weights] = FastDiagonalisationSetupCore(coefs, order,
%       knots1, knots2, knots3, spaceOrder, spaceKnots1, spaceKnots2, spaceKnots3,
%       spaceWeights, quadrature1, quadrature2, quadrature3, elements, options, form, c1, c2)
%
%   Inputs as MatrixFreeSetupCore's (form kind 1 to 4). For each of P problems (P = d for
%   elasticity, one a component; else 1), KK(:, (j - 1) NK + (1:NK)) and MK(...) are direction
%   K's stiffness and mass matrices (NK x NK) weighted by the separable fit of problem j's
%   coefficients (FastDiagonalisation's help); constants(:, j) = [a; beta], the stiffness's
%   sign (0 without one) and the mass's constant (0 without one); weights the space's weights
%   where they differ, else [].
%
%   Errors: FastDiagonalisation:<mnemonic>, as MatrixFreeSetupCore's.
%
%   See also FastDiagonalisation, FastDiagonalisationApplyCore.

% Runs only where no compiled plug-in of this name is found: a built one takes precedence over
% this file in its own folder (MATLAB and Octave alike) and anywhere earlier on the path.
error ('nurbsbasis:notBuilt', ['%s is not built for this platform: no compiled %s.%s was ' ...
       'found. Run build_mex in the folder that holds %s.m (help build_mex), then call it ' ...
       'again.'], mfilename (), mfilename (), mexext (), mfilename ());
end
