% OCTAVE_FIELDS_BENCH  A solution field in Octave: FieldEval against the batch twin alone at the
% same points, and ExportVTK against writing the same bytes with fwrite.
%
%   octave_fields_bench ()          10^6 points, medians of 3 rounds
%   octave_fields_bench ('quick')   10^4 points, one round (a test)
%
% The patch: the quarter annulus refined to cubic C^2 NURBS of 64 x 64 elements, a scalar field
% in that space at P random points. Isoparametric: FieldEval's twin calls (RatSurfShapeGradBatch,
% 65536 points each by default, or one for all with 'chunk', Inf) give the field and the
% geometry; on the coarse geometry (degree 2 x 1, one element) with the refined space as
% 'space', a second, cheaper call a chunk gives the geometry.
% "twin alone" is RatSurfShapeGradBatch on the cubic space at those points. ExportVTK writes the
% patch at 4 subdivisions with the field and its gradient; "fwrite" writes a file of as many
% bytes in the same number of fwrite calls.
function octave_fields_bench (mode)
  if (nargin < 1), mode = 'full'; end
  pkg load nurbs
  quick = strcmp (mode, 'quick');
  P = 1e6; rounds = 3;
  if (quick), P = 1e4; rounds = 1; end
  s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
  g = nrbmak (permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]), ...
              {[0 0 0 1 1 1], [0 0 1 1]});
  k = (1:63) / 64;
  space = nrbkntins (nrbdegelev (g, [1 2]), {k, k});
  ws = reshape (space.coefs(4, :), space.number);
  c = rand (prod (space.number), 1);
  xi = rand (2, P);
  FieldEval (g, c, xi(:, 1:10), 'space', space);       % load the plug-ins before timing
  times = zeros (rounds, 7);
  for r = 1:rounds
    tic; [R, dRdxi, dRdeta, idx] = RatSurfShapeGradBatch (xi, 3, 3, space.knots{:}, ws);
    times(r, 1) = toc;
    clear R dRdxi dRdeta idx;
    tic; [u, gradu, p] = FieldEval (space, c, xi); times(r, 2) = toc;
    clear u gradu p;
    tic; [u, gradu, p] = FieldEval (g, c, xi, 'space', space); times(r, 5) = toc;
    clear u gradu p;
    tic; [u, gradu, p] = FieldEval (space, c, xi, 'chunk', Inf); times(r, 6) = toc;
    clear u gradu p;
    tic; [u, gradu, p] = FieldEval (g, c, xi, 'space', space, 'chunk', Inf); times(r, 7) = toc;
    clear u gradu p;
    name = tempname ();
    tic; files = ExportVTK (name, g, struct ('u', c), 'space', space, 'subdivisions', 4, ...
                            'gradient', true);
    times(r, 3) = toc;
    info = dir (files{1});
    bytes = info.bytes;
    delete (files{1});
    % The same bytes: a header and three arrays (u, its gradient, the points) of doubles.
    n = 257 ^ 2;
    data = {rand(1, n), rand(3, n), rand(3, n)};
    header = repmat ('x', 1, bytes - 8 * (3 + 7 * n));
    tic;
    fid = fopen (name, 'w', 'ieee-le');
    fwrite (fid, header, 'char');
    for a = 1:3
      fwrite (fid, 8 * numel (data{a}), 'uint64'); fwrite (fid, data{a}, 'double');
    end
    fclose (fid);
    times(r, 4) = toc;
    delete (name);
  end
  t = median (times, 1) * 1e3;
  printf ('FieldEval, cubic NURBS field, 64 x 64 elements, %d points (ms, median of %d):\n', ...
          P, rounds);
  printf ('  twin alone %9.1f (one call)\n', t(1));
  rows = {'FieldEval, isoparametric', t(2); 'FieldEval, the space on a coarse geometry', t(5);
          'the same, isoparametric, one call (''chunk'', Inf)', t(6);
          'the same, coarse geometry, one call a twin', t(7)};
  for k = 1:4
    printf ('  %-50s %9.1f   ratio %5.2f\n', rows{k, 1}, rows{k, 2}, rows{k, 2} / t(1));
  end
  printf ('ExportVTK, 257 x 257 points, field and gradient, %d bytes (ms):\n', bytes);
  printf ('  ExportVTK %9.1f   fwrite of as many bytes %9.1f   ratio %5.1f\n', t(3), t(4), ...
          t(3) / t(4));
end
