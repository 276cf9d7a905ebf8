function [t, err] = expect_error (t, f, id, label)
  err = [];
  try
    f ();
  catch err
  end
  if (isempty (err))
    t = expect (t, false, sprintf ('%s: no error raised', label));
  elseif (! strcmp (err.identifier, id))
    t = expect (t, false, sprintf ('%s: raised "%s" (%s), expected "%s"', label, ...
                                    err.identifier, err.message, id));
  else
    t = expect (t, true, label);
  end
end
