% The help of every plug-in and twin of the registry, as a user reads it: `help Name` shows the
% call form, and the example it gives runs. Prints 'N passed, N failed'.
1;  % a script: its helper functions first

% The code of a help text's example: the lines after "Example" that are indented as code.
function code = example_code (text)
  code = '';
  at = strfind (text, 'Example');
  if (isempty (at)), return; end
  lines = strsplit (text(at(1):end), "\n");
  for k = 2:numel (lines)
    if (! strncmp (lines{k}, '     ', 5)), continue; end
    code = [code, strtrim(lines{k}), "\n"];
  end
  code = strrep (code, "...\n", ' ');
end

% Runs code in a workspace of its own, with no figure window for a plot.
function ok = runs (code)
  plot = @(varargin) [];
  try
    evalc (code);
    ok = true;
  catch err
    printf ('%s\n', err.message);
    ok = false;
  end
end

t = harness ();
[registry, meshes, ~, cores] = plugin_registry ();
% Every plug-in and twin, every call over a whole mesh with its native core, the solvers' cores
% and the m-functions over them.
names = [arrayfun(@(e) {e.name, [e.name 'Batch']}, registry, 'UniformOutput', false), ...
         arrayfun(@(e) {e.name, e.core}, meshes, 'UniformOutput', false), ...
         {{cores.name, 'MatrixFreeOperator', 'FastDiagonalisation'}}];
names = [names{:}];
for name = names
  text = evalc (sprintf ('help %s', name{1}));
  t = expect (t, ! isempty (strfind (text, [name{1} '('])), [name{1} ': help shows the call']);
  code = example_code (text);
  if (! isempty (code))
    t = expect (t, runs (code), [name{1} ': the example runs']);
  end
end

% Where no plug-in is built (a Mac, or Octave with the MATLAB folder), a call runs the help file,
% which must say what to do while `help` still reads it; built beside it, the plug-in wins.
toolbox = fileparts (which ('RatCurveShapeGrad'));
scratch = tempname ();
mkdir (scratch);
unwind_protect
  addpath (scratch);   % ahead of the toolbox
  unbuilt = [arrayfun(@(e) {e.name, [e.name 'Batch']}, registry, 'UniformOutput', false), ...
             {{meshes.core}}, {{cores.name}}];
  unbuilt = [unbuilt{:}];
  for name = unbuilt
    copyfile (fullfile (toolbox, [name{1} '.m']), scratch);
  end
  rehash ();
  for e = 1
    for name = unbuilt
      [t, err] = expect_error (t, @() feval (name{1}), 'nurbsbasis:notBuilt', [name{1} ' unbuilt']);
      t = expect (t, ! isempty (err) && ! isempty (strfind (err.message, 'build_mex')), ...
                  [name{1} ' unbuilt: the message names build_mex']);
      text = evalc (sprintf ('help %s', name{1}));
      t = expect (t, ! isempty (strfind (text, [name{1} '('])), [name{1} ' unbuilt: help']);
    end
  end
  copyfile (fullfile (toolbox, 'RatCurveShapeGrad.oct'), scratch);
  rehash ();
  t = expect (t, strcmp (which ('RatCurveShapeGrad'), fullfile (scratch, 'RatCurveShapeGrad.oct')), ...
              'a plug-in built beside its help file is the one called');
  t = expect (t, isequal (RatCurveShapeGrad (0.5, 2, [0 0 0 1 1 1], [1 1 1]), [0.25 0.5 0.25]), ...
              'and it runs');
unwind_protect_cleanup
  rmpath (scratch);
  confirm_recursive_rmdir (false, 'local');
  rmdir (scratch, 's');
end_unwind_protect
report (t);
