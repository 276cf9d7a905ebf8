% The Octave package as a user installs it: into a scratch prefix (never the system's package
% lists), loaded, its own tests (pkg test), its help, and its plug-ins against the CMake build
% bit for bit. Run with the package's tarball and the CMake build's toolbox folder.
%   test_octave_package (tarball, toolbox)
function test_octave_package (tarball, toolbox)
  t = harness ();
  scratch = tempname ();
  mkdir (scratch);
  pkg ('prefix', scratch, scratch);
  pkg ('local_list', fullfile (scratch, 'local_list'));
  pkg ('global_list', fullfile (scratch, 'global_list'));
  here = pwd ();
  cd (scratch);   % pkg test writes its log where it runs
  unwind_protect
    pkg ('install', tarball);
    pkg ('load', 'nurbsbasis');
    [mine, everyone] = pkg ('list');
    list = [mine, everyone];
    t = expect (t, numel (list) == 1 && strcmp (list{1}.name, 'nurbsbasis') ...
                   && strncmp (list{1}.dir, scratch, numel (scratch)), 'installed in the scratch prefix');
    t = expect (t, strncmp (which ('RatSurfShapeGrad'), scratch, numel (scratch)), 'found there');
    log = evalc ('pkg test nurbsbasis');
    passed = str2double (regexp (log, 'PASS\s+(\d+)', 'tokens', 'once'));
    failed = str2double (regexp (log, 'FAIL\s+(\d+)', 'tokens', 'once'));
    printf ('pkg test nurbsbasis: PASS %d, FAIL %d\n', passed, failed);
    t = expect (t, passed >= 48 && failed == 0, 'pkg test nurbsbasis passes');
    text = evalc ('help RatSurfShapeGrad');
    t = expect (t, ! isempty (strfind (text, 'RATSURFSHAPEGRAD  Rational basis functions')), ...
                'help RatSurfShapeGrad');
    installed = same_outputs ();
    pkg ('unload', 'nurbsbasis');
    addpath (toolbox);
    built = same_outputs ();
    t = expect (t, isequal (installed, built), sprintf (['%d calls of the installed plug-ins ' ...
                'and the CMake build: the same bits'], numel (built)));
    printf ('%d calls of every plug-in and twin compared bit for bit\n', numel (built));
  unwind_protect_cleanup
    cd (here);
    confirm_recursive_rmdir (false, 'local');
    rmdir (scratch, 's');
  end_unwind_protect
  report (t);
end
