% Every plug-in and twin at degree 18, in an Octave that can start no thread for them and runs on
% a small stack: run by the test suite under `ulimit -s 256` with the faults library preloaded
% (tests/support/plugin_faults.cpp). Each twin's rows must be the one-point plug-in's bits.
% Prints 'N passed, N failed'.
t = harness ();
t = expect (t, exist (getenv ('LD_PRELOAD'), 'file') == 2, 'the faults library is preloaded');
P = 24;   % enough work at degree 18 in three directions for a second thread, which is refused
for e = plugin_registry ()
  p = 18;
  n = p + 2;
  U = [zeros(1, p + 1), 0.5, ones(1, p + 1)];
  x = [rand(e.dirs, P - 2), ones(e.dirs, 1), [NaN; 0.5 * ones(e.dirs - 1, 1)]];
  s = p + floor (2 * rand (e.dirs, P));
  args = cell (1, numel (e.kinds));
  for a = 1:numel (e.kinds)
    switch (e.kinds(a))
      case 'x', args{a} = x;
      case 'p', args{a} = p;
      case 'k', args{a} = U;
      case 'w', args{a} = 0.5 + rand (n ^ e.dirs, 1);
      case 's', args{a} = s;
      case 'i', args{a} = n;
    end
  end
  batch = cell (1, numel (e.outputs));
  [batch{:}] = feval ([e.name 'Batch'], args{:});
  same = true;
  for j = [1, P - 1, P]
    one = args;
    one{e.kinds == 'x'} = x(:, j)';
    if (any (e.kinds == 's')), one{e.kinds == 's'} = s(:, j)'; end
    point = cell (1, numel (e.outputs));
    [point{:}] = feval (e.name, one{:});
    for o = 1:numel (e.outputs)
      same = same && isequal (typecast (batch{o}(j, :), 'uint64'), typecast (point{o}, 'uint64'));
    end
  end
  t = expect (t, same, [e.name 'Batch at degree 18: the one-point rows']);
end
report (t);
