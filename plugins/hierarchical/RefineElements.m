% REFINEELEMENTS  Refine chosen elements of a hierarchical space.
%
%   hs = RefineElements(hs, marked)
%
%   Each marked element (indices into hs.elements, 1-based) is replaced by its subdivision^d
%   children of the next level; with hs.admissibility m >= 2 the coarser active elements whose
%   functions would otherwise reach an element from more than m levels are refined first
%   (Buffa and Giannelli's refinement: the truncated or hierarchical neighbourhood of each
%   refined element), and over a domain the elements across an interface from a refined one,
%   so that the refinement stays conforming. An empty list leaves hs as it is. The new space
%   holds the old one (ProlongField moves a field to it).
%
%   Errors (identifier RefineElements:<mnemonic>): usage, notHierarchical (hs is not a
%   hierarchical space), markOutOfRange (a mark not a whole number from 1 to hs.nel),
%   markRepeated (a mark given twice), markType (marks not numeric), and those of
%   HierarchicalSpace for a space that was changed by hand.
%
%   Example:
%     g = struct ('coefs', permute (cat (3, [0 1; 0 1], [0 0; 1 1], zeros (2), ones (2)), ...
%                 [3 1 2]), 'knots', {{[0 0 1 1], [0 0 1 1]}}, 'order', [2 2]);
%     k = (1:7) / 8;
%     hs = HierarchicalSpace (g, 'space', struct ('knots', {{[0 0 0 k 1 1 1], [0 0 0 k 1 1 1]}}, ...
%                                                  'order', [3 3]));
%     hs = RefineElements (hs, 1);          % the corner element and what admissibility needs
%     [hs.nel, hs.ndof]
%
%   See also HierarchicalSpace, RefineFunctions, MarkElements, ProlongField.
function hs = RefineElements (hs, marked)
  if (nargin < 2), marked = []; end
  hs = refine_marked ('RefineElements', hs, marked, 1, nargin);
end

%!shared hs
%! g = struct ('coefs', permute (cat (3, [0 1; 0 1], [0 0; 1 1], zeros (2), ones (2)), [3 1 2]), ...
%!             'knots', {{[0 0 1 1], [0 0 1 1]}}, 'order', [2 2]);
%! k = (1:3) / 4;
%! hs = HierarchicalSpace (g, 'space', struct ('knots', {{[0 0 0 k 1 1 1], [0 0 0 k 1 1 1]}}, 'order', [3 3]));
%!test
%! h2 = RefineElements (hs, [1 16]);
%! assert (h2.nel, 16 - 2 + 8);
%! assert (RefineElements (hs, []), hs);
%!error id=RefineElements:markOutOfRange RefineElements (hs, 17)
%!error id=RefineElements:markOutOfRange RefineElements (hs, 1.5)
%!error id=RefineElements:markRepeated RefineElements (hs, [2 2])
%!error id=RefineElements:notHierarchical RefineElements (struct ('a', 1), 1)
