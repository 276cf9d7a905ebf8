% OCTAVE_BENCH  Time per call of every plug-in in Octave, against the host's floor (TrivialMex:
% same inputs, outputs of the same sizes, no work) and against Octave's nurbs package doing the
% same job per point (nrbbasisfunder for the rational bases, findspan + basisfunder for the
% B-spline surface). Degree 3; 1024 basis functions per direction (64 for volumes, whose weights
% grow with the cube). All timings come from this one run: each figure is the best of several
% rounds, taken in turn with the others, so that the ratios compare like with like.
% Writes the curve and surface sweep over the number of functions to FILE for the plot.
function octave_bench (file)
  pkg load nurbs
  p = 3;
  rounds = 5;
  printf ('%-24s %6s %10s %10s %7s %12s %9s\n', 'plug-in', 'n', 'ours (us)', 'floor (us)', ...
          'ratio', 'peer (us)', 'speedup');
  names = {'RatCurveShapeGrad', 'RatCurveShapeHess', 'RatCurveEval', 'RatCurveEvalD2', ...
           'RatSingleShape', 'RatSurfShapeGrad', 'RatSurfGradOnly', 'RatSurfShapeGradAtSpan', ...
           'PolySurfShapeGrad', 'RatSurfShapeHess', 'RatVolShapeGrad', 'RatVolShapeGradAtSpan'};
  for k = 1:numel (names)
    n = 1024;
    if (strncmp (names{k}, 'RatVol', 6)), n = 64; end
    c = make_case (names{k}, p, n);
    [ours, floor_, peer] = measure (c, rounds);
    printf ('%-24s %6d %10.2f %10.2f %7.2f %12.1f %9.0f\n', names{k}, n, ours, floor_, ...
            ours / floor_, peer, peer / ours);
  end

  % The sweep for the plot: our curve and surface, their floor, and the peer.
  sizes = [8 16 32 64 128 256 512 1024];
  fid = fopen (file, 'w');
  fprintf (fid, '# n  curve  curve_floor  curve_peer  surface  surface_floor  surface_peer (us per call)\n');
  for n = sizes
    [a, af, ap] = measure (make_case ('RatCurveShapeGrad', p, n), 3);
    [b, bf, bp] = measure (make_case ('RatSurfShapeGrad', p, n), 3);
    fprintf (fid, '%d %g %g %g %g %g %g\n', n, a, af, ap, b, bf, bp);
  end
  fclose (fid);
end

% The inputs of one plug-in at degree p with n functions per direction, the matching call of the
% floor, and the peer's call.
function c = make_case (name, p, n)
  U = [zeros(1, p), linspace(0, 1, n - p + 1), ones(1, p)];
  x = 0.4321;
  s = p + floor (x * (n - p));
  dirs = 1 + any (strfind (name, 'Surf')) + 2 * any (strfind (name, 'Vol'));
  w = 1 + 0.5 * sin (1:n^dirs);
  rowsout = (p + 1)^dirs;
  coefs = [rand(2, n^dirs); zeros(1, n^dirs); w];
  switch (name)
    case {'RatCurveShapeGrad', 'RatCurveShapeHess'}
      c.args = {x, p, U, w};
    case {'RatCurveEval', 'RatCurveEvalD2'}
      c.args = {x, p, U, w, w}; rowsout = 0;
    case 'RatSingleShape'
      c.args = {s - 1, p, x, U, w}; rowsout = 0;
    case {'RatSurfShapeGrad', 'RatSurfGradOnly', 'RatSurfShapeHess'}
      c.args = {[x x], p, p, U, U, w};
    case 'RatSurfShapeGradAtSpan'
      c.args = {[x x], p, p, U, U, w, [s s]};
    case 'PolySurfShapeGrad'
      c.args = {[x x], p, p, U, U};
    case 'RatVolShapeGrad'
      c.args = {[x x x], p, p, p, U, U, U, w};
    case 'RatVolShapeGradAtSpan'
      c.args = {[x x x], p, p, p, U, U, U, w, [s s s]};
  end
  c.f = str2func (name);
  outputs = struct ('RatCurveShapeGrad', 2, 'RatCurveShapeHess', 3, 'RatCurveEval', 2, ...
                   'RatCurveEvalD2', 3, 'RatSingleShape', 2, 'RatSurfShapeGrad', 3, ...
                   'RatSurfGradOnly', 2, 'RatSurfShapeGradAtSpan', 3, 'PolySurfShapeGrad', 3, ...
                   'RatSurfShapeHess', 6, 'RatVolShapeGrad', 4, 'RatVolShapeGradAtSpan', 4);
  c.nout = outputs.(name);
  c.floorargs = [{rowsout}, c.args];
  if (strcmp (name, 'PolySurfShapeGrad'))
    c.peer = @() poly_peer (x, p, U, n);
  elseif (dirs == 1)
    nrb = nrbmak (coefs, U);
    c.peer = @() nrbbasisfunder (x, nrb);
  else
    nrb = nrbmak (reshape (coefs, [4, n * ones(1, dirs)]), repmat ({U}, 1, dirs));
    c.peer = @() nrbbasisfunder (x * ones (dirs, 1), nrb);
  end
end

function poly_peer (x, p, U, n)
  s = findspan (n - 1, p, x, U);
  a = basisfunder (s, p, x, U, 1);
  b = basisfunder (s, p, x, U, 1);
  R = kron (b(:, 1, :)(:)', a(:, 1, :)(:)');
end

% Best per-call time in microseconds of the plug-in, the floor and the peer, over several
% rounds taken in turn.
function [ours, floor_, peer] = measure (c, rounds)
  calls = 20000;
  peercalls = 40;
  out = cell (1, c.nout);
  f = c.f; args = c.args; floorargs = c.floorargs; pf = c.peer;
  ours = Inf; floor_ = Inf; peer = Inf;
  for r = 1:rounds
    tic; for k = 1:calls, [out{:}] = f (args{:}); end; ours = min (ours, toc / calls);
    tic; for k = 1:calls, [out{:}] = TrivialMex (floorargs{:}); end; floor_ = min (floor_, toc / calls);
    tic; for k = 1:peercalls, pf (); end; peer = min (peer, toc / peercalls);
  end
  ours *= 1e6; floor_ *= 1e6; peer *= 1e6;
end
