function varargout = MatrixFreeSetupCore (varargin)
% MATRIXFREESETUPCORE  The native setup of MatrixFreeOperator: a patch's tables and point factors.
%
%   [sizes, table1, table2, table3, factors, weights] = MatrixFreeSetupCore(coefs, order,
%       knots1, knots2, knots3, spaceOrder, spaceKnots1, spaceKnots2, spaceKnots3,
%       spaceWeights, quadrature1, quadrature2, quadrature3, elements, options, form, c1, c2)
%   x = MatrixFreeSetupCore(the 15 mesh inputs, [0 0 0])
%
%   What MatrixFreeOperator calls once a patch; the first 15 inputs are MeshEvalCore's (every
%   element, no side, a surface in 2-D or a volume in 3-D). form = [kind a b]: kind 1 the
%   stiffness (c1 = c), 2 the mass (c1 = c), 3 a K + b M (c1 the stiffness's c, c2 the mass's),
%   4 elasticity (c1 = lambda, c2 = mu); a and b are read for kind 3 only. Coefficients as the
%   forms' cores read them: a scalar, or one value per node in MeshEval's order.
%
%   sizes    [d kind rational N1 N2 N3 p1 p2 p3 Q1 Q2 Q3 nf]: functions, degrees and
%            quadrature points a direction (0 beyond d), factors a point
%   tableK   (2 pK + 3) x QK: at each point of direction K the first of the functions that do
%            not vanish there (0-based), their values and their derivatives; [] beyond d
%   factors  nf doubles at each quadrature point (see MatrixFreeOperator's help), nf the last of
%            sizes
%   weights  the space's weights where they differ (a NURBS space), else []
%   x        with kind 0: the points' coordinates, rdim x (nqn nel) in MeshEval's order
%
%   Errors: MatrixFreeOperator:<mnemonic>, those of MeshEval for the mesh's inputs and
%   optionValue, dimensions, sideOutOfRange, coefficientSize, tooManyPoints, tooManyOutputs,
%   outOfMemory; a wrong number of inputs raises the usage message.
%
%   See also MatrixFreeOperator, MatrixFreeApplyCore, MeshEvalCore.

% Runs only where no compiled plug-in of this name is found: a built one takes precedence over
% this file in its own folder (MATLAB and Octave alike) and anywhere earlier on the path.
error ('nurbsbasis:notBuilt', ['%s is not built for this platform: no compiled %s.%s was ' ...
       'found. Run build_mex in the folder that holds %s.m (help build_mex), then call it ' ...
       'again.'], mfilename (), mfilename (), mexext (), mfilename ());
end
