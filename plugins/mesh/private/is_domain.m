% IS_DOMAIN  Whether the calls' geometry argument is a domain of several patches (Multipatch's
% struct) rather than one patch (or a hierarchical space, which has a domain's fields too).
%   tf = is_domain (geometry)
function tf = is_domain (geometry)
  tf = isstruct (geometry) && isscalar (geometry) && isfield (geometry, 'gnum') && ...
       isfield (geometry, 'npatch') && ~isfield (geometry, 'refined');
end
