% BASIS_FIGURE  The picture of the README, made with the plug-ins: the basis functions of a cubic
% rational curve and their first derivatives (RatSingleShapeBatch, each function over the whole
% domain), and one bicubic rational surface function (RatSurfShapeGradBatch on a grid, the
% function picked out by idx). Writes a PNG to FILE (default ../docs/basis.png).
%   octave-cli --eval "addpath('build/toolbox'); cd examples; basis_figure"
function basis_figure (file)
  if (nargin < 1), file = fullfile ('..', 'docs', 'basis.png'); end
  if (exist ('OCTAVE_VERSION', 'builtin'))
    warning ('off', 'Octave:gnuplot-graphics');
    graphics_toolkit ('gnuplot');   % draws without a display
  end
  p = 3;
  knot = [0 0 0 0 0.2 0.45 0.55 0.8 1 1 1 1];
  w = [1 0.7 1.6 0.9 1.2 0.6 1.4 1];
  n = numel (knot) - p - 1;
  u = linspace (0, 1, 801);
  N = zeros (n, numel (u)); dN = N;
  for i = 1:n
    [N(i, :), dN(i, :)] = RatSingleShapeBatch (i, p, u, knot, w);
  end

  % One function of a bicubic surface, on a grid: where idx holds it, its value, else 0.
  U = [0 0 0 0 0.3 0.6 1 1 1 1]; V = [0 0 0 0 0.5 1 1 1 1];
  nu = numel (U) - 4; nv = numel (V) - 4;
  ww = 1 + 0.5 * cos (3 * (1:nu)' + 2 * (1:nv));
  [a, b] = ndgrid (linspace (0, 1, 61), linspace (0, 1, 61));
  [R, ~, ~, idx] = RatSurfShapeGradBatch ([a(:)'; b(:)'], 3, 3, U, V, ww);
  g = sub2ind ([nu nv], 3, 3);   % the function of control point (3, 3)
  F = reshape (sum (R .* (idx == g), 2), size (a));

  h = figure ('visible', 'off', 'position', [0 0 1500 430]);
  subplot (1, 3, 1);
  plot (u, N, 'linewidth', 1.5);
  title (sprintf ('cubic rational basis, %d functions', n));
  xlabel ('\xi'); axis ([0 1 0 1.05]); grid on;
  subplot (1, 3, 2);
  plot (u, dN, 'linewidth', 1.5);
  title ('their first derivatives'); xlabel ('\xi'); grid on;
  subplot (1, 3, 3);
  mesh (a, b, F);
  title ('one bicubic rational surface function'); xlabel ('\xi'); ylabel ('\eta');
  view (-35, 35);
  print (h, file, '-dpngcairo', '-r90');
  close (h);
  printf ('wrote %s\n', file);
end
