% HIERARCHICAL_BREAKS  A hierarchical space's patch as field_grid reads a space: per direction
% the union of its active elements' breakpoints (every level's that bound an element), so that
% the grid has points on every element.
%   s = hierarchical_breaks (hs, patch)
function s = hierarchical_breaks (hs, patch)
  mine = hs.elements.patch == patch;
  box = hs.elements.box(mine, :);
  d = size (box, 2) / 2;
  knots = cell (1, d);
  for k = 1:d
    knots{k} = unique ([box(:, 2 * k - 1); box(:, 2 * k)])';
  end
  space = hs.patches{patch};
  if (~hs.isoparametric(patch)), space = hs.spaces{patch}; end
  s = struct ('knots', {knots}, 'order', space.order);
end
