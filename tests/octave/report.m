function report (t)
  printf ('%d passed, %d failed\n', t.passed, t.failed);
  exit (t.failed > 0);
end
