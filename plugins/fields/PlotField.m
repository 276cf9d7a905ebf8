% PLOTFIELD  Draw a discrete field over a patch or a domain in the current axes.
%
%   h = PlotField(geometry, coefs)
%   h = PlotField(mp, coefs, Name, Value, ...)
%
%   Colours the domain by the field's values, evaluated by FieldEval on a grid of points on every
%   element: a 2-D domain (a plane region or a surface in 3-D) as one coloured surface a patch,
%   a 3-D domain as its coloured boundary faces (a patch's six faces; over a domain, the faces
%   on no interface, mp.boundaries), a curve as a coloured line; then a colorbar. Works without
%   a display: figure ('visible', 'off'), then print -dpngcairo (gnuplot's own PNG), or print
%   -dpng where Ghostscript is installed.
%
%   geometry  a NURBS patch as nrbmak makes it, mp a domain (Multipatch), or hs a hierarchical
%             space (HierarchicalSpace; each patch drawn on its elements' breakpoints).
%   coefs     as FieldEval's: a scalar field, or a vector field numbered as ElasticityMatrix
%             numbers its unknowns (over a domain, in the domain's numbering).
%   Options (name, value pairs; names in any case; given twice, the last wins):
%     'component'     for a vector field, the component to colour by (default 0: the
%                     magnitude)
%     'value'         a handle f(u, gradu, x) of FieldEval's outputs at P points (ncomp x P,
%                     ncomp x rdim x P, rdim x P) returning P real values to colour by instead:
%                     a stress, a flux, an error (logical values, a region, as 0 and 1)
%     'deform'        scale s: for a vector field of as many components as physical
%                     coordinates, draw the deformed shape x + s u (default 0: undeformed)
%     'subdivisions'  intervals an element edge, as ExportVTK's (default as there)
%     'space'         for a patch, the field's space as FieldEval's
%     'edges'         true: draw the elements' edges over a surface (a hierarchical space's
%                     active elements: its refined mesh), black lines (default false)
%
%   h  the graphics handles, one a patch (a face in 3-D), then the colorbar's.
%
%   Errors (identifier PlotField:<mnemonic>): usage, unknownOption, optionValue, and those of
%   FieldEval.
%
%   Example: the radius on the quarter annulus of MeshEval's help, written to a file.
%     s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
%     g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
%     g.knots = {[0 0 0 1 1 1], [0 0 1 1]}; g.order = [3 2];
%     figure ("visible", "off"); PlotField (g, [x(:); y(:)]); print -dpngcairo annulus.png
%
%   See also FieldEval, ExportVTK.
function h = PlotField (geometry, coefs, varargin)
  who = 'PlotField';
  fail = @(mnemonic, varargin) error ([who ':' mnemonic], varargin{:});
  if (nargin < 2)
    fail ('usage', 'usage: h = PlotField (geometry_or_mp, coefs, Name, Value, ...)');
  end
  component = 0; deform = 0; subdivisions = []; space = {}; value = []; edges = false;
  if (mod (numel (varargin), 2) ~= 0)
    fail ('unknownOption', 'options must come in name, value pairs; found %d arguments.', ...
          numel (varargin));
  end
  for k = 1:2:numel (varargin)
    name = varargin{k}; v = varargin{k + 1};
    if (~ischar (name) || ~isrow (name)), name = ''; end
    switch (lower (name))
      case 'component'
        if (~isnumeric (v) || ~isscalar (v) || ~isreal (v) || v < 0 || v ~= fix (v))
          fail ('optionValue', 'component must be a component''s index, or 0 for the magnitude.');
        end
        component = double (v);
      case 'value'
        if (~isa (v, 'function_handle'))
          fail ('optionValue', 'value must be a function handle f(u, gradu, x).');
        end
        value = v;
      case 'deform'
        if (~isnumeric (v) || ~isscalar (v) || ~isreal (v) || ~isfinite (v))
          fail ('optionValue', 'deform must be a finite scale.');
        end
        deform = double (v);
      case 'subdivisions'
        if (~isnumeric (v) || isempty (v) || ~isreal (v) || any (v(:) < 1 | v(:) > 1e4 | ...
                                                                v(:) ~= fix (v(:))))
          fail ('optionValue', 'subdivisions must be whole numbers from 1 to 10000.');
        end
        subdivisions = double (v(:)');
      case 'space'
        space = {'space', v};
      case 'edges'
        if (~(isnumeric (v) || islogical (v)) || ~isscalar (v) || ~(v == 0 || v == 1))
          fail ('optionValue', 'edges must be true or false.');
        end
        edges = logical (v);
      otherwise
        fail ('unknownOption', ['option %d must be one of component, value, deform, ' ...
                                  'subdivisions, space, edges.'], ...
              (k + 1) / 2);
    end
  end

  % A hierarchical space's patches as a domain's, each on the breakpoints of its elements.
  domain = is_domain (geometry) || is_hierarchical (geometry);
  if (domain)
    npatch = geometry.npatch;
    if (~isempty (space))
      fail ('optionValue', 'space is the domain''s own over a domain (Multipatch).');
    end
  else
    npatch = 1;
  end
  % Every piece evaluated before anything is drawn: a fault leaves the axes as they were.
  pieces = {};
  lines = {};
  for i = 1:npatch
    if (domain)
      g = geometry.patches{i}; s = geometry.spaces{i}; at = {'patch', i}; target = geometry;
      if (is_hierarchical (geometry)), s = hierarchical_breaks (geometry, i); end
      faces = [geometry.boundaries([geometry.boundaries.patch] == i).side];
    else
      g = geometry; s = g; at = space; target = g;
      if (~isempty (space)), s = space{2}; end
      faces = [];
    end
    if (~isstruct (g) || ~isfield (g, 'order') || ~isfield (g, 'knots') || ~isstruct (s) || ...
        ~isfield (s, 'knots'))
      FieldEval (target, coefs, 0, at{:});              % names the fault
    end
    grid = field_grid (g, s, subdivisions, fail);
    d = numel (grid);
    if (d == 3)
      if (~domain), faces = 1:6; end
      for side = faces
        k = ceil (side / 2);
        face = grid;
        face{k} = grid{k}(1 + (numel (grid{k}) - 1) * (mod (side, 2) == 0));
        pieces{end + 1} = evaluate (target, coefs, face, at, component, value, deform, fail);
      end
    else
      pieces{end + 1} = evaluate (target, coefs, grid, at, component, value, deform, fail);
      if (edges && d == 2)
        lines{end + 1} = element_edges (target, coefs, s, at, deform, geometry);
      end
    end
  end

  held = ishold ();
  h = [];                                 % numbers in Octave, graphics objects in MATLAB
  for k = 1:numel (pieces)
    p = pieces{k};
    X = p.x;
    X(end + 1:3, :, :) = 0;
    if (size (p.c, 1) == 1 || size (p.c, 2) == 1)
      % A curve: a coloured line, as a degenerate surface.
      h(end + 1) = surface ([X(1, :); X(1, :)], [X(2, :); X(2, :)], [X(3, :); X(3, :)], ...
                      [p.c(:)'; p.c(:)'], 'FaceColor', 'none', 'EdgeColor', 'interp', ...
                      'LineWidth', 2);
    else
      h(end + 1) = surface (squeeze (X(1, :, :)), squeeze (X(2, :, :)), squeeze (X(3, :, :)), ...
                            p.c, 'EdgeColor', 'none', 'FaceColor', 'interp');
    end
    hold on;
  end
  for k = 1:numel (lines)
    X = lines{k};
    X(end + 1:3, :) = 0;
    % A plane's edges just above its surface (z 0), so that they are drawn over it.
    if (size (lines{k}, 1) == 2), X(3, :) = 1e-6 * max (abs (X(:))); end
    h(end + 1) = line (X(1, :), X(2, :), X(3, :), 'Color', 'k', 'LineWidth', 0.5);
  end
  if (~held), hold off; end
  if (all (cellfun (@(p) p.rdim, pieces) <= 2))
    view (2);
  else
    view (3);
  end
  axis equal;
  h(end + 1) = colorbar ();
end

% The edges of a surface patch's elements (a hierarchical space's active ones), as the rows of
% points of one polyline, NaN between edges.
function X = element_edges (target, coefs, s, at, deform, geometry)
  if (is_hierarchical (geometry))
    box = geometry.elements.box(geometry.elements.patch == at{2}, :);
  else
    b = cellfun (@(k) unique (double (k)), knots_cell (s), 'UniformOutput', false);
    [i, j] = ndgrid (1:numel (b{1}) - 1, 1:numel (b{2}) - 1);
    box = [b{1}(i(:))', b{1}(i(:) + 1)', b{2}(j(:))', b{2}(j(:) + 1)'];
  end
  n = 9;
  t = (0:n - 1) / (n - 1);
  nel = size (box, 1);
  u = zeros (2, n, 4, nel);
  for e = 1:nel
    [a0, a1, b0, b1] = deal (box(e, 1), box(e, 2), box(e, 3), box(e, 4));
    u(:, :, 1, e) = [a0 + (a1 - a0) * t; b0 + 0 * t];
    u(:, :, 2, e) = [a1 + 0 * t; b0 + (b1 - b0) * t];
    u(:, :, 3, e) = [a1 - (a1 - a0) * t; b1 + 0 * t];
    u(:, :, 4, e) = [a0 + 0 * t; b1 - (b1 - b0) * t];
  end
  [v, ~, X] = FieldEval (target, coefs, reshape (u, 2, []), at{:});
  if (deform ~= 0), X = X + deform * v; end
  X = reshape (X, size (X, 1), n, []);
  X(:, end + 1, :) = NaN;
  X = reshape (X, size (X, 1), []);
end

function k = knots_cell (s)
  k = s.knots;
  if (~iscell (k)), k = {k}; end
end

% The points and colours of a grid of one patch (or face: one coordinate fixed), as 2-D arrays.
function p = evaluate (target, coefs, grid, at, component, value, deform, fail)
  [u, gradu, x] = FieldEval (target, coefs, grid, at{:});
  ncomp = size (u, 1); rdim = size (x, 1);
  N = prod (cellfun (@numel, grid));
  if (~isempty (value))
    c = value (reshape (u, ncomp, N), reshape (gradu, ncomp, rdim, N), reshape (x, rdim, N));
    if (islogical (c)), c = double (c); end           % a region, coloured 0 and 1
    if (~isnumeric (c))
      fail ('optionValue', 'value must return one real number a point; found a %s.', class (c));
    elseif (~isreal (c))
      fail ('optionValue', ['value must return one real number a point; found complex ' ...
                            'numbers (take their abs or real part).']);
    elseif (numel (c) ~= N)
      fail ('optionValue', 'value must return one real value a point (%d); found %d.', N, ...
            numel (c));
    end
    c = double (c);
  end
  shape = cellfun (@numel, grid);
  shape = shape(shape > 1 | numel (grid) == 1);
  if (numel (shape) == 1), shape(2) = 1; end
  u = reshape (u, [ncomp, shape]);
  x = reshape (x, [rdim, shape]);
  if (component > ncomp)
    fail ('optionValue', 'component must be at most the field''s %d components.', ncomp);
  end
  if (deform ~= 0)
    if (ncomp ~= rdim)
      fail ('optionValue', ['deform needs a vector field of %d components, one a physical ' ...
                            'coordinate; found %d.'], rdim, ncomp);
    end
    x = x + deform * u;
  end
  if (~isempty (value))
    % c as the handle gave it
  elseif (component > 0)
    c = u(component, :, :);
  elseif (ncomp == 1)
    c = u;
  else
    c = sqrt (sum (u .^ 2, 1));
  end
  p = struct ('x', x, 'c', reshape (c, shape), 'rdim', rdim);
end


%!error id=PlotField:usage PlotField (1)
%!error id=PlotField:unknownOption PlotField (1, 1, 'colour', 1)
