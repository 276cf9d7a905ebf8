% HIERARCHICAL_SPACE  A hierarchical space's tables from its native core, after refining its
% marked elements (mode 1) or functions (mode 2), or as it is (mode 0).
%   hs = hierarchical_space (who, hs, mode, marked)
% hs needs npatch, patches, spaces, isoparametric, rdim, interfaces, boundaries, refined,
% subdivision, truncated and admissibility; the tables are written into it: refined, ndof,
% nel, levels, nsh_max, elements and functions (structs of columns), gnum (a cell: each patch's
% functions' indices in the space) and the boundaries' dofs.
function hs = hierarchical_space (who, hs, mode, marked)
  [args, info] = hierarchical_arguments (who, hs, {}, {});
  d = info.d;
  faces = [[hs.boundaries.patch]; [hs.boundaries.side]];
  if (isempty (hs.boundaries)), faces = zeros (2, 0); end
  args{1} = [args{1}, double(hs.admissibility), mode, 1, 0];
  args{end - 1} = faces;
  args{end} = double (marked);
  [refined, E, F, gnum, face_dofs, face_counts, counts] = HierarchicalSpaceCore (args{:});
  hs.refined = refined;
  hs.ndof = counts(1);
  hs.nel = counts(2);
  hs.levels = counts(3);
  hs.nsh_max = counts(4);
  hs.elements = struct ('patch', E(1, :)', 'level', E(2, :)', 'index', E(3, :)', ...
                        'box', E(4:3 + 2 * d, :)');
  hs.functions = struct ('patch', F(1, :)', 'level', F(2, :)', 'index', F(3, :)');
  hs.gnum = cell (1, hs.npatch);
  hs.local = cell (1, hs.npatch);
  at = 0;
  for k = 1:hs.npatch
    m = counts(4 + k);
    hs.gnum{k} = reshape (gnum(1, at + (1:m)), [], 1);
    hs.local{k} = struct ('level', gnum(2, at + (1:m))', 'index', gnum(3, at + (1:m))');
    at = at + m;
  end
  ends = cumsum (face_counts);
  for k = 1:numel (hs.boundaries)
    hs.boundaries(k).dofs = reshape (face_dofs(ends(k) - face_counts(k) + 1:ends(k)), [], 1);
  end
end
