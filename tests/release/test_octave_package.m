% The Octave package as a user installs it, into scratch prefixes (never the system's package
% lists), once with one prefix for everything and once with the architecture-dependent files under
% a prefix of their own (pkg prefix A B): installed, loaded, the plug-ins and their help files in
% its architecture-dependent folder, its own tests (pkg test), its help, its
% plug-ins against the CMake build bit for bit, and uninstalled without a trace. Run with the
% package's tarball and the CMake build's toolbox folder.
%   test_octave_package (tarball, toolbox)
function test_octave_package (tarball, toolbox)
  t = harness ();
  addpath (toolbox);
  built = same_outputs ();
  rmpath (toolbox);
  scratch = tempname ();
  mkdir (scratch);
  pkg ('local_list', fullfile (scratch, 'local_list'));
  pkg ('global_list', fullfile (scratch, 'global_list'));
  here = pwd ();
  cd (scratch);   % pkg test writes its log where it runs
  unwind_protect
    for prefixes = {{'both', 'both'}, {'files', 'binaries'}}
      A = fullfile (scratch, prefixes{1}{1});
      B = fullfile (scratch, prefixes{1}{2});
      t = install_test_uninstall (t, tarball, built, A, B);
    end
  unwind_protect_cleanup
    cd (here);
    confirm_recursive_rmdir (false, 'local');
    rmdir (scratch, 's');
  end_unwind_protect
  report (t);
end

function t = install_test_uninstall (t, tarball, built, A, B)
  label = sprintf ('pkg prefix %s %s', A, B);
  under = @(path, folder) strncmp (path, [folder filesep], numel (folder) + 1);
  pkg ('prefix', A, B);
  pkg ('install', tarball);
  pkg ('load', 'nurbsbasis');
  [mine, everyone] = pkg ('list');
  list = [mine, everyone];
  t = expect (t, numel (list) == 1 && strcmp (list{1}.name, 'nurbsbasis') ...
                 && under (list{1}.dir, A), [label ': installed there']);
  if (numel (list) != 1)
    return;
  end
  package = list{1}.dir;
  arch = fileparts (which ('RatSurfShapeGrad'));
  t = expect (t, under (arch, B) && strcmp (which ('RatSurfShapeGrad'), ...
                 fullfile (arch, 'RatSurfShapeGrad.mex')), [label ': plug-ins with the compiled files']);
  t = expect (t, numel (dir (fullfile (arch, '*.m'))) == numel (dir (fullfile (arch, '*.mex'))) ...
                 && isempty (dir (fullfile (package, '*.m*'))), [label ': help files beside them']);
  log = evalc ('pkg test nurbsbasis');
  passed = str2double (regexp (log, 'PASS\s+(\d+)', 'tokens', 'once'));
  failed = str2double (regexp (log, 'FAIL\s+(\d+)', 'tokens', 'once'));
  printf ('%s: pkg test nurbsbasis: PASS %d, FAIL %d\n', label, passed, failed);
  t = expect (t, passed >= 48 && failed == 0, [label ': pkg test nurbsbasis passes']);
  text = evalc ('help RatSurfShapeGrad');
  t = expect (t, ! isempty (strfind (text, 'RATSURFSHAPEGRAD  Rational basis functions')), ...
              [label ': help RatSurfShapeGrad']);
  installed = same_outputs ();
  t = expect (t, isequal (installed, built), sprintf (['%s: %d calls of the installed plug-ins ' ...
              'and the CMake build: the same bits'], label, numel (built)));
  pkg ('unload', 'nurbsbasis');
  pkg ('uninstall', 'nurbsbasis');
  [mine, everyone] = pkg ('list');
  t = expect (t, isempty ([mine, everyone]) && ! exist (package, 'dir') && ! exist (arch, 'dir'), ...
              [label ': uninstalled, its folders gone']);
end
