% OCTAVE_DEGREE_BENCH  The forms at high degree in Octave, a whole call, element by element and by
% sum factorisation, against the output's floor.
%
%   octave_degree_bench (file)            p = 1..8 on the thick ring, p = 5 on the annulus
%   octave_degree_bench (file, 'quick')   p = 1..3, N = 2 (a test)
%
% Cases: the thick ring (3-D) and the quarter annulus (2-D) of octave_forms_bench under B-splines
% of degree p, C^(p-1), N uniform elements a direction, p + 1 Gauss nodes a direction; the
% coefficients 1 + x^2 through a handle (lambda = mu = that for the elasticity). N falls with the
% degree so that an element-by-element call stays near a second or two: 8 up to p = 4, then 6, 4,
% 3, 2 (the elasticity: 8, 8, 6, 4, 3, 2, 2, 1).
%
% Columns, nanoseconds per quadrature point of one whole call (threads as they come):
%   elements   StiffnessMatrix / MassMatrix / ElasticityMatrix with NURBS_FORMS_METHOD=elements:
%              the element path, the only one before sum factorisation
%   sumfact    the same with NURBS_FORMS_METHOD=sumfact
%   auto       as a user calls it (the forms' own choice)
%   floor      TrivialMex creating a sparse matrix of the result's size and stored entries
% and the ratios elements / sumfact and sumfact / floor, the call's milliseconds, and the
% largest difference of the two paths' matrices relative to the Frobenius norm.
% Each figure is the best of three calls (one where a call takes more than 2 s).
function octave_degree_bench (file, mode)
  if (nargin < 2 || isempty (mode)), mode = 'full'; end
  quick = strcmp (mode, 'quick');
  if (isempty (which ('TrivialMex')))
    error ('octave_degree_bench: TrivialMex is not on the path (build/bench)');
  end
  s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
  annulus.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
  annulus.knots = {[0 0 0 1 1 1], [0 0 1 1]};
  annulus.order = [3 2];
  annulus.form = 'B-NURBS';
  annulus.number = [3 2];
  annulus.dim = 4;
  ring = annulus;
  ring.coefs = cat (4, annulus.coefs, annulus.coefs);
  ring.coefs(3, :, :, 2) = ring.coefs(4, :, :, 2);
  ring.knots = {[0 0 0 1 1 1], [0 0 1 1], [0 0 1 1]};
  ring.order = [3 2 2];
  ring.number = [3 2 2];
  forms = {'stiffness', 'mass', 'elasticity'};
  if (quick)
    runs = {ring, 3, 1:3, 2, 2};
  else
    runs = {ring, 3, 1:8, [8 8 8 8 6 4 3 2], [8 8 6 4 3 2 2 1]; annulus, 2, 5, 64, 64};
  end
  fid = fopen (file, 'w');
  printf ('%-11s %2s %2s %4s %9s | %11s %11s %11s %11s | %8s %8s | %9s %9s | %8s\n', 'form', ...
          'd', 'p', 'N', 'points', 'elements', 'sumfact', 'auto', 'floor', 'el/sf', ...
          'sf/floor', 'el ms', 'sf ms', 'rel diff');
  for r = 1:size (runs, 1)
    g = runs{r, 1}; d = runs{r, 2}; degrees = runs{r, 3};
    for ip = 1:numel (degrees)
      p = degrees(ip);
      if (d == 3)
        c = @(x, y, z) 1 + x .^ 2;
      else
        c = @(x, y) 1 + x .^ 2;
      end
      for iF = 1:numel (forms)
        Ns = runs{r, 4 + strcmp (forms{iF}, 'elasticity')};
        N = Ns(min (ip, numel (Ns)));
        U = [zeros(1, p), linspace(0, 1, N + 1), ones(1, p)];
        S = struct ('knots', {repmat({U}, 1, d)}, 'order', (p + 1) * ones (1, d));
        points = (N * (p + 1)) ^ d;
        switch (forms{iF})
          case 'stiffness'
            run = @() StiffnessMatrix (g, c, 'space', S, 'quadrature', p + 1);
          case 'mass'
            run = @() MassMatrix (g, c, 'space', S, 'quadrature', p + 1);
          case 'elasticity'
            run = @() ElasticityMatrix (g, c, c, 'space', S, 'quadrature', p + 1);
        end
        setenv ('NURBS_FORMS_METHOD', 'elements');
        [t(1), Ke] = best (run);
        setenv ('NURBS_FORMS_METHOD', 'sumfact');
        [t(2), Ks] = best (run);
        setenv ('NURBS_FORMS_METHOD', '');
        t(3) = best (run);
        n = size (Ks, 1); nz = nnz (Ks);
        t(4) = best (@() TrivialMex ('sparse', [n n nz]));
        rel = norm (Ks - Ke, 'fro') / norm (Ke, 'fro');
        clear Ke Ks
        ns = 1e9 * t / points;
        printf ('%-11s %2d %2d %4d %9d | %11.0f %11.0f %11.0f %11.1f | %8.1f %8.1f | %9.1f %9.1f | %8.1e\n', ...
                forms{iF}, d, p, N, points, ns, t(1) / t(2), t(2) / t(4), 1e3 * t(1), ...
                1e3 * t(2), rel);
        fprintf (fid, '%s %d %d %d %d %g %g %g %g %g\n', forms{iF}, d, p, N, points, ns, rel);
        fflush (stdout);
      end
    end
  end
  fclose (fid);
end

% The best of three calls (of one where the first takes more than 2 s), and the first result.
function [t, K] = best (run)
  tic; K = run (); t = toc;
  if (t > 2), return; end
  for k = 1:2
    tic; out = run (); t = min (t, toc);
    clear out
  end
end
