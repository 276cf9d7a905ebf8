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
                 fullfile (arch, 'RatSurfShapeGrad.oct')), [label ': Octave-native plug-ins with the compiled files']);
  % The compiled functions' help files beside them; in the package's own folder only the
  % m-functions over the cores (which call, not are, compiled functions).
  [~, meshes, mfunctions] = plugin_registry ();
  left = sort ({dir(fullfile (package, '*.m*')).name});
  t = expect (t, numel (dir (fullfile (arch, '*.m'))) == numel (dir (fullfile (arch, '*.oct'))) ...
                 && isequal (left, sort (strcat ([{meshes.name}, mfunctions], '.m'))), ...
              [label ': help files beside them']);
  t = expect (t, numel (MeshEval (annulus_struct ()).jacdet) > 0, [label ': MeshEval runs']);
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

% The quarter annulus, as nrbmak makes it.
function g = annulus_struct ()
  s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
  g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
  g.knots = {[0 0 0 1 1 1], [0 0 1 1]};
  g.order = [3 2];
end
