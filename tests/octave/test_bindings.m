% The two Octave builds of every plug-in and native core, the Octave-native functions (.oct) and
% the MEX files (.mex), on the same valid and spoiled calls, each build in an Octave process of
% its own: the same outputs bit for bit (NaN payloads, signed zeros, sparse structure and all),
% the same error identifiers and messages.
%   test_bindings (oct_folder, mex_folder)
function test_bindings (oct_folder, mex_folder)
  t = harness ();
  scratch = tempname ();
  mkdir (scratch);
  unwind_protect
    addpath (oct_folder);
    cases = binding_cases ();
    rmpath (oct_folder);
    save ('-binary', fullfile (scratch, 'cases'), 'cases');
    here = fileparts (mfilename ('fullpath'));
    octave = fullfile (OCTAVE_HOME, 'bin', 'octave-cli');
    folders = {oct_folder, mex_folder};
    for k = 1:2
      status = system (sprintf (['"%s" --norc --no-history --quiet --eval "addpath (''%s''); ' ...
                                 'binding_outputs (''%s'', ''%s'', ''%s'')"'], octave, here, ...
                                folders{k}, fullfile (scratch, 'cases'), ...
                                fullfile (scratch, sprintf ('out%d', k))));
      t = expect (t, status == 0, sprintf ('the calls run in %s', folders{k}));
    end
    a = load (fullfile (scratch, 'out1'));
    b = load (fullfile (scratch, 'out2'));
    t = expect (t, strcmp (a.where(end-3:end), '.oct') && strcmp (b.where(end-3:end), '.mex'), ...
                sprintf ('the two builds: %s and %s', a.where, b.where));
    errors = 0;
    for k = 1:numel (cases)
      c = cases(k);
      t = expect (t, same (a.got{k}, b.got{k}), sprintf ('%s case %d', c.name, k));
      errors += ischar (a.got{k}{1});
    end
    printf ('%d calls, %d of them errors, in each build\n', numel (cases), errors);

    % Outputs beyond the memory, in a process of each build whose address space is limited:
    % Name:outOfMemory from both, for a twin, FieldEval and ExportVTK.
    want = {'RatSurfShapeGradBatch:outOfMemory', 'RatSurfShapeHessBatch:outOfMemory', ...
            'FieldEval:outOfMemory', 'ExportVTK:outOfMemory'};
    for k = 1:2
      file = fullfile (scratch, sprintf ('memory%d', k));
      status = system (sprintf (['"%s" --norc --no-history --quiet --eval "addpath (''%s''); ' ...
                                 'binding_memory (''%s'', ''%s'')"'], octave, here, ...
                                folders{k}, file));
      ids = {};
      if (status == 0), ids = load (file).ids; end
      t = expect (t, isequal (ids, want), sprintf (['outputs beyond the memory in %s: %s, ' ...
                  'expected %s'], folders{k}, strjoin (ids, ', '), strjoin (want, ', ')));
    end
  unwind_protect_cleanup
    confirm_recursive_rmdir (false, 'local');
    rmdir (scratch, 's');
  end_unwind_protect
  report (t);
end

function ok = same (x, y)
  ok = strcmp (class (x), class (y)) && isequal (size (x), size (y));
  if (! ok), return; end
  if (iscell (x))
    for k = 1:numel (x)
      ok = ok && same (x{k}, y{k});
    end
  elseif (issparse (x))
    [i, j, v] = find (x);
    [k, l, w] = find (y);
    ok = isequal ([i, j], [k, l]) && isequal (bits (v), bits (w));
  elseif (isnumeric (x))
    ok = isequal (bits (x), bits (y));
  else
    ok = isequal (x, y);
  end
end

function b = bits (x)
  b = typecast (double (x(:)), 'uint64');
end
