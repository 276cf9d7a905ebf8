% REFINE_MARKED  RefineElements' and RefineFunctions' call: the marks read, the space refined by
% its native core (mode 1: elements, 2: functions).
function hs = refine_marked (who, hs, marked, mode, given)
  if (given < 2)
    error ([who ':usage'], 'usage: hs = %s (hs, marked)', who);
  end
  if (~is_hierarchical (hs))
    error ([who ':notHierarchical'], ['hs must be a hierarchical space as HierarchicalSpace ' ...
           'makes it; found a %s.'], class (hs));
  end
  if (~(isnumeric (marked) || islogical (marked)) || ~isreal (marked) || issparse (marked) || ...
      (~isvector (marked) && ~isempty (marked)))
    error ([who ':markType'], 'marked must be a vector of indices; found a %s.', class (marked));
  end
  if (isempty (marked)), return; end
  hs = hierarchical_space (who, hs, mode, reshape (double (marked), 1, []));
end
