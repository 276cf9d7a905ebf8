% ELASTICITYMATRIX  Elasticity matrix of a patch: lambda div u div v + 2 mu eps(u) : eps(v).
%
%   K = ElasticityMatrix(geometry, lambda, mu)
%   K = ElasticityMatrix(geometry, lambda, mu, Name, Value, ...)
%
%   The bilinear form of linear elasticity for a vector-valued space of rdim components,
%   sparse, rdim ndof x rdim ndof, exactly symmetric, with Lame coefficients lambda and mu;
%   unknowns numbered component by component: component k of function i at (k - 1) ndof + i.
%   It annihilates the rigid motions (3 in 2-D, 6 in 3-D).
%
%   geometry is a NURBS patch as nrbmak makes it (MeshEval's help builds one by hand).
%   Options (name, value pairs), as MeshEval's: 'space' (the discrete space; default the
%   geometry's own basis), 'quadrature' (default the space's order a direction), 'elements'
%   (assemble only these elements, into the full-size result), 'rdim'.
%
%   Coefficients are a scalar, an nqn x nel array of values at MeshEval's nodes (the same
%   options give the same nodes and order; e.g. a previous solution's values), or a function
%   handle of the physical coordinates, called once with rows x, y (and z) of every node:
%     c = @(x, y) 1 + x .^ 2 .* y;
%
%   Evaluation and integration are native: no element data passes through the host.
%   Large calls run on several threads with the same bits (NURBS_NUM_THREADS caps them).
%
%   Errors (identifier ElasticityMatrix:<mnemonic>): those of MeshEval, coefficientSize (a
%   coefficient of the wrong size), coefficientError (a handle that failed), sideOutOfRange (a
%   side: only MassMatrix and LoadVector).
%
%   Example, on the quarter annulus of MeshEval's help:
%     s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
%     g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
%     g.knots = {[0 0 0 1 1 1], [0 0 1 1]}; g.order = [3 2];
%     E = 1; nu = 0.3;
%     lambda = E * nu / ((1 + nu) * (1 - 2 * nu)); mu = E / (2 * (1 + nu));
%     K = ElasticityMatrix (g, lambda, mu);
%
%   See also MeshEval, ElasticityMatrixCore.
function K = ElasticityMatrix (geometry, lambda, mu, varargin)
  K = assemble_form ('ElasticityMatrix', geometry, {lambda, mu}, {'lambda', 'mu'}, ...
                     [false false], varargin);
end

%!shared g
%! s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
%! g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
%! g.knots = {[0 0 0 1 1 1], [0 0 1 1]}; g.order = [3 2];
%!test
%! K = ElasticityMatrix (g, 1, 0.5);
%! assert (isequal (K, K.'));
%! x = squeeze (g.coefs(1, :, :) ./ g.coefs(4, :, :))(:);
%! y = squeeze (g.coefs(2, :, :) ./ g.coefs(4, :, :))(:);
%! rigid = [ones(6, 1), zeros(6, 1), -y; zeros(6, 1), ones(6, 1), x];
%! assert (norm (K * rigid), 0, 1e-12 * norm (K, 1));
