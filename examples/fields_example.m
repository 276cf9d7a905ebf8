% FIELDS_EXAMPLE  Looking at solutions: three solves evaluated at points (FieldEval), drawn into
% PNG pictures without a display (PlotField) and written for ParaView (ExportVTK):
%   - -Laplace(u) = f on the quarter annulus, cubic NURBS, 16 x 16 elements (the README's
%     solve): the errors of u_h and grad u_h at 10^4 random points; docs/fields_annulus.png;
%   - plane-strain elasticity on the plate with a hole (forms_example's), quadratic NURBS,
%     2 x 16 x 16 elements: sigma_xx from the displacement's gradient against Kirsch's exact
%     stress at random points, drawn on the deformed plate; docs/fields_plate.png;
%   - Poisson on the README's L-shape of three patches (u = r^(2/3) sin(2 theta / 3) on the
%     boundary), cubic, 16 x 16 elements a patch: u_h on both sides of the interfaces, and the
%     domain written as a multiblock VTK file; docs/fields_lshape.png.
%   results = fields_example ()         pictures into docs/
%   results = fields_example (folder)   pictures into folder
% Returns the figures in a struct so that a test can check them.
function results = fields_example (folder)
  if (nargin < 1)
    folder = fullfile (fileparts (mfilename ('fullpath')), '..', 'docs');
  end
  if (exist ('OCTAVE_VERSION', 'builtin'))
    pkg load nurbs
  end
  fig = figure ('visible', 'off');
  cleanup = onCleanup (@() close (fig));
  rand ('seed', 1);

  % Poisson on the quarter annulus, zero on its sides.
  s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
  ring = nrbmak (permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]), ...
                 {[0 0 0 1 1 1], [0 0 1 1]});
  k = (1:15) / 16;
  g = nrbkntins (nrbdegelev (ring, [1 2]), {k, k});
  ue = @(x, y) -(x .^ 2 + y .^ 2 - 1) .* (x .^ 2 + y .^ 2 - 4) .* x .* y .^ 2;
  f = @(x, y) 2 * x .* (x .^ 2 + y .^ 2 - 1) .* (x .^ 2 + y .^ 2 - 4) ...
              + 40 * x .* y .^ 2 .* (x .^ 2 + y .^ 2 - 2);
  K = StiffnessMatrix (g, 1); F = LoadVector (g, f);
  fixed = [];
  for side = 1:4, m = MeshEval (g, 'side', side); fixed = union (fixed, m.dofs); end
  free = setdiff (1:numel (F), fixed);
  uh = zeros (size (F)); uh(free) = K(free, free) \ F(free);
  [u, gradu, p] = FieldEval (g, uh, rand (2, 1e4));
  X = p(1, :); Y = p(2, :); r2 = X .^ 2 + Y .^ 2;
  exact = [-(2 * (2 * r2 - 5) .* X .^ 2 .* Y .^ 2 + (r2 - 1) .* (r2 - 4) .* Y .^ 2);
           -(2 * (2 * r2 - 5) .* X .* Y .^ 3 + 2 * (r2 - 1) .* (r2 - 4) .* X .* Y)];
  results.annulus_error = max (abs (u - ue (X, Y)));
  results.annulus_gradient_error = max (max (abs (squeeze (gradu) - exact)));
  clf (fig);
  PlotField (g, uh);
  title ('u_h on the quarter annulus');
  results.pictures = {fullfile(folder, 'fields_annulus.png')};
  print (fig, '-dpngcairo', '-r80', results.pictures{end});
  fprintf ('Annulus: |u - u_h| <= %.1e, |grad u - grad u_h| <= %.1e at 10^4 points\n', ...
           results.annulus_error, results.annulus_gradient_error);

  % The plate with a hole under remote tension 10 along x (forms_example's).
  arc = nrbkntins (nrbcirc (1, [0 0 0], 0, pi / 2), [0.5 0.5]);
  outer = nrbmak ([4 4 4 2 0; 0 2 4 4 4], [0 0 0 0.5 0.5 1 1 1]);
  k = (1:15) / 16;
  g = nrbkntins (nrbdegelev (nrbruled (arc, outer), [0 1]), {[k / 2, 0.5 + k / 2], k});
  E = 1e5; nu = 0.3;
  lambda = E * nu / ((1 + nu) * (1 - 2 * nu)); mu = E / (2 * (1 + nu));
  n = numel (g.coefs) / 4;
  K = ElasticityMatrix (g, lambda, mu);
  side = MeshEval (g, 'side', 4, 'gradient', false);
  sigma = kirsch (side.geo_map(1, :), side.geo_map(2, :));
  normal = reshape (side.normal, 2, []);
  traction = [sigma(1, :) .* normal(1, :) + sigma(3, :) .* normal(2, :);
              sigma(3, :) .* normal(1, :) + sigma(2, :) .* normal(2, :)];
  F = LoadVector (g, reshape (traction, 2, side.nqn, side.nel), 'side', 4);
  bottom = MeshEval (g, 'side', 1, 'gradient', false);
  left = MeshEval (g, 'side', 2, 'gradient', false);
  free = setdiff (1:2 * n, [n + bottom.dofs(:)', left.dofs(:)']);
  uh = zeros (2 * n, 1); uh(free) = K(free, free) \ F(free);
  sxx = @(u, gradu, x) lambda * (gradu(1, 1, :) + gradu(2, 2, :)) + 2 * mu * gradu(1, 1, :);
  [u, gradu, p] = FieldEval (g, uh, rand (2, 1e4));
  exact = kirsch (p(1, :), p(2, :));
  results.plate_stress_error = max (abs (squeeze (sxx (u, gradu, p))' - exact(1, :))) / 30;
  clf (fig);
  PlotField (g, uh, 'value', sxx, 'deform', 200);
  title ('\sigma_{xx} on the plate with a hole (deformed x 200)');
  results.pictures{end + 1} = fullfile (folder, 'fields_plate.png');
  print (fig, '-dpngcairo', '-r80', results.pictures{end});
  fprintf ('Plate: |sigma_xx - Kirsch''s| <= %.1e of the peak (30) at 10^4 points\n', ...
           results.plate_stress_error);

  % The L-shape of three patches, u = r^(2/3) sin(2 theta / 3) on its boundary.
  sq = @(x0, y0) nrbkntins (nrbdegelev (nrbmak (permute (cat (3, [x0 x0+1; x0 x0+1], ...
          [y0 y0; y0+1 y0+1], zeros (2), ones (2)), [3 1 2]), {[0 0 1 1], [0 0 1 1]}), [2 2]), ...
          {(1:15) / 16, (1:15) / 16});
  mp = Multipatch ({sq(-1, 0), sq(0, 0), sq(-1, -1)});
  ul = @(x, y) (x .^ 2 + y .^ 2) .^ (1 / 3) .* sin (2 / 3 * mod (atan2 (y, x), 2 * pi));
  [dofs, values] = DirichletValues (mp, 1:numel (mp.boundaries), ul);
  K = StiffnessMatrix (mp, 1);
  free = setdiff (1:mp.ndof, dofs);
  uh = zeros (mp.ndof, 1); uh(dofs) = values;
  uh(free) = K(free, free) \ (-K(free, dofs) * values);
  jump = 0;
  for i = 1:numel (mp.interfaces)
    face = mp.interfaces(i);
    t = rand (1, 50);
    sides = {face.side1, face.side2}; patches = [face.patch1, face.patch2];
    values = cell (1, 2); points = cell (1, 2);
    for j = 1:2
      xi = [t; t];
      xi(ceil (sides{j} / 2), :) = mod (sides{j} + 1, 2);   % that side's coordinate
      [values{j}, ~, points{j}] = FieldEval (mp, uh, xi, 'patch', patches(j));
    end
    % The second face's points in the first's order: match them by position.
    [~, a] = sortrows (round (points{1}' * 1e12)); [~, b] = sortrows (round (points{2}' * 1e12));
    jump = max ([jump, abs(values{1}(a) - values{2}(b))]);
  end
  results.lshape_jump = jump;
  clf (fig);
  PlotField (mp, uh);
  title ('u_h on an L-shape of three patches');
  results.pictures{end + 1} = fullfile (folder, 'fields_lshape.png');
  print (fig, '-dpngcairo', '-r80', results.pictures{end});
  base = tempname ();
  results.vtk_files = ExportVTK (base, mp, struct ('u', uh), 'gradient', true);
  fprintf ('L-shape: u_h jumps by at most %.1e across the interfaces; %s written\n', jump, ...
           strjoin (results.vtk_files, ', '));
  for k = 1:numel (results.vtk_files), delete (results.vtk_files{k}); end
end

% Kirsch's exact stresses [sxx; syy; sxy] around a hole of radius 1 under remote tension 10
% along x.
function s = kirsch (x, y)
  r2 = 1 ./ (x .^ 2 + y .^ 2); th = atan2 (y, x);
  c2 = cos (2 * th); c4 = cos (4 * th); s2 = sin (2 * th); s4 = sin (4 * th);
  s = 10 * [1 - r2 .* (1.5 * c2 + c4) + 1.5 * r2 .^ 2 .* c4;
            -r2 .* (0.5 * c2 - c4) - 1.5 * r2 .^ 2 .* c4;
            -r2 .* (0.5 * s2 + s4) + 1.5 * r2 .^ 2 .* s4];
end
