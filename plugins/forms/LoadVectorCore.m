function varargout = LoadVectorCore (varargin)
% LOADVECTORCORE  The native core of LoadVector, assembling it over a mesh.
%
%   F = LoadVectorCore(coefs, order, knots1, knots2, knots3, spaceOrder, spaceKnots1,
%       spaceKnots2, spaceKnots3, spaceWeights, quadrature1, quadrature2, quadrature3,
%       elements, options, f)
%
%   What LoadVector calls once it has read its structs and options and evaluated any
%   coefficient handle; call it directly to skip that. The first 15 inputs are
%   MeshEvalCore's (see its help; the gradient, hessian and laplacian flags of options are
%   ignored: the form takes what it needs).
%   f: a scalar, or one value per node of every evaluated element in MeshEval's order
%   (nqn x nel, or a vector in that order), or rdim rows of them; where both fit (nqn = rdim
%   on one element), one value per node.
%
%   Over a domain of several patches, as the form calls it with a Multipatch domain:
%   LoadVectorCore(header, then each piece's 15 mesh inputs followed by its numbering, then the
%   coefficients), header = [ndof, the patch of each piece]; a piece is a patch (or one of its
%   faces, by its options' side), its numbering the global index of each of its space's
%   functions (1..ndof); values at the nodes are every piece's in turn. Pieces must share rdim.
%
%   Errors: those of LoadVector (identifier LoadVector:<mnemonic>); a wrong number of inputs
%   raises the usage message.
%
%   See also LoadVector, MeshEvalCore.

% Runs only where no compiled plug-in of this name is found: a built one takes precedence over
% this file in its own folder (MATLAB and Octave alike) and anywhere earlier on the path.
error ('nurbsbasis:notBuilt', ['%s is not built for this platform: no compiled %s.%s was ' ...
       'found. Run build_mex in the folder that holds %s.m (help build_mex), then call it ' ...
       'again.'], mfilename (), mfilename (), mexext (), mfilename ());
end
