% SAME_OUTPUTS  Outputs of every plug-in and twin of the registry on random calls, as found on
% the path now: call it once with one build on the path and once with another, and compare the
% two with isequal on their bits.
%   out = same_outputs ()
function out = same_outputs ()
  rand ('seed', 99);
  out = {};
  for e = plugin_registry ()
    for form = {e.name, [e.name 'Batch']}
      f = str2func (form{1});
      twin = numel (form{1}) > numel (e.name);
      for t = 1:25
        c = random_call (e, 1 + mod (t, 7), t);
        n = numel (e.outputs) + (twin && e.rows);
        o = cell (1, n);
        if (twin)
          [o{:}] = f (c.args{:});
        else
          [o{:}] = f (random_call (e, c, 1){:});
        end
        out{end + 1} = cellfun (@(v) typecast (v(:), 'uint64'), o, 'UniformOutput', false);
      end
    end
  end
end
