% PROLONGFIELD  A field of a hierarchical space in a refined space: the same field, exactly.
%
%   u = ProlongField(hs_coarse, hs_fine, u)
%
%   hs_fine must refine hs_coarse (made from it by RefineElements or RefineFunctions: the same
%   patches and options, every refined cell of hs_coarse refined in hs_fine), so that its space
%   holds hs_coarse's. u: hs_coarse.ndof coefficients a component (ncomp hs_coarse.ndof for a
%   vector field, numbered as ElasticityMatrix numbers its unknowns); the result holds the same
%   field's hs_fine.ndof coefficients a component. Each fine function's coefficient is read from
%   the field's coefficients of the function's level on one active element of that level in its
%   support (the coarser functions' part taken off for a hierarchical basis), so that the cost
%   is a few element operations a function and the field is reproduced to rounding.
%
%   Errors (identifier ProlongField:<mnemonic>): usage, notHierarchical, notNested,
%   coefsLength, and those of HierarchicalSpace for a space that was changed by hand.
%
%   Example: refine, move the field, and compare at a point.
%     g = struct ('coefs', permute (cat (3, [0 1; 0 1], [0 0; 1 1], zeros (2), ones (2)), ...
%                 [3 1 2]), 'knots', {{[0 0 1 1], [0 0 1 1]}}, 'order', [2 2]);
%     k = (1:3) / 4;
%     hs = HierarchicalSpace (g, 'space', struct ('knots', {{[0 0 0 k 1 1 1], [0 0 0 k 1 1 1]}}, ...
%                                                  'order', [3 3]));
%     fine = RefineElements (hs, 1:4);
%     u = rand (hs.ndof, 1);
%     v = ProlongField (hs, fine, u);
%     FieldEval (hs, u, [0.1; 0.2]) - FieldEval (fine, v, [0.1; 0.2])
%
%   See also RefineElements, FieldEval, HierarchicalSpace.
function u = ProlongField (coarse, fine, u)
  who = 'ProlongField';
  if (nargin < 3)
    error ([who ':usage'], 'usage: u = ProlongField (hs_coarse, hs_fine, u)');
  end
  if (~is_hierarchical (coarse) || ~is_hierarchical (fine))
    error ([who ':notHierarchical'], 'hs_coarse and hs_fine must be hierarchical spaces.');
  end
  same = {'npatch', 'patches', 'spaces', 'isoparametric', 'truncated', 'subdivision'};
  for k = 1:numel (same)
    if (~isfield (coarse, same{k}) || ~isfield (fine, same{k}) || ...
        ~isequal (coarse.(same{k}), fine.(same{k})))
      error ([who ':notNested'], ['hs_fine must refine hs_coarse: the same patches and ' ...
             'options (%s differs).'], same{k});
    end
  end
  if (~(isnumeric (u) || islogical (u)) || ~isreal (u) || issparse (u) || (~isvector (u) && ~isempty (u)))
    error ([who ':coefsLength'], 'u must be a real vector of coefficients.');
  end
  args = hierarchical_arguments (who, fine, {}, {});
  args{1} = [args{1}, 0, 3, 1, 0];
  args{end - 1} = double (coarse.refined);
  args{end} = double (u(:));
  u = HierarchicalSpaceCore (args{:});
  u = u(:);
end

%!test
%! g = struct ('coefs', permute (cat (3, [0 1; 0 1], [0 0; 1 1], zeros (2), ones (2)), [3 1 2]), ...
%!             'knots', {{[0 0 1 1], [0 0 1 1]}}, 'order', [2 2]);
%! k = (1:3) / 4;
%! hs = HierarchicalSpace (g, 'space', struct ('knots', {{[0 0 0 k 1 1 1], [0 0 0 k 1 1 1]}}, 'order', [3 3]));
%! fine = RefineElements (hs, 1:4);
%! u = ProlongField (hs, fine, ones (hs.ndof, 1));
%! assert (u, ones (fine.ndof, 1), 1e-14);
%!error id=ProlongField:notNested ProlongField (RefineElements (HierarchicalSpace (struct ('coefs', permute (cat (3, [0 1; 0 1], [0 0; 1 1], zeros (2), ones (2)), [3 1 2]), 'knots', {{[0 0 1 1], [0 0 1 1]}}, 'order', [2 2]), 'truncated', false), 1), HierarchicalSpace (struct ('coefs', permute (cat (3, [0 1; 0 1], [0 0; 1 1], zeros (2), ones (2)), [3 1 2]), 'knots', {{[0 0 1 1], [0 0 1 1]}}, 'order', [2 2])), 1)
