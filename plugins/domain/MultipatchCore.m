function varargout = MultipatchCore (varargin)
% MULTIPATCHCORE  The native core of Multipatch: interfaces, numbering and boundary faces.
%
%   [gnum, interfaces, boundaries, boundary_dofs, counts] = MultipatchCore(tolerance, ...
%       coefs, order, knots1, knots2, knots3, spaceOrder, spaceKnots1, spaceKnots2, ...
%       spaceKnots3, spaceWeights, quadrature1, quadrature2, quadrature3, elements, options, ...)
%
%   What Multipatch calls once it has read its patches and options: a relative tolerance in
%   (0, 1), then MeshEvalCore's 15 inputs for every patch in turn (their quadrature, elements
%   and flags play no part; every patch must give the same rdim). Outputs, sized by bounds
%   known before the gluing:
%     gnum           1 x (functions of all patches): each patch's global indices in turn
%     interfaces     7 x (npatch d): [patch1 side1 patch2 side2 flag ornt1 ornt2] a column,
%                    the first counts(2) columns meaningful
%     boundaries     3 x (2 d npatch): [patch side n] for each face on no interface, the first
%                    counts(3) columns meaningful
%     boundary_dofs  those faces' functions' global indices, n a face in turn, ascending
%     counts         [ndof interfaces boundaries]
%
%   Errors: those of Multipatch (identifier Multipatch:<mnemonic>); a wrong number of inputs
%   raises the usage message.
%
%   See also Multipatch, MeshEvalCore.

% Runs only where no compiled plug-in of this name is found: a built one takes precedence over
% this file in its own folder (MATLAB and Octave alike) and anywhere earlier on the path.
error ('nurbsbasis:notBuilt', ['%s is not built for this platform: no compiled %s.%s was ' ...
       'found. Run build_mex in the folder that holds %s.m (help build_mex), then call it ' ...
       'again.'], mfilename (), mfilename (), mexext (), mfilename ());
end
