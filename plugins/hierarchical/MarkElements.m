% MARKELEMENTS  The elements to refine, from their error indicators.
%
%   marked = MarkElements(eta)
%   marked = MarkElements(eta, 'doerfler', theta)
%   marked = MarkElements(eta, 'maximum', theta)
%
%   eta holds one non-negative indicator an element (ErrorEstimate's). 'doerfler' (the default,
%   theta 0.5): the fewest elements, the largest indicators first, whose squared indicators sum
%   to at least theta times the sum of them all (Doerfler's bulk criterion, theta in (0, 1]);
%   'maximum': every element whose indicator is at least theta times the largest. marked: their
%   indices, ascending, a row (empty where every indicator is 0).
%
%   Errors (identifier MarkElements:<mnemonic>): usage, indicators (eta not real, finite and
%   non-negative), unknownOption, optionValue (theta outside (0, 1]).
%
%   Example: marked = MarkElements ([0.1 0.5 0.2 0.6], 'doerfler', 0.5)   % [4]
%
%   See also ErrorEstimate, RefineElements.
function marked = MarkElements (eta, strategy, theta)
  who = 'MarkElements';
  if (nargin < 1)
    error ([who ':usage'], 'usage: marked = MarkElements (eta, strategy, theta)');
  end
  if (nargin < 2), strategy = 'doerfler'; end
  if (nargin < 3), theta = 0.5; end
  if (~isnumeric (eta) || ~isreal (eta) || issparse (eta) || any (~isfinite (eta(:))) || ...
      any (eta(:) < 0))
    error ([who ':indicators'], 'eta must hold real, finite, non-negative indicators.');
  end
  if (~ischar (strategy) || ~any (strcmpi (strategy, {'doerfler', 'maximum'})))
    error ([who ':unknownOption'], 'the strategy must be ''doerfler'' or ''maximum''.');
  end
  if (~isnumeric (theta) || ~isscalar (theta) || ~isreal (theta) || ~(theta > 0 && theta <= 1))
    error ([who ':optionValue'], 'theta must be in (0, 1], found %s.', num2str (theta));
  end
  eta = double (eta(:));
  if (isempty (eta) || max (eta) == 0)
    marked = zeros (1, 0);
    return;
  end
  if (strcmpi (strategy, 'maximum'))
    marked = reshape (find (eta >= theta * max (eta)), 1, []);
    return;
  end
  [sorted, order] = sort (eta .^ 2, 'descend');
  total = cumsum (sorted);
  count = find (total >= theta * total(end), 1);
  marked = sort (reshape (order(1:count), 1, []));
end

%!assert (MarkElements ([0.1 0.5 0.2 0.6], 'doerfler', 0.5), 4)
%!assert (MarkElements ([0.1 0.5 0.2 0.6], 'doerfler', 0.9), [2 4])
%!assert (MarkElements ([0.1 0.5 0.2 0.6], 'maximum', 0.5), [2 4])
%!assert (MarkElements ([0 0]), zeros (1, 0))
%!error id=MarkElements:indicators MarkElements ([1 -1])
%!error id=MarkElements:optionValue MarkElements ([1 2], 'doerfler', 0)
%!error id=MarkElements:unknownOption MarkElements ([1 2], 'bulk', 0.5)
