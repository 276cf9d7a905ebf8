function varargout = MeshNodesCore (varargin)
% MESHNODESCORE  The native core of MeshNodes: the physical coordinates of a mesh's nodes.
%
%   x = MeshNodesCore(coefs, order, knots1, knots2, knots3, spaceOrder, spaceKnots1,
%       spaceKnots2, spaceKnots3, spaceWeights, quadrature1, quadrature2, quadrature3,
%       elements, options)
%   x = MeshNodesCore(header, then each piece's 15 mesh inputs followed by its numbering)
%
%   What MeshNodes (and every form given a function handle) calls once it has read its structs
%   and options; call it directly to skip that. The 15 inputs are MeshEvalCore's (see its help;
%   the gradient, hessian and laplacian flags of options are ignored). Over a domain the inputs
%   are a form's core's without the coefficients: header = [ndof, the patch of each piece], a
%   piece a patch (or one of its faces, by its options' side) with its numbering.
%   x: rdim x nodes, the nodes of every evaluated element in MeshEval's order (piece by piece).
%
%   Errors: those of MeshNodes (identifier MeshNodes:<mnemonic>); a wrong number of inputs
%   raises the usage message.
%
%   See also MeshNodes, MeshEvalCore.

% Runs only where no compiled plug-in of this name is found: a built one takes precedence over
% this file in its own folder (MATLAB and Octave alike) and anywhere earlier on the path.
error ('nurbsbasis:notBuilt', ['%s is not built for this platform: no compiled %s.%s was ' ...
       'found. Run build_mex in the folder that holds %s.m (help build_mex), then call it ' ...
       'again.'], mfilename (), mfilename (), mexext (), mfilename ());
end

%!test
%! x = MeshNodesCore ([0 2; 0 0; 0 0; 1 1], 2, [0 0 1 1], [], [], [], [], [], [], [], 2, [], ...
%!                    [], 0, [1 0 0 0 0]);
%! assert (x, [1 - sqrt(3) / 3, 1 + sqrt(3) / 3], 1e-15);
%!error id=MeshNodes:dimensions MeshNodesCore ([0 1; 0 0; 0 0; 1 1], [], [0 0 1 1], [], [], [], [], [], [], [], 2, [], [], 0, [1 0 0 0 0])
