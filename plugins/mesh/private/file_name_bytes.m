% FILE_NAME_BYTES  A file's name as the native cores read it: its UTF-8 bytes as a row of doubles.
%   bytes = file_name_bytes (who, filename)
% Raises who:fileName where filename is not a non-empty character row.
function bytes = file_name_bytes (who, filename)
  if (~ischar (filename) || isempty (filename) || ~isrow (filename))
    error ([who ':fileName'], 'filename must be a non-empty character row; found a %s.', ...
           class (filename));
  end
  bytes = double (unicode2native (filename, 'UTF-8'));
end
