% REFINEFUNCTIONS  Refine a hierarchical space where chosen functions live.
%
%   hs = RefineFunctions(hs, marked)
%
%   For each marked function (indices into hs.functions, 1-based, hs's numbering), the active
%   elements of its level in its support are refined as RefineElements refines them (with the
%   space's admissibility and, over a domain, across interfaces): the function gives way to
%   finer ones. An empty list leaves hs as it is.
%
%   Errors (identifier RefineFunctions:<mnemonic>): usage, notHierarchical, markOutOfRange (a
%   mark not a whole number from 1 to hs.ndof), markRepeated, markType, and those of
%   HierarchicalSpace for a space that was changed by hand.
%
%   See also RefineElements, HierarchicalSpace.
function hs = RefineFunctions (hs, marked)
  if (nargin < 2), marked = []; end
  hs = refine_marked ('RefineFunctions', hs, marked, 2, nargin);
end

%!shared hs
%! g = struct ('coefs', permute (cat (3, [0 1; 0 1], [0 0; 1 1], zeros (2), ones (2)), [3 1 2]), ...
%!             'knots', {{[0 0 1 1], [0 0 1 1]}}, 'order', [2 2]);
%! k = (1:3) / 4;
%! hs = HierarchicalSpace (g, 'space', struct ('knots', {{[0 0 0 k 1 1 1], [0 0 0 k 1 1 1]}}, 'order', [3 3]), 'admissibility', 0);
%!test
%! h2 = RefineFunctions (hs, 15);     % tensor (2, 2) of 6 x 6 quadratics: its 3 x 3 elements
%! assert (h2.nel, 16 - 9 + 36);
%! assert (! any (h2.functions.level == 0 & h2.functions.index == 15));
%!error id=RefineFunctions:markOutOfRange RefineFunctions (hs, 50)
%!error id=RefineFunctions:markType RefineFunctions (hs, 'a')
