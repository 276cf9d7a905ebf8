function varargout = HierarchicalSpaceCore (varargin)
% HIERARCHICALSPACECORE  The native core of the hierarchical spaces' calls.
%
%   [refined, elements, functions, gnum, face_dofs, face_counts, counts] = ...
%       HierarchicalSpaceCore(header, coefs, order, knots1, ..., options, ..., refined, ...
%                             interfaces, faces, marked)
%   u = HierarchicalSpaceCore(header, ..., refined, interfaces, coarse_refined, coefs)
%   [v, w] = HierarchicalSpaceCore(header, ..., refined, interfaces, elements, coefs)
%   f = HierarchicalSpaceCore(header, ..., refined, interfaces, points, coefs)
%
%   What HierarchicalSpace, RefineElements, RefineFunctions, ProlongField and FieldEval call once
%   they have read a space: header [0 subdivision truncated npatch admissibility mode patch
%   hessian] (patch and hessian for mode 5), then
%   MeshEvalCore's 15 inputs for every patch (every element, no side; their quadrature and
%   flags play no part), refined (3 x N: [patch; level; cell] of every refined cell, patch and
%   cell 1-based, level 0-based, ascending), interfaces (7 x m, Multipatch's [patch1 side1
%   patch2 side2 flag ornt1 ornt2] a column), and two inputs of the mode's:
%     mode 0  the tables of the space; faces (2 x nf, [patch; side]) whose functions to list,
%             and marked (ignored)
%     mode 1  the same after refining the marked elements (1-based indices of the space's
%             elements), with the admissibility of class header(5) (0: none)
%     mode 2  the same after refining the marked functions
%     mode 3  coefs (ndof x ncomp of the space of coarse_refined, 3 x N) in the space of
%             refined, which must refine it
%     mode 4  the field coefs' numerator coefficients on each chosen element (elements: 1-based,
%             or 0 for all), v ((p + 1)^d ncomp x nel, the element's tensor functions of its
%             level in order, each component in turn), and the weight function's, w ((p + 1)^d
%             x nel; ones for B-splines): the field is sum v_j N_j / sum w_j N_j there
%     mode 5  the field coefs at points (d x P) of patch header(7): its values and parametric
%             derivatives, (1 + d (+ d (d + 1) / 2 with header(8))) ncomp x P, each
%             derivative's components together (values, d/dxi_k, then the second derivatives
%             in the Hessian twins' order)
%   Tables: refined as it is after refining; elements ((3 + 2d) x nel: patch, level, cell and
%   the parametric box [lo hi] a direction); functions (3 x ndof: patch, level and 1-based
%   tensor index where each is numbered first); gnum (3 x the patches' functions, each patch's
%   in turn: [global index; level; tensor index]); face_dofs (each face's functions, ascending, face by face) and
%   face_counts; counts [ndof nel levels most-functions-an-element, then each patch's
%   functions].
%
%   Errors: those of the calling function (identifier Name:<mnemonic>, Name by the mode:
%   HierarchicalSpace, RefineElements, RefineFunctions, ProlongField, FieldEval); a wrong
%   number of inputs raises the usage message.
%
%   See also HierarchicalSpace, RefineElements, ProlongField, MeshEvalCore.

% Runs only where no compiled plug-in of this name is found: a built one takes precedence over
% this file in its own folder (MATLAB and Octave alike) and anywhere earlier on the path.
error ('nurbsbasis:notBuilt', ['%s is not built for this platform: no compiled %s.%s was ' ...
       'found. Run build_mex in the folder that holds %s.m (help build_mex), then call it ' ...
       'again.'], mfilename (), mfilename (), mexext (), mfilename ());
end
