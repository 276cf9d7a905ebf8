% BILAPLACIANMATRIXCORE  The native core of BilaplacianMatrix, assembling it over a mesh.
%
%   B = BilaplacianMatrixCore(coefs, order, knots1, knots2, knots3, spaceOrder, spaceKnots1,
%       spaceKnots2, spaceKnots3, spaceWeights, quadrature1, quadrature2, quadrature3,
%       elements, options, c)
%
%   What BilaplacianMatrix calls once it has read its structs and options and evaluated any
%   coefficient handle; call it directly to skip that. The first 15 inputs are
%   MeshEvalCore's (see its help; the gradient, hessian and laplacian flags of options are
%   ignored: the form takes what it needs).
%   c: a scalar, or one value per node of every evaluated element in MeshEval's order
%   (nqn x nel).
%
%   Errors: those of BilaplacianMatrix (identifier BilaplacianMatrix:<mnemonic>); a wrong number
%   of inputs
%   raises the usage message.
%
%   See also BilaplacianMatrix, MeshEvalCore.
