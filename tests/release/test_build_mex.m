% build_mex.m of the MATLAB archive, run in Octave (Octave's own mex) on the unpacked archive:
% it must build every plug-in and twin beside its help file, and their outputs must be the CMake
% build's bit for bit. Run with the archive and the CMake build's toolbox folder.
%   test_build_mex (zipfile, toolbox)
function test_build_mex (zipfile, toolbox)
  t = harness ();
  scratch = tempname ();
  unzip (zipfile, scratch);
  folder = fullfile (scratch, 'nurbsbasis');
  unwind_protect
    addpath (folder);
    % Octave with the MATLAB folder has no plug-in for it until build_mex has run.
    [t, err] = expect_error (t, @() RatVolShapeGrad ([0.5 0.5 0.5], 1, 1, 1, [0 0 1 1], ...
                             [0 0 1 1], [0 0 1 1], ones (2, 2, 2)), 'nurbsbasis:notBuilt', ...
                             'before build_mex: not built');
    t = expect (t, ! isempty (err) && ! isempty (strfind (err.message, 'build_mex')), ...
                'before build_mex: the message names it');
    % What build_mex sets to compile is put back, after a failed compilation too.
    kernel = fullfile (folder, 'src', 'kernel', 'NURBS.cpp');
    source = fileread (kernel);
    write_file (kernel, [source "\n#error deliberately broken\n"]);
    for before = {'', '-O1 -DSET_BY_THE_USER'}
      if (isempty (before{1})), unsetenv ('CXXFLAGS'); else, setenv ('CXXFLAGS', before{1}); end
      t = expect_error (t, @() evalc ('build_mex RatCurveShapeGrad'), '', ...
                        'build_mex with a source that does not compile');
      t = expect (t, strcmp (getenv ('CXXFLAGS'), before{1}), ...
                  sprintf ('CXXFLAGS "%s" back after a failed build_mex', before{1}));
    end
    write_file (kernel, source);
    evalc ('build_mex ()');
    t = expect (t, strcmp (getenv ('CXXFLAGS'), '-O1 -DSET_BY_THE_USER'), ...
                'CXXFLAGS back after build_mex');
    unsetenv ('CXXFLAGS');
    for e = plugin_registry ()
      for name = {e.name, [e.name 'Batch']}
        t = expect (t, exist (fullfile (folder, [name{1} '.mex']), 'file') != 0, [name{1} '.mex built']);
      end
    end
    t = expect (t, strcmp (which ('RatVolShapeGrad'), fullfile (folder, 'RatVolShapeGrad.mex')), ...
                'the built plug-ins are found');
    archive = same_outputs ();
    rmpath (folder);
    addpath (toolbox);
    built = same_outputs ();
    t = expect (t, isequal (archive, built), sprintf (['%d calls of the plug-ins build_mex made ' ...
                'and the CMake build: the same bits'], numel (built)));
    printf ('%d calls of every plug-in and twin compared bit for bit\n', numel (built));
  unwind_protect_cleanup
    confirm_recursive_rmdir (false, 'local');
    rmdir (scratch, 's');
  end_unwind_protect
  report (t);
end

function write_file (file, text)
  fid = fopen (file, 'w');
  fputs (fid, text);
  fclose (fid);
end
