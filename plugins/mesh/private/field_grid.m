% FIELD_GRID  The parametric grid ExportVTK and PlotField evaluate a patch on: per direction, the
% points of every element of the space, k equal intervals an element, shared at the breakpoints.
%   grid = field_grid (g, s, subdivisions, fail)
%   g, s          the geometry and the space (structs with knots and order)
%   subdivisions  k, or one a direction; [] for the default: twice the higher degree of the
%                 geometry and the space an element, fewer where a direction has many elements
%                 (those of the rule make at most 64 intervals), and at least 16 intervals a
%                 direction, so that a curved element looks smooth and a fine mesh costs no more
%                 than its elements' corners
%   fail          the caller's fault: fail (mnemonic, format, ...)
%   grid          1 x d cell of rows of increasing coordinates
function grid = field_grid (g, s, subdivisions, fail)
  sk = s.knots;
  if (~iscell (sk)), sk = {sk}; end
  d = numel (sk);
  if (~isempty (subdivisions) && ~any (numel (subdivisions) == [1 d]))
    fail ('optionValue', 'subdivisions must be a number, or one a direction (1 x %d).', d);
  end
  grid = cell (1, d);
  for k = 1:d
    b = unique (double (sk{k}));
    nel = max (numel (b) - 1, 1);
    if (isempty (subdivisions))
      degree = max (double ([g.order(k), s.order(k)])) - 1;
      m = max ([ceil(16 / nel), min(2 * degree, ceil(64 / nel)), 1]);
    else
      m = subdivisions(min (k, end));
    end
    t = (0:m - 1)' / m;
    v = b(1:end - 1) + (b(2:end) - b(1:end - 1)) .* t;
    grid{k} = [v(:)', b(end)];
  end
end
