% PLUGIN_REGISTRY  The plug-ins of plugins/registry.def, as the build makes them: a struct array
% with fields name, folder, evaluator, rows (true where the outputs are rows of basis functions,
% so that the batch twin adds idx), inputs and outputs (cell arrays of names), kinds (a letter an
% input: x point, p degree, k knots, w weights or control values, s spans, i index) and dirs.
% meshes: the calls over a whole mesh, with fields name (the m-function), core (its native core),
% folder, kind (Fields or the form), inputs (after the mesh's) and outputs. mfunctions: the names
% of the other m-functions in the toolbox's own folder, the domains' (over their cores) and those
% with no core of their own. cores: the solvers' native cores, with fields name and folder.
function [r, meshes, mfunctions, cores] = plugin_registry ()
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
  entries = regexp (text, ['^NURBS_MESH\((\w+), *(\w+), *(\w+), *\(([^)]*)\), *' ...
                           '\(([^)]*)\)\)'], 'tokens', 'lineanchors');
  meshes = struct ('name', {}, 'core', {}, 'folder', {}, 'kind', {}, 'inputs', {}, 'outputs', {});
  for k = 1:numel (entries)
    [name, folder, kind, inputs, outputs] = entries{k}{:};
    list = @(s) strtrim (strsplit (s, ',', 'CollapseDelimiters', false));
    inputs = list (inputs);
    if (isempty (inputs{1})), inputs = {}; end
    meshes(end + 1) = struct ('name', name, 'core', [name 'Core'], 'folder', folder, ...
                              'kind', kind, 'inputs', {inputs}, 'outputs', {list(outputs)});
  end
  found = regexp (text, '^NURBS_(?:DOMAIN|HIERARCHICAL|FILE|MFUNCTION)\((\w+),', 'tokens', 'lineanchors');
  mfunctions = cellfun (@(t) t{1}, found, 'UniformOutput', false);
  found = regexp (text, '^NURBS_CORE\((\w+), *(\w+)\)', 'tokens', 'lineanchors');
  cores = struct ('name', cellfun (@(t) t{1}, found, 'UniformOutput', false), ...
                  'folder', cellfun (@(t) t{2}, found, 'UniformOutput', false));
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
