% OCTAVE_BENCH  Time per call of every one-point plug-in of the registry in Octave, against the
% host's floor (TrivialMex: the same inputs, outputs of the same sizes, no work). Degree 3; 1024
% basis functions per direction (64 for volumes, whose weights grow with the cube). Each figure is
% the best of several rounds, taken in turn with the other, so that the ratios compare like with
% like. Writes the curve and surface sweep over the number of functions to FILE for the plot.
% The peers, called at their best (vectorised over many points), are in octave_batch_bench.
function octave_bench (file)
  p = 3;
  rounds = 5;
  printf ('%-24s %6s %10s %10s %7s\n', 'plug-in', 'n', 'ours (us)', 'floor (us)', 'ratio');
  for e = plugin_registry ()
    n = 1024;
    if (e.dirs == 3), n = 64; end
    c = make_case (e, p, n);
    [ours, floor_] = measure (c, rounds);
    printf ('%-24s %6d %10.2f %10.2f %7.2f\n', e.name, n, ours, floor_, ours / floor_);
  end

  % The sweep for the plot: our curve and surface and their floors.
  registry = plugin_registry ();
  curve = registry(strcmp ({registry.name}, 'RatCurveShapeGrad'));
  surface = registry(strcmp ({registry.name}, 'RatSurfShapeGrad'));
  fid = fopen (file, 'w');
  fprintf (fid, '# n  curve  curve_floor  surface  surface_floor (us per call)\n');
  for n = [8 16 32 64 128 256 512 1024]
    [a, af] = measure (make_case (curve, p, n), 3);
    [b, bf] = measure (make_case (surface, p, n), 3);
    fprintf (fid, '%d %g %g %g %g\n', n, a, af, b, bf);
  end
  fclose (fid);
end

% The inputs of one plug-in at degree p with n functions per direction and the matching call of
% the floor: uniform clamped knots, smooth weights, the point 0.4321 in every direction.
function c = make_case (e, p, n)
  U = [zeros(1, p), linspace(0, 1, n - p + 1), ones(1, p)];
  x = 0.4321;
  s = p + floor (x * (n - p));
  w = 1 + 0.5 * sin (1:n^e.dirs);
  c.args = cell (1, numel (e.kinds));
  for a = 1:numel (e.kinds)
    switch (e.kinds(a))
      case 'x', c.args{a} = x * ones (1, e.dirs);
      case 'p', c.args{a} = p;
      case 'k', c.args{a} = U;
      case 'w', c.args{a} = w;
      case 's', c.args{a} = s * ones (1, e.dirs);
      case 'i', c.args{a} = s - 1;
    end
  end
  c.f = str2func (e.name);
  c.nout = numel (e.outputs);
  first = c.f (c.args{:});
  c.floorargs = [{rows(first), columns(first)}, c.args];
end

% Best per-call time in microseconds of the plug-in and the floor, over rounds taken in turn.
function [ours, floor_] = measure (c, rounds)
  calls = 20000;
  out = cell (1, c.nout);
  f = c.f; args = c.args; floorargs = c.floorargs;
  ours = Inf; floor_ = Inf;
  for r = 1:rounds
    tic; for k = 1:calls, [out{:}] = f (args{:}); end; ours = min (ours, toc / calls);
    tic; for k = 1:calls, [out{:}] = TrivialMex (floorargs{:}); end; floor_ = min (floor_, toc / calls);
  end
  ours *= 1e6; floor_ *= 1e6;
end
