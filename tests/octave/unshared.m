% UNSHARED  A copy of v with its own data. Octave shares data between copies until one is
% written, so a plain copy would change along with the original if a plug-in wrote into it.
function c = unshared (v)
  c = v;
  if (isnumeric (c) && ! isempty (c))
    c(1) = c(1);
  end
end
