% HARNESS  Counters for a plain Octave test script.
%   t = harness ();                         start counting
%   t = expect (t, ok, label);               one check
%   t = expect_error (t, f, id, label);      f () must raise identifier id ('' for none)
%   report (t);                              print 'N passed, N failed' and exit with 0 or 1
function t = harness ()
  t = struct ('passed', 0, 'failed', 0);
end
