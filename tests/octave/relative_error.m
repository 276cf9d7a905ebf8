% RELATIVE_ERROR  max |a - b| over max(|b|, 1): agreement of a result with a reference.
function e = relative_error (a, b)
  e = max (abs (a(:) - b(:))) / max ([abs(b(:)); 1]);
end
