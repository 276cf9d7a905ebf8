% SPLITELEMENTS  A patch's or a domain's elements in n chunks of about equal work, as options.
%
%   parts = SplitElements(geometry, n)
%   parts = SplitElements(geometry, n, 'space', space)
%   parts = SplitElements(mp, n)
%
%   parts is a 1 x n cell; parts{k} is a cell of name, value options that every form (and
%   MeshEval over a patch) takes after its coefficients, so that the forms of the parts sum to
%   the form of the whole (start the sum from a sparse part: 0 + sparse is full):
%     K = StiffnessMatrix (geometry, c, parts{1}{:});
%     for k = 2:n
%       K = K + StiffnessMatrix (geometry, c, parts{k}{:});
%     end
%   Each call is independent: hand the parts to other processes or machines (parcellfun,
%   netcellfun, parfor; see examples/parallel_assembly.m) and sum their results on the client.
%
%   geometry  a patch (nrbmak); with a space of its own (the forms' 'space' option) give it
%             here too: the elements are the non-empty knot spans of the space.
%             parts{k} = {'elements', list}: 1-based element indices of a box, the first
%             direction fastest, ascending.
%   mp        a domain (Multipatch): each patch's elements of its space.
%             parts{k} = {'patches', list, 'elements', {e1, ..., enpatch}}: the patches the
%             part touches, ascending, and each patch's elements in the part (none for the
%             others).
%   n         the number of parts, a whole number from 1 to the number of elements (or to
%             65536 where the elements are fewer).
%
%   A patch's parts are boxes of elements (a range of elements a direction), which the forms
%   sum by sum factorisation: the parts split in two (n/2 rounded down, the rest) and the patch
%   cut in proportion along the direction where that comes nearest (of those as near, the one
%   of the most elements, the last of them), then each half again; so 8 parts of 6 x 6 x 6
%   elements are its 3 x 3 x 3 octants, and parts differ only by the rounding of each cut.
%   Over a domain the elements are taken patch by patch, each patch's in slabs along its
%   direction of the most elements, and cut where the running estimate of the work reaches a
%   multiple of its total over n: an element costs nqn x nsh^2 (nodes x functions squared),
%   prod (order) for both with the forms' default quadrature, so a patch of higher degree gives
%   fewer elements a part, and parts of uniform degree differ by at most one element; a part's
%   share of a patch is a few boxes. Where n exceeds the elements, some parts are empty
%   ('elements', [] over a patch, no patches over a domain): their forms are zero.
%
%   Errors (identifier SplitElements:<mnemonic>): usage, partCount (n not a whole number in
%   that range), notStruct, missingField, fieldType (the geometry's, the space's or a patch's
%   knots or order unreadable), unknownOption, optionValue.
%
%   Example, the quarter annulus of MeshEval's help refined to 4 x 3 elements, in 3 parts:
%     s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
%     g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
%     g.knots = {[0 0 0 1 1 1], [0 0 1 1]}; g.order = [3 2];
%     space = struct ('knots', {{[0 0 0 1/4 1/2 3/4 1 1 1], [0 0 1/3 2/3 1 1]}}, ...
%                     'order', [3 2]);
%     parts = SplitElements (g, 3, 'space', space);
%     K = StiffnessMatrix (g, 1, 'space', space, parts{1}{:});
%     for k = 2:3
%       K = K + StiffnessMatrix (g, 1, 'space', space, parts{k}{:});
%     end
%     norm (K - StiffnessMatrix (g, 1, 'space', space), 1) / norm (K, 1)
%
%   See also StiffnessMatrix, LoadVector, Multipatch, MeshEval.
function parts = SplitElements (geometry, n, varargin)
  who = 'SplitElements';
  fail = @(mnemonic, varargin) error ([who ':' mnemonic], varargin{:});
  if (nargin < 2)
    fail ('usage', 'usage: parts = SplitElements (geometry_or_mp, n, Name, Value, ...)');
  end
  if (~(isnumeric (n) || islogical (n)) || ~isscalar (n) || ~isreal (n) || ...
      ~(double (n) >= 1) || double (n) ~= fix (double (n)) || isinf (double (n)))
    fail ('partCount', 'n must be a whole number of parts, at least 1; found %s.', ...
          describe (n));
  end
  n = double (n);
  domain = is_domain (geometry);
  space = [];
  if (mod (numel (varargin), 2) ~= 0)
    fail ('unknownOption', 'options must come in name, value pairs; found %d arguments.', ...
          numel (varargin));
  end
  for k = 1:2:numel (varargin)
    name = varargin{k};
    if (~ischar (name) || ~isrow (name) || ~strcmpi (name, 'space'))
      fail ('unknownOption', 'option %d must be the name space; found %s.', (k + 1) / 2, ...
            describe (name));
    end
    if (domain)
      fail ('optionValue', 'space is the domain''s own over a domain (Multipatch).');
    end
    if (~isstruct (varargin{k + 1}) || ~isscalar (varargin{k + 1}))
      fail ('optionValue', 'space must be a struct with fields knots and order; found %s.', ...
            describe (varargin{k + 1}));
    end
    space = varargin{k + 1};
  end

  % Each piece's elements and the work of one of them.
  if (domain)
    if (~isfield (geometry, 'patches') || ~iscell (geometry.patches) || ...
        ~isnumeric (geometry.npatch) || ~isscalar (geometry.npatch) || ...
        numel (geometry.patches) ~= geometry.npatch || geometry.npatch < 1)
      fail ('notStruct', 'mp must be a domain as Multipatch makes it (npatch patches).');
    end
    npatch = geometry.npatch;
    spaces = cell (1, npatch);
    if (isfield (geometry, 'spaces') && iscell (geometry.spaces) && ...
        numel (geometry.spaces) == npatch)
      spaces = geometry.spaces;
    end
    for p = 1:npatch
      if (isempty (spaces{p})), spaces{p} = geometry.patches{p}; end
    end
  else
    npatch = 1;
    if (~isstruct (geometry) || ~isscalar (geometry))
      fail ('notStruct', ['geometry must be a NURBS struct with fields knots and order, as ' ...
                          'nrbmak makes it, or a domain (Multipatch); found %s.'], ...
            describe (geometry));
    end
    spaces = {geometry};
    if (~isempty (space)), spaces = {space}; end
  end
  counts = zeros (1, npatch);
  cost = zeros (1, npatch);
  sequence = cell (1, npatch);
  nel = cell (1, npatch);
  for p = 1:npatch
    what = 'geometry';
    if (domain), what = sprintf ('patch %d', p); elseif (~isempty (space)), what = 'space'; end
    [counts(p), local, sequence{p}, nel{p}] = element_count (fail, spaces{p}, what);
    cost(p) = local ^ 3;
  end

  % Parts past the elements are empty: some are a convenience (one a worker), millions a fault.
  limit = max (sum (counts), 65536);
  if (n > limit)
    fail ('partCount', ['n must be at most %d parts (the elements, or 65536 where they are ' ...
                        'fewer); found %g.'], limit, n);
  end

  % A patch: boxes, halved again and again along the direction of the most elements.
  if (~domain)
    boxes = bisect ([ones(1, numel (nel{1})); nel{1}], n);
    index = reshape (1:counts(1), [nel{1}, 1]);
    parts = cell (1, n);
    for k = 1:n
      b = boxes{k};
      if (isempty (b))
        parts{k} = {'elements', zeros(1, 0)};
        continue;
      end
      sub = arrayfun (@(d) b(1, d):b(2, d), 1:size (b, 2), 'UniformOutput', false);
      e = index(sub{:});
      parts{k} = {'elements', reshape(e, 1, [])};
    end
    return;
  end

  % Element j of the whole (patch by patch, each patch's in slabs along its direction of the most
  % elements) goes to the part where the middle of its work falls: cut points at multiples of
  % total / n.
  patch = repelem (1:npatch, counts);
  work = cost(patch);
  total = sum (work);
  ends = cumsum (work);
  owner = min (n, floor ((ends - work / 2) / total * n) + 1);
  local = [sequence{:}];
  first = [0, cumsum(accumarray (owner(:), 1, [n 1]))'];

  parts = cell (1, n);
  for k = 1:n
    at = first(k) + 1:first(k + 1);
    elements = repmat ({zeros(1, 0)}, 1, npatch);
    touched = reshape (unique (patch(at)), 1, []);
    for p = touched
      elements{p} = sort (local(at(patch(at) == p)));
    end
    parts{k} = {'patches', touched, 'elements', elements};
  end
end

% The non-empty knot spans of a basis in all its directions, its functions an element, and its
% elements (1-based, the first direction fastest) in slabs: the direction of the most elements
% (the last of them where several have as many) slowest, then the others from the last; span s
% (0-based) from p to nfun - 1 with U(s) < U(s + 1), as the mesh counts them.
function [count, local, sequence, nel] = element_count (fail, s, what)
  if (~isstruct (s) || ~isscalar (s))
    fail ('notStruct', '%s must be a struct with fields knots and order; found %s.', what, ...
          describe (s));
  end
  need = {'knots', 'order'};
  has = isfield (s, need);
  if (~all (has))
    fail ('missingField', '%s must have a field %s.', what, need{find (~has, 1)});
  end
  order = s.order;
  if (~isnumeric (order) || ~isreal (order) || ~isvector (order) || numel (order) > 3 || ...
      any (~(order >= 1 & order == fix (order))))
    fail ('fieldType', '%s.order must hold 1 to 3 whole orders (degree + 1), each at least 1.', ...
          what);
  end
  knots = s.knots;
  if (~iscell (knots)), knots = {knots}; end
  if (numel (knots) ~= numel (order))
    fail ('fieldType', '%s.knots must hold %d knot vectors, one per order; found %d.', what, ...
          numel (order), numel (knots));
  end
  d = numel (order);
  nel = ones (1, d);
  for k = 1:d
    U = knots{k};
    p = double (order(k)) - 1;
    nfun = numel (U) - p - 1;
    if (~isnumeric (U) || ~isreal (U) || ~isvector (U) || any (isnan (U)) || ...
        any (diff (U(:)) < 0) || nfun < p + 1)
      fail ('fieldType', ['%s.knots{%d} must be a real non-decreasing row of at least %d ' ...
                          'knots for order %d.'], what, k, 2 * (p + 1), p + 1);
    end
    nel(k) = sum (diff (double (U(p + 1:nfun + 1))) > 0);
  end
  count = prod (nel);
  local = prod (double (order));
  % Slowest first: the direction of the most elements, then the others, the last first.
  [~, outer] = max (fliplr (nel));
  outer = d + 1 - outer;
  slow = [outer, fliplr(setdiff (1:d, outer))];
  index = reshape (1:count, [nel, 1]);
  sequence = reshape (permute (index, [fliplr(slow), d + 1:3]), 1, []);
end

% n boxes of the box b (2 x d: first and last element a direction), of as many elements each as
% halving allows: the parts split in two (n/2 rounded down, the rest), the box cut in proportion
% along the direction whose cut comes nearest it (of those as near, the one of the most
% elements, the last of them); a box of one element goes to the first part, the others empty.
function boxes = bisect (b, n)
  if (n == 1)
    boxes = {b};
    return;
  end
  L = b(2, :) - b(1, :) + 1;
  if (all (L == 1))
    boxes = [{b}, repmat({[]}, 1, n - 1)];
    return;
  end
  n1 = floor (n / 2);
  % The cut nearest the parts' proportion; of cuts as near, the one of the longest direction,
  % the last of them.
  d = 0; best = Inf;
  for k = numel (L):-1:1
    if (L(k) < 2), continue; end
    ck = min (max (round (L(k) * n1 / n), 1), L(k) - 1);
    miss = abs (ck / L(k) - n1 / n);
    if (miss < best - 1e-12 || (abs (miss - best) <= 1e-12 && L(k) > L(d)))
      d = k; c = ck; best = miss;
    end
  end
  first = b;
  first(2, d) = b(1, d) + c - 1;
  second = b;
  second(1, d) = b(1, d) + c;
  boxes = [bisect(first, n1), bisect(second, n - n1)];
end

function d = describe (v)
  if (ischar (v) && (isrow (v) || isempty (v)))
    d = sprintf ('''%s''', v);
  elseif ((isnumeric (v) || islogical (v)) && isscalar (v))
    d = sprintf ('%g', double (v));
  else
    d = sprintf ('a %s of size %s', class (v), strjoin (arrayfun (@num2str, size (v), ...
                                                                  'UniformOutput', false), 'x'));
  end
end

%!shared g, space
%! s = 1 / sqrt (2); w = [1 s 1; 1 s 1]'; x = [1 1 0; 2 2 0]'; y = [0 1 1; 0 2 2]';
%! g.coefs = permute (cat (3, x .* w, y .* w, zeros (3, 2), w), [3 1 2]);
%! g.knots = {[0 0 0 1 1 1], [0 0 1 1]}; g.order = [3 2];
%! space = struct ('knots', {{[0 0 0 1/4 1/2 3/4 1 1 1], [0 0 1/3 2/3 1 1]}}, 'order', [3 2]);
%!test
%! parts = SplitElements (g, 5, 'space', space);    % 4 x 3 elements: 2 parts of 4, 3 of 8
%! assert (cellfun (@(c) numel (c{2}), parts), [2 2 2 3 3]);
%! assert (sort ([cellfun(@(c) c{2}, parts, 'UniformOutput', false){:}]), 1:12);
%! assert (parts{1}{2}, [1 2]);
%! assert (parts{4}{2}, [6 7 8]);
%! assert (SplitElements (g, 4, 'space', space){4}{2}, [4 8 12]);
%!error id=SplitElements:partCount SplitElements (g, 0)
%!error id=SplitElements:partCount SplitElements (g, 2.5)
%!error id=SplitElements:fieldType SplitElements (struct ('knots', {{[1 0]}}, 'order', 1), 2)
