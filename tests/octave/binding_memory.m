% The calls of test_bindings' memory case, in an Octave process of one build whose address space
% is then limited to 400 MB more than it holds: a twin's outputs (1.2 and 2 GB), FieldEval's
% rows and ExportVTK's grid beyond that must fail as Name:outOfMemory, in either build (the .oct
% raised Octave:bad-alloc, the .mex no identifier). Saves the identifiers, in order, to `out`.
%   binding_memory (folder, out)
function binding_memory (folder, out)
  addpath (folder);
  U = [0 0 0 0.5 1 1 1];                       % degree 2, 4 functions, 2 spans
  [I, J] = ndgrid ((0:3) / 3);
  g = struct ('coefs', permute (cat (3, I, J, zeros (4), ones (4)), [3 1 2]), ...
              'knots', {{U, U}}, 'order', [3 3]);
  xi = rand (2, 4e6);                          % 64 MB
  held = str2double (regexp (fileread ('/proc/self/status'), 'VmSize:\s*(\d+)', 'tokens', ...
                             'once'){1}) * 1024;
  if (system (sprintf ('prlimit --pid %d --as=%d', getpid (), round (held + 4e8))) ~= 0)
    error ('binding_memory: prlimit could not limit the address space');
  end
  calls = {@() RatSurfShapeGradBatch (xi, 2, 2, U, U, ones (4, 4)), 4;
           @() RatSurfShapeHessBatch (xi, 2, 2, U, U, ones (4, 4)), 7;
           @() FieldEval (g, ones (16, 1), xi, 'chunk', Inf), 2;
           @() ExportVTK (tempname (), g, struct ('u', ones (16, 1)), 'subdivisions', 5000), 1};
  ids = cell (1, rows (calls));
  for k = 1:rows (calls)
    try
      results = cell (1, calls{k, 2});
      [results{:}] = calls{k, 1} ();
      ids{k} = 'ok';
    catch err
      ids{k} = err.identifier;
    end
    clear results;
  end
  save ('-binary', out, 'ids');
end
