% BINDING_OUTPUTS  Runs the cases of binding_cases with the plug-ins of one folder and saves
% what each call gave: its outputs, or its error's identifier and message.
%   binding_outputs (folder, cases_file, out_file)
function binding_outputs (folder, cases_file, out_file)
  addpath (folder);
  load (cases_file, 'cases');
  got = cell (size (cases));
  for k = 1:numel (cases)
    c = cases(k);
    out = cell (1, c.nargout);
    try
      [out{:}] = feval (c.name, c.args{:});
      got{k} = out;
    catch err
      got{k} = {err.identifier, err.message};
    end
  end
  where = which (cases(1).name);
  save ('-binary', out_file, 'got', 'where');
end
