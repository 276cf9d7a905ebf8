function varargout = MeshEvalCore (varargin)
% MESHEVALCORE  The native core of MeshEval: a patch's quadrature data, one column per element.
%
%   [quad_nodes, quad_weights, geo_map, geo_map_jac, jacdet, element_size, normal,
%    connectivity, shape_functions, shape_function_gradients, shape_function_hessians,
%    shape_function_laplacians, dofs, nel_dir, counts] = MeshEvalCore(coefs, order, knots1,
%    knots2, knots3, spaceOrder, spaceKnots1, spaceKnots2, spaceKnots3, spaceWeights,
%    quadrature1, quadrature2, quadrature3, elements, options)
%
%   What MeshEval calls once it has read its structs and options; call it directly to skip
%   that. Inputs (real, full double arrays; [] where a direction or a part is absent):
%     coefs          4 x n1 [x n2 [x n3]], (w x, w y, w z, w) of every control point
%     order          1 x d, degree + 1 per direction (d = 1, 2, 3)
%     knots1..3      the geometry's knot rows; [] beyond d
%     spaceOrder     the space's orders, or []: the geometry's own basis (then the space's
%                    knots and weights are [] too)
%     spaceKnots1..3 the space's knot rows, refining the geometry's
%     spaceWeights   one per function of the space (NURBS), or [] (B-splines)
%     quadrature1..3 a number of Gauss-Legendre nodes, or a 2 x nq rule [nodes; weights] on
%                    [0, 1]; [] beyond d
%     elements       1-based element indices (of the face on a side), or 0 for every element
%     options        [gradient hessian laplacian side rdim]: 0 or 1 each; the face 0..2d (0:
%                    none); rdim 0 for the highest coordinate not zero at some control point
%   Outputs: each field of MeshEval as a matrix with one column per element (its leading
%   dimensions folded into the rows), [] where not asked for or not defined; dofs a row; nel_dir
%   the elements per direction; counts = [ndim rdim nqn nsh ndof].
%
%   Errors: those of MeshEval (identifier MeshEval:<mnemonic>), raised here for every array;
%   a wrong number of inputs raises the usage message.
%
%   See also MeshEval.

% Runs only where no compiled plug-in of this name is found: a built one takes precedence over
% this file in its own folder (MATLAB and Octave alike) and anywhere earlier on the path.
error ('nurbsbasis:notBuilt', ['%s is not built for this platform: no compiled %s.%s was ' ...
       'found. Run build_mex in the folder that holds %s.m (help build_mex), then call it ' ...
       'again.'], mfilename (), mfilename (), mexext (), mfilename ());
end

%!test
%! [nodes, weights] = MeshEvalCore ([0 1; 0 0; 0 0; 1 1], 2, [0 0 1 1], [], [], [], [], [], ...
%!                                  [], [], 2, [], [], 0, [1 0 0 0 0]);
%! assert (nodes, [0.5 - sqrt(3) / 6; 0.5 + sqrt(3) / 6], 1e-15);
%! assert (weights, [0.5; 0.5], 1e-15);
%!error id=MeshEval:dimensions MeshEvalCore ([0 1; 0 0; 0 0; 1 1], [], [0 0 1 1], [], [], [], [], [], [], [], 2, [], [], 0, [1 0 0 0 0])
