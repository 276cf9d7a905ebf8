function t = expect (t, ok, label)
  if (all (ok(:)))
    t.passed += 1;
  else
    t.failed += 1;
    printf ('FAILED: %s\n', label);
  end
end
