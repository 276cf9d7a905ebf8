% MATRIXFREEOPERATOR  A form applied without its matrix: a function handle for pcg and gmres.
%
%   [A, free] = MatrixFreeOperator(form, geometry, coefficients..., Name, Value, ...)
%
%   A(x) is K(free, free) * x for the form's assembled matrix K, without K: the form is
%   applied by sum factorisation at the quadrature points, one direction at a time, natively
%   and on several threads (the same bits on any number of them). x may hold several columns,
%   applied at once. free is the ascending column of the unknowns A acts on: every unknown but
%   those of the 'dirichlet' faces, in the forms' numbering.
%
%   form and its coefficients, as the forms take them (scalars, values at the nodes, handles of
%   the coordinates):
%     'stiffness', c            StiffnessMatrix (geometry, c)
%     'mass', c                 MassMatrix (geometry, c)
%     'stiffness+mass', c, m    a StiffnessMatrix (geometry, c) + b MassMatrix (geometry, m),
%                               with 'scale', [a b] (default [1 1]): time steps, shifts
%     'elasticity', lambda, mu  ElasticityMatrix (geometry, lambda, mu)
%   geometry is a patch (nrbmak) of a surface in 2-D or a volume in 3-D, or a domain of them
%   (Multipatch): A is then the domain's form, each patch applied and summed through mp.gnum.
%
%   Options (name, value pairs):
%     'dirichlet'   faces whose functions are not unknowns: a patch's sides (1..2d, as MeshEval's
%                   'side'), or indices into mp.boundaries over a domain; default none
%     'components'  elasticity: the components those faces fix (default all)
%     'scale'       [a b] of 'stiffness+mass'
%     'quadrature', 'space' (a patch)  as the forms' (the same rule gives the same matrix)
%   With no Dirichlet face the stiffness is singular (its constants): pcg then needs a
%   right-hand side orthogonal to them (sum (b) == 0 for a stiffness of free = all) and finds a
%   solution up to a constant.
%
%   What A keeps in memory: at every quadrature point nf doubles, in 3-D 6 for the stiffness, 1
%   for the mass, 7 for stiffness+mass, 11 for elasticity (in 2-D 3, 1, 4, 6), for B-spline
%   and NURBS spaces alike: the map, the coefficient and the quadrature weight folded into the
%   form's point factors (with (p + 1)^d points an element, some (p + 1)^d nf doubles an
%   unknown: 384 at degree 3, some 3 KB); each direction's values and derivatives at its points;
%   the space's weights (a NURBS space's weight function is summed at the points in every
%   application rather than kept); free. An application holds besides its output the vectors of
%   the domain and of a patch and some layers of a patch's points (MatrixFreeApplyCore): for a
%   cubic patch of 64^3 elements some 25 MB. The setup is one pass over the points (a few
%   applications' work) and the host's allocation of the factors.
%
%   Errors (identifier MatrixFreeOperator:<mnemonic>): usage, optionValue, unknownOption,
%   dimensions (not a surface in 2-D or a volume in 3-D), coefficientSize, coefficientError,
%   those of MeshEval and Multipatch's numbering for the geometry, and of MatrixFreeApplyCore
%   for a wrong x (xSize).
%
%   Example: Poisson on the quarter annulus of MeshEval's help, cubic, 32 x 32 elements.
%     s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
%     g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
%     g.knots = {[0 0 0 1 1 1], [0 0 1 1]}; g.order = [3 2];
%     k = (1:31) / 32;
%     space = struct ('knots', {{[0 0 0 0 k 1 1 1 1], [0 0 0 0 k 1 1 1 1]}}, 'order', [4 4]);
%     [A, free] = MatrixFreeOperator ('stiffness', g, 1, 'dirichlet', 1:4, 'space', space);
%     P = FastDiagonalisation (g, 'dirichlet', 1:4, 'space', space);
%     F = LoadVector (g, 1, 'space', space);
%     [u, flag, relres, iterations] = pcg (A, F(free), 1e-8, 100, P);
%
%   See also FastDiagonalisation, StiffnessMatrix, pcg, MatrixFreeApplyCore.
function [A, free] = MatrixFreeOperator (form, geometry, varargin)
  who = 'MatrixFreeOperator';
  if (nargin < 2)
    error ([who ':usage'], ['usage: [A, free] = MatrixFreeOperator (form, geometry, ' ...
           'coefficients..., Name, Value, ...)']);
  end
  count = 1 + any (strcmpi (form, {'stiffness+mass', 'elasticity'}));
  if (numel (varargin) < count)
    error ([who ':usage'], 'the form %s takes %d coefficients before the options.', ...
           char (form), count);
  end
  pb = solver_problem (who, form, geometry, varargin(1:count), varargin(count + 1:end));
  np = numel (pb.patches);
  data = cell (1, 2 + 7 * np);
  data{1} = [pb.ndof, pb.ncomp];
  for k = 1:np
    piece = pb.patches(k);
    [sizes, t1, t2, t3, factors, weights] = ...
        MatrixFreeSetupCore (piece.mesh{:}, pb.code, piece.coefficients{:});
    data(1 + 7 * (k - 1) + (1:7)) = {sizes, t1, t2, t3, factors, weights, piece.gnum};
  end
  free = pb.free;
  data{end} = free;
  A = @(x) MatrixFreeApplyCore (data{:}, x);
end
