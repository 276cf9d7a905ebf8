% ELASTICITYMATRIXCORE  The native core of ElasticityMatrix, assembling it over a mesh.
%
%   K = ElasticityMatrixCore(coefs, order, knots1, knots2, knots3, spaceOrder, spaceKnots1,
%       spaceKnots2, spaceKnots3, spaceWeights, quadrature1, quadrature2, quadrature3,
%       elements, options, lambda, mu)
%
%   What ElasticityMatrix calls once it has read its structs and options and evaluated any
%   coefficient handle; call it directly to skip that. The first 15 inputs are
%   MeshEvalCore's (see its help; the gradient, hessian and laplacian flags of options are
%   ignored: the form takes what it needs).
%   lambda, mu: a scalar, or one value per node of every evaluated element in MeshEval's order
%   (nqn x nel).
%
%   Errors: those of ElasticityMatrix (identifier ElasticityMatrix:<mnemonic>); a wrong number
%   of inputs
%   raises the usage message.
%
%   See also ElasticityMatrix, MeshEvalCore.
