% SAME_OUTPUTS  Outputs of every plug-in and twin of the registry on random calls, and of every
% call over a whole mesh on the quarter annulus under a few spaces and options, as found on the
% path now: call it once with one build on the path and once with another, and compare the two
% with isequal on their bits.
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
  [~, meshes] = plugin_registry ();
  s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
  g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
  g.knots = {[0 0 0 1 1 1], [0 0 1 1]};
  g.order = [3 2];
  k = [0 0 0 0 0.3 0.6 1 1 1 1];
  cubic = struct ('knots', {{k, k}}, 'order', [4 4]);
  for e = meshes
    f = str2func (e.name);
    coefficients = num2cell (1 + (1:numel (e.inputs)) / 4);
    if (strcmp (e.kind, 'Advection')), coefficients = {[1; -0.5]}; end
    options = {{}, {'space', cubic}, {'space', cubic, 'quadrature', [3 5], 'elements', [4 2]}};
    if (any (strcmp (e.kind, {'Fields', 'Nodes', 'Mass', 'Load'})))
      options{end + 1} = {'side', 3, 'space', cubic};
    end
    for o = options
      v = f (g, coefficients{:}, o{1}{:});
      if (isstruct (v))
        v = struct2cell (v);
      elseif (issparse (v))
        [i, j, v] = find (v);
        v = {i, j, v};
      else
        v = {v};
      end
      out{end + 1} = cellfun (@(a) typecast (double (a(:)), 'uint64'), v, 'UniformOutput', false);
    end
  end
end
