% OUT_OF_MEMORY  Whether an error is the host's or a plug-in's failure to get memory: Octave's
% bad-alloc, MATLAB's nomem, a MEX interface's allocation failure (no identifier, its message
% says so), or a call's own outOfMemory.
%   tf = out_of_memory (err)
function tf = out_of_memory (err)
  tf = any (strcmp (err.identifier, {'Octave:bad-alloc', 'MATLAB:nomem'})) || ...
       ~isempty (regexp (err.identifier, ':outOfMemory$', 'once')) || ...
       ~isempty (regexp (err.message, 'out of memory|failed to allocate', 'once'));
end
