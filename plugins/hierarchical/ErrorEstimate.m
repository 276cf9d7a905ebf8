% ERRORESTIMATE  (being written)
function eta = ErrorEstimate (hs, u, f, c, varargin)
  error ('ErrorEstimate:notBuilt', 'not yet');
end
