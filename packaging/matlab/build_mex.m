function build_mex (varargin)
% BUILD_MEX  Compiles the plug-ins of this folder from src/ with this host's own mex command,
% into this folder: for platforms the archive has no prebuilt files for (macOS, Intel or Apple
% silicon, or any other), or to build them anew. Needs a C++17 compiler set up for mex
% (`mex -setup C++` in MATLAB; Octave's mkoctfile in GNU Octave).
%
%   build_mex                  every plug-in, its batch twin and every native core
%   build_mex Name1 Name2 ...  only those
%
% The flags are the project's: C++17, no contraction into fused multiply-adds, no fast-math, so
% that the results are the same bits as the prebuilt plug-ins' where the compiler is the same.
% What it sets to compile (CXXFLAGS in Octave) is put back as it was when it ends, also when a
% compilation fails.
here = fileparts (mfilename ('fullpath'));
src = fullfile (here, 'src');
names = registry_names (fullfile (src, 'plugins', 'registry.def'));
if (nargin > 0)
  unknown = setdiff (varargin, names);
  if (~isempty (unknown))
    error ('build_mex:unknownPlugin', 'build_mex: no plug-in %s', strjoin (unknown, ', '));
  end
  names = varargin;
end
octave = exist ('OCTAVE_VERSION', 'builtin') ~= 0;
dirs = {'kernel', 'evaluators', 'mesh', 'domain', 'hierarchical', 'forms', 'solvers', 'files', 'gateway', 'mex', 'plugins'};
options = cellfun (@(d) ['-I' fullfile(src, d)], dirs, 'UniformOutput', false);
if (octave)
  options{end + 1} = '-DNURBS_HOST_OCTAVE';
  flags = set_env ('CXXFLAGS', ...
                   '-O3 -DNDEBUG -std=c++17 -ffp-contract=off -fno-fast-math -fvisibility=hidden');
elseif (ispc ())
  options{end + 1} = 'COMPFLAGS=$COMPFLAGS /std:c++17 /fp:precise /DNDEBUG';
else
  options{end + 1} = 'CXXFLAGS=$CXXFLAGS -std=c++17 -ffp-contract=off -fno-fast-math -DNDEBUG';
end

% The sources every plug-in shares, compiled once.
objdir = tempname ();
mkdir (objdir);
cleanup = onCleanup (@() remove_dir (objdir));
common = {};
for d = {'kernel', 'evaluators', 'mesh', 'domain', 'hierarchical', 'forms', 'solvers', 'files', 'gateway'}
  files = dir (fullfile (src, d{1}, '*.cpp'));
  files = files(! strcmp ({files.name}, 'octave_binding.cpp'));  % Octave-native functions' own
  for k = 1:numel (files)
    source = fullfile (src, d{1}, files(k).name);
    [~, base] = fileparts (files(k).name);
    if (octave)
      object = fullfile (objdir, [base '.o']);
      mex ('-c', options{:}, source, '-o', object);
    else
      mex ('-c', '-outdir', objdir, options{:}, source);
      found = dir (fullfile (objdir, [base '.o*']));
      object = fullfile (objdir, found(1).name);
    end
    common{end + 1} = object;
  end
end

for k = 1:numel (names)
  name = names{k};
  if (numel (name) > 5 && strcmp (name(end - 4:end), 'Batch'))
    source = fullfile (src, 'plugins', 'batch', [name '.cpp']);
  else
    source = plugin_source (src, name);
  end
  if (octave)
    mex (options{:}, '-o', fullfile (here, [name '.' mexext()]), source, common{:});
  else
    mex ('-outdir', here, '-output', name, options{:}, source, common{:});
  end
  fprintf ('built %s\n', name);
end
rehash ();   % so that the host sees the new files in a folder already on its path
end

% Sets an environment variable for as long as the object returned lives: clearing it, which the
% caller's end does even when an error ends it, puts back what was there. Octave's mkoctfile reads
% an empty variable as an unset one, so an empty value comes back unset.
function restore = set_env (name, value)
  old = getenv (name);
  setenv (name, value);
  restore = onCleanup (@() put_env (name, old));
end

% Removes a folder and what it holds, without Octave's question whether to.
function remove_dir (folder)
  if (exist ('confirm_recursive_rmdir') ~= 0)
    confirm_recursive_rmdir (false, 'local');
  end
  rmdir (folder, 's');
end

function put_env (name, value)
  if (isempty (value))
    unsetenv (name);
  else
    setenv (name, value);
  end
end

% Every plug-in of the registry and its batch twin, the native core of every call over a whole
% mesh or a domain, and the solvers' native cores.
function names = registry_names (file)
  text = fileread (file);
  found = regexp (text, '^NURBS_PLUGIN\((\w+),', 'tokens', 'lineanchors');
  names = cellfun (@(t) t{1}, found, 'UniformOutput', false);
  names = [names; strcat(names, 'Batch')];
  cores = regexp (text, '^NURBS_(?:MESH|DOMAIN|HIERARCHICAL|FILE)\((\w+),', 'tokens', 'lineanchors');
  names = [names(:)', strcat(cellfun (@(t) t{1}, cores, 'UniformOutput', false), 'Core')];
  solvers = regexp (text, '^NURBS_CORE\((\w+),', 'tokens', 'lineanchors');
  names = [names, cellfun(@(t) t{1}, solvers, 'UniformOutput', false)];
end

function source = plugin_source (src, name)
  for folder = {'curve', 'surface', 'volume', 'mesh', 'forms', 'domain', 'hierarchical', 'solvers', 'files'}
    source = fullfile (src, 'plugins', folder{1}, [name '.cpp']);
    if (exist (source, 'file')), return; end
  end
  error ('build_mex:noSource', 'build_mex: no source for %s', name);
end
