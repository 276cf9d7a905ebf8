% BINDING_CASES  The same calls for every build of the plug-ins, valid and spoiled: every plug-in
% and twin of the registry at random valid points, and every native core with the inputs its
% m-function gives it for a patch, a face and a domain; then each input of each call in turn
% replaced by a wrong value, and the calls with too few inputs and too many outputs.
%   cases = binding_cases ()   cases(k).name, .args, .nargout
function cases = binding_cases ()
  rand ('state', 7);
  [registry, meshes] = plugin_registry ();
  valid = struct ('name', {}, 'args', {}, 'nargout', {});
  for e = registry
    for t = 1:6
      c = random_call (e, 5, t);
      twin = numel (e.outputs) + e.rows;
      valid(end + 1) = struct ('name', [e.name 'Batch'], 'args', {c.args}, 'nargout', twin);
      for j = 1:3
        valid(end + 1) = struct ('name', e.name, 'args', {random_call(e, c, j)}, ...
                                 'nargout', numel (e.outputs));
      end
    end
  end
  valid = [valid, core_calls(meshes)];
  spoiled = struct ('name', {}, 'args', {}, 'nargout', {});
  wrong = {[], NaN, -1, 1e300, 'abc', int32(3), single(1), 1 + 2i, sparse(1), {1}, ...
           true, zeros(2, 0), ones(3, 3, 2)};
  for k = 1:4:numel (valid)
    v = valid(k);
    for a = 1:numel (v.args)
      bad = v;
      bad.args{a} = wrong{1 + mod (k + a, numel (wrong))};
      spoiled(end + 1) = bad;
    end
    spoiled(end + 1) = setfield (v, 'args', v.args(1:end - 1));
    spoiled(end + 1) = setfield (v, 'nargout', v.nargout + 1);
  end
  cases = [valid, spoiled];
end

% The native cores' inputs as their m-functions make them: each m-function is called with
% recording stand-ins for the cores ahead of the path.
function calls = core_calls (meshes)
  global binding_recorded
  binding_recorded = {};
  folder = tempname ();
  mkdir (folder);
  cores = [{meshes.core}, {'MultipatchCore', 'MatrixFreeSetupCore', ...
                             'FastDiagonalisationSetupCore'}];
  for k = 1:numel (cores)
    fid = fopen (fullfile (folder, [cores{k} '.m']), 'w');
    fprintf (fid, ['function varargout = %s (varargin)\n  global binding_recorded\n' ...
                   '  binding_recorded(end + 1, :) = {''%s'', varargin, max(nargout, 1)};\n' ...
                   '  error (''recorded'');\nend\n'], cores{k}, cores{k});
    fclose (fid);
  end
  mp = domain ();   % with the real core, before the stand-ins
  % The applications' inputs as the handles hold them, made with the real setup cores.
  g = annulus ();
  [A, free] = MatrixFreeOperator ('stiffness', g, @(x, y) 1 + x, 'dirichlet', 1);
  P = FastDiagonalisation (mp, 'dirichlet', 1:3);
  held = functions (A).workspace{1}.data;
  binding_recorded(end + 1, :) = {'MatrixFreeApplyCore', [held, {rand(numel (free), 2)}], 1};
  held = functions (P).workspace{1}.data;
  binding_recorded(end + 1, :) = {'FastDiagonalisationApplyCore', [held, {rand(held{1}, 1)}], 1};
  addpath (folder);
  unwind_protect
    g = annulus ();
    record (@() MeshEval (g, 'quadrature', [3 2], 'gradient', true, 'hessian', true));
    record (@() MeshEval (g, 'side', 2));
    record (@() StiffnessMatrix (g, @(x, y) 1 + x.^2));
    record (@() MassMatrix (g, 2));
    record (@() LoadVector (g, 1, 'side', 3));
    record (@() AdvectionMatrix (g, [1; 2]));
    record (@() ElasticityMatrix (g, 1, 2));
    record (@() BilaplacianMatrix (g, 1));
    record (@() StiffnessMatrix (g, 1, 'elements', [2 1]));
    record (@() MassMatrix (g, 1, 'elements', []));
    record (@() Multipatch ({square(0, 0), square(1, 0)}));
    record (@() StiffnessMatrix (mp, 1));
    record (@() LoadVector (mp, 1, 'boundary', 1));
    record (@() MatrixFreeOperator ('elasticity', g, 1, 2, 'dirichlet', 2));
    record (@() FastDiagonalisation (g, 'form', 'stiffness+mass', 'scale', [1 2]));
  unwind_protect_cleanup
    rmpath (folder);
    confirm_recursive_rmdir (false, 'local');
    rmdir (folder, 's');
  end_unwind_protect
  calls = struct ('name', binding_recorded(:, 1)', 'args', binding_recorded(:, 2)', ...
                  'nargout', binding_recorded(:, 3)');
end

function record (f)
  try
    f ();
  catch err
    if (! strcmp (err.message, 'recorded'))
      rethrow (err);
    end
  end
end

function g = annulus ()
  s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
  g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
  g.knots = {[0 0 0 0.5 1 1 1], [0 0 1 1]};
  g.coefs = cat (2, g.coefs(:, 1, :), (g.coefs(:, 1, :) + g.coefs(:, 2, :)) / 2, ...
                 (g.coefs(:, 2, :) + g.coefs(:, 3, :)) / 2, g.coefs(:, 3, :));
  g.order = [3 2];
end

function g = square (x0, y0)
  [x, y] = ndgrid ([0 0.5 1] + x0, [0 1] + y0);
  g.coefs = permute (cat (3, x, y, zeros (3, 2), ones (3, 2)), [3 1 2]);
  g.knots = {[0 0 0 1 1 1], [0 0 1 1]};
  g.order = [3 2];
end

function mp = domain ()
  mp = Multipatch ({square(0, 0), square(1, 0), square(0, 1)});
end
