% FASTDIAGONALISATION  A preconditioner for pcg: the fast diagonalisation of each patch's form.
%
%   [P, free] = FastDiagonalisation(geometry, Name, Value, ...)
%
%   P(r) applies, to residuals over the free unknowns of MatrixFreeOperator (or of the assembled
%   K(free, free)) with the same options, the inverse of a sum of Kronecker products of 1-D
%   matrices close to the form, natively and on several threads (the same bits on any number):
%     P = sum_k M_1 x .. x K_k x .. x M_d + beta M_1 x .. x M_d,
%   K_t and M_t the 1-D stiffness and mass matrices of direction t, weighted so that P follows
%   the geometry's and the coefficients' scaling of the form: the parametric coefficients'
%   diagonal (c |det J| J^-1 J^-T, and c |det J| for the mass, over W^2 for a NURBS space) is
%   fitted by products of functions of one direction each, in logarithms. Its inverse is exact
%   by each direction's generalised eigenvectors, K_t U_t = M_t U_t Lambda_t (computed once,
%   with the host's chol and eig), applied as mode products one direction at a time:
%     P^-1 = (U_d x .. x U_1) (sum_t Lambda_t + beta)^-1 (U_d x .. x U_1)'.
%   On a box (an affine map, constant coefficients, a B-spline space) it is the form's exact
%   inverse: pcg ends in one or two iterations; on a mild map its iterations do not grow with
%   the mesh or the degree. A NURBS space is scaled by its weights on both sides.
%
%   Over a domain (Multipatch) P is additive Schwarz over the patches: each patch's own P on its
%   functions (Dirichlet on its 'dirichlet' faces, natural on its interfaces), the functions a
%   patch shares with others (the overlap) weighted by 1 / the number of patches that hold them.
%   For elasticity P is block-diagonal: one such solver a component, each fitted to its block.
%   A form without Dirichlet faces is singular: P is then the pseudo-inverse (0 on the
%   constants) and pcg needs a compatible right-hand side.
%
%   Options (name, value pairs), as MatrixFreeOperator's: 'dirichlet', 'components', 'scale',
%   'quadrature', 'space'; and
%     'form'          the form preconditioned: 'stiffness' (default), 'mass', 'stiffness+mass',
%                     'elasticity'
%     'coefficients'  a cell of its coefficients for the fit, as MatrixFreeOperator takes them
%                     (default all 1)
%
%   What P keeps: each direction's U_t and Lambda_t (N_t^2 + N_t doubles a direction, a patch
%   and a component), a scaling and a map of each patch's unknowns: some 3 doubles an unknown.
%   An application holds two vectors of a patch's unknowns besides its output. The setup is one
%   pass over the quadrature points (the fit) and dense eigen-decompositions of N_t x N_t.
%
%   Errors (identifier FastDiagonalisation:<mnemonic>): as MatrixFreeOperator's.
%
%   Example: see MatrixFreeOperator's help.
%
%   See also MatrixFreeOperator, pcg, FastDiagonalisationApplyCore.
function [P, free] = FastDiagonalisation (geometry, varargin)
  who = 'FastDiagonalisation';
  if (nargin < 1)
    error ([who ':usage'], 'usage: [P, free] = FastDiagonalisation (geometry, Name, Value, ...)');
  end
  fail = @(mnemonic, varargin) error ([who ':' mnemonic], varargin{:});
  [found, rest] = take_options (fail, varargin, {'form', 'coefficients'});
  form = 'stiffness';
  if (isfield (found, 'form')), form = found.form; end
  coefficients = [];
  if (isfield (found, 'coefficients'))
    coefficients = found.coefficients;
    if (~iscell (coefficients))
      fail ('optionValue', 'coefficients must be a cell of the form''s coefficients.');
    end
  end
  if (isempty (coefficients))
    coefficients = num2cell (ones (1, 1 + any (strcmpi (form, {'stiffness+mass', 'elasticity'}))));
  end
  pb = solver_problem (who, form, geometry, coefficients, rest);
  n = numel (pb.free);
  where = zeros (pb.ndof * pb.ncomp, 1);
  where(pb.free) = 1:n;
  np = numel (pb.patches);
  pieces = cell (np, pb.ncomp);
  unknowns = cell (np, pb.ncomp);
  for k = 1:np
    piece = pb.patches(k);
    out = cell (1, 8);
    [out{:}] = FastDiagonalisationSetupCore (piece.mesh{:}, pb.code, piece.coefficients{:});
    constants = out{7};
    weights = out{8};
    N = cellfun (@(K) size (K, 1), out(1:2:2 * pb.d - 1));
    for j = 1:pb.ncomp
      keep = arrayfun (@(t) 1:N(t), 1:pb.d, 'UniformOutput', false);
      for s = piece.sides{j}
        t = ceil (s / 2);
        keep{t} = setdiff (keep{t}, ifelse (mod (s, 2) == 1, 1, N(t)));
      end
      arrays = cell (1, 6);
      arrays(:) = {zeros(0, 1)};
      for t = 1:pb.d
        columns = (j - 1) * N(t) + keep{t};
        [U, lambda] = eigenpairs (out{2 * t - 1}(keep{t}, columns), out{2 * t}(keep{t}, columns));
        arrays(2 * t - 1:2 * t) = {U, lambda};
      end
      grid = cell (1, pb.d);
      [grid{:}] = ndgrid (keep{:});
      local = grid{1}(:);
      stride = 1;
      for t = 2:pb.d
        stride = stride * N(t - 1);
        local = local + stride * (grid{t}(:) - 1);
      end
      global_index = local;
      if (~isempty (piece.gnum)), global_index = piece.gnum(local); end
      u = (j - 1) * pb.ndof + global_index;
      scale = ones (numel (u), 1);
      if (~isempty (weights)), scale = 1 ./ weights(local); end
      counts = cellfun (@numel, keep);
      counts(end + 1:3) = 0;
      sizes = [pb.d, counts, constants(:, j)'];
      pieces{k, j} = [{sizes}, arrays, {scale, where(u)}];
      unknowns{k, j} = u;
    end
  end
  % The overlap: a function of several patches weighted by 1 / their number, on both sides.
  all_unknowns = vertcat (unknowns{:});
  held = accumarray (all_unknowns, 1, [pb.ndof * pb.ncomp, 1]);
  for q = 1:numel (pieces)
    pieces{q}{8} = pieces{q}{8} ./ held(unknowns{q});
    if (all (pieces{q}{8} == 1)), pieces{q}{8} = zeros (0, 1); end
    if (isequal (pieces{q}{9}, (1:n)')), pieces{q}{9} = zeros (0, 1); end
  end
  pieces = pieces';
  data = [{n}, pieces{:}];
  free = pb.free;
  P = @(r) FastDiagonalisationApplyCore (data{:}, r);
end

% The generalised eigenvectors of K U = M U diag(lambda), U' M U = I, by the host's chol and eig;
% eigenvalues at rounding's level of the largest (a Neumann direction's constants) are 0.
function [U, lambda] = eigenpairs (K, M)
  L = chol ((M + M') / 2, 'lower');
  S = L \ K / L';
  [Q, D] = eig ((S + S') / 2);
  lambda = diag (D);
  U = L' \ Q;
  biggest = max (abs (lambda));
  lambda(abs (lambda) <= 1e-12 * biggest) = 0;
end

function v = ifelse (test, a, b)
  if (test), v = a; else, v = b; end
end
