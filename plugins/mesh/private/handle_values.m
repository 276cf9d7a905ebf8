% HANDLE_VALUES  A coefficient given as a function handle, evaluated at the nodes.
%   v = handle_values (who, f, name, points, vector)
%   who     the call, for its error identifiers (who:coefficientError, who:coefficientSize)
%   f       the handle, called once with rows x, y (, z) of every node's coordinates
%   name    the coefficient's name, for messages
%   points  1 x rdim cell of those rows (1 x N each)
%   vector  whether the coefficient has rdim components (true), may have (NaN), or has one
%           (false)
%   v       what f returned, as double: a constant as it is, else 1 x N (one a node) or
%           rdim x N (the components first)
function v = handle_values (who, f, name, points, vector)
  try
    v = f (points{:});
  catch err
    error ([who ':coefficientError'], ['the coefficient %s failed at the nodes: %s ' ...
           '(it is called with rows x, y, z of the nodes'' coordinates)'], name, err.message);
  end
  % One value a node in node order, or rdim a node with the components first (b: only those,
  % or an rdim x 1 constant); where both fit (rdim 1), one a node.
  rdim = numel (points);
  N = numel (points{1});
  rows = 1 + (rdim - 1) * (vector == 1);
  many = isnumeric (v) || islogical (v);
  if (N == 0 && many && isnan (vector) && size (v, 1) == rdim)
    rows = rdim;                % rdim rows of no nodes: a load of rdim components
  end
  if (many && isscalar (v))
    % a constant, as it is
  elseif (many && numel (v) == N && rows == 1)
    v = reshape (v, 1, N);
  elseif (many && vector ~= 0 && size (v, 1) == rdim && numel (v) == rdim * N)
    v = reshape (v, rdim, N);
  elseif (~(many && vector == 1 && isequal (size (v), [rdim 1])))
    error ([who ':coefficientSize'], ['the coefficient %s must return %d x %d values (%d per ' ...
           'node, in node order), found a %s of size %s.'], name, rows, N, rows, class (v), ...
           strjoin (arrayfun (@num2str, size (v), 'UniformOutput', false), 'x'));
  end
  v = double (v);
end
