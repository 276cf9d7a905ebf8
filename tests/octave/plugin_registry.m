% PLUGIN_REGISTRY  The plug-ins of plugins/registry.def, as the build makes them: a struct array
% with fields name, folder, evaluator, rows (true where the outputs are rows of basis functions,
% so that the batch twin adds idx), inputs and outputs (cell arrays of names), kinds (a letter an
% input: x point, p degree, k knots, w weights or control values, s spans, i index) and dirs.
function r = plugin_registry ()
  here = fileparts (mfilename ('fullpath'));
  text = fileread (fullfile (here, '..', '..', 'plugins', 'registry.def'));
  entries = regexp (text, ['^NURBS_PLUGIN\((\w+), *(\w+), *(\w+), *(\w+), *' ...
                           '\(([^)]*)\), *\(([^)]*)\)\)'], 'tokens', 'lineanchors');
  r = struct ('name', {}, 'folder', {}, 'evaluator', {}, 'rows', {}, 'inputs', {}, ...
              'outputs', {}, 'kinds', {}, 'dirs', {});
  for k = 1:numel (entries)
    [name, folder, evaluator, sizes, inputs, outputs] = entries{k}{:};
    inputs = strtrim (strsplit (inputs, ','));
    kinds = cellfun (@kind_of, inputs);
    r(end + 1) = struct ('name', name, 'folder', folder, 'evaluator', evaluator, ...
                         'rows', strcmp (sizes, 'Rows'), 'inputs', {inputs}, ...
                         'outputs', {strtrim(strsplit (outputs, ','))}, 'kinds', kinds, ...
                         'dirs', sum (kinds == 'p'));
  end
end

function c = kind_of (name)
  switch (name)
    case 'xi',                   c = 'x';
    case {'p', 'q', 'r'},        c = 'p';
    case {'weights', 'points'},  c = 'w';
    case 'spans',                c = 's';
    case 'i',                    c = 'i';
    otherwise
      if (strncmp (name, 'knot', 4)), c = 'k'; else, error ('registry: input %s', name); end
  end
end
