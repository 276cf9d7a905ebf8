% IS_HIERARCHICAL  Whether the calls' geometry argument is a hierarchical space
% (HierarchicalSpace's struct) rather than a patch or a domain.
%   tf = is_hierarchical (geometry)
function tf = is_hierarchical (geometry)
  tf = isstruct (geometry) && isscalar (geometry) && isfield (geometry, 'refined') && ...
       isfield (geometry, 'levels') && isfield (geometry, 'patches');
end
