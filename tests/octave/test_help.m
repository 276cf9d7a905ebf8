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
for e = plugin_registry ()
  for name = {e.name, [e.name 'Batch']}
    text = evalc (sprintf ('help %s', name{1}));
    t = expect (t, ! isempty (strfind (text, [name{1} '('])), [name{1} ': help shows the call']);
    code = example_code (text);
    if (! isempty (code))
      t = expect (t, runs (code), [name{1} ': the example runs']);
    end
  end
end
report (t);
