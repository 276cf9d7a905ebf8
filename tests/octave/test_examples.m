% The README's main job, checked: every example's figures.
t = harness ();
c = quarter_circle ();
t = expect (t, c.radius_error < 1e-14, 'quarter circle radius');
t = expect (t, c.tangent_error < 1e-14, 'quarter circle tangent');
t = expect (t, c.curvature_error < 1e-13, 'quarter circle curvature');
r = iga_example ();
t = expect (t, r.area_error < 1e-13, sprintf ('annulus area error %g', r.area_error));
t = expect (t, r.volume_error < 1e-13, sprintf ('annulus volume error %g', r.volume_error));
for p = [2 3]
  rows = r.poisson([r.poisson.p] == p);
  t = expect (t, all (diff ([rows.error]) < 0), sprintf ('degree %d: the error falls', p));
  t = expect (t, abs (rows(end).rate - (p + 1)) < 0.3, ...
              sprintf ('degree %d: rate %.2f, expected about %d', p, rows(end).rate, p + 1));
  t = expect (t, rows(end).error < 10^(-p - 2), sprintf ('degree %d: finest error %g', p, rows(end).error));
end
m = mesh_example ();
t = expect (t, m.area_error < 1e-13, sprintf ('MeshEval: annulus area error %g', m.area_error));
t = expect (t, m.volume_error < 1e-13, sprintf ('MeshEval: ring volume error %g', m.volume_error));
t = expect (t, all (diff ([m.projection.error]) < 0), 'MeshEval: the projection error falls');
t = expect (t, abs (m.projection(end).rate - 4) < 0.3, ...
            sprintf ('MeshEval: projection rate %.2f, expected about 4', m.projection(end).rate));
f = forms_example ();
for p = [2 3]
  rows = f.poisson([f.poisson.p] == p);
  t = expect (t, all ([rows.difference] < 1e-12), sprintf ('forms, p = %d: native = twins + m-code', p));
  t = expect (t, all (diff ([rows.l2]) < 0) && all (diff ([rows.h1]) < 0), ...
              sprintf ('forms, p = %d: the errors fall', p));
  t = expect (t, abs (rows(end).l2_rate - (p + 1)) < 0.3 && abs (rows(end).h1_rate - p) < 0.3, ...
              sprintf ('forms, p = %d: rates %.2f and %.2f', p, rows(end).l2_rate, rows(end).h1_rate));
  plate = f.elasticity([f.elasticity.p] == p);
  t = expect (t, all (diff ([plate.energy]) < 0) && abs (plate(end).rate - p) < 0.3, ...
              sprintf ('plate with a hole, p = %d: energy rate %.2f', p, plate(end).rate));
end
d = multipatch_example ();
t = expect (t, d.interfaces == 2 && d.boundaries == 8, 'L-shape: two interfaces, eight boundary faces');
for p = [2 3]
  rows = d.lshape([d.lshape.p] == p);
  t = expect (t, all (diff ([rows.h1]) < 0) && abs (rows(end).h1_rate - 2 / 3) < 0.1, ...
              sprintf ('L-shape, p = %d: H1 rate %.2f, expected 2/3', p, rows(end).h1_rate));
  t = expect (t, abs (rows(end).l2_rate - 4 / 3) < 0.2, ...
              sprintf ('L-shape, p = %d: L2 rate %.2f, expected 4/3', p, rows(end).l2_rate));
end
s = solver_example (6, 12);
t = expect (t, s.small.difference < 1e-8, sprintf ('solvers: pcg against backslash %g', ...
                                                    s.small.difference));
t = expect (t, s.large.flag == 0 && s.large.iterations <= 20 && s.large.error < 1e-3, ...
            sprintf ('solvers: %d iterations, error %g', s.large.iterations, s.large.error));
a = adaptive_example ();
for p = [2 3]
  rows = a.lshape([a.lshape.p] == p);
  t = expect (t, rows(end).h1 < 10 ^ (-p - 1) && numel (rows) < 40 && rows(end).ndof < 3000, ...
              sprintf ('adaptive L-shape, p = %d: H1 error %g with %d unknowns', p, ...
                       rows(end).h1, rows(end).ndof));
  t = expect (t, a.rates(p - 1) > p / 2 - 0.1, sprintf ('adaptive L-shape, p = %d: rate %.2f', ...
                                                        p, a.rates(p - 1)));
end
t = expect (t, abs (a.uniform_rate - 1 / 3) < 0.1 && a.uniform_ndof_for_tolerance > 1e6, ...
            sprintf ('uniform L-shape: rate %.2f in ndof', a.uniform_rate));
t = expect (t, all (diff ([a.layer.h1]) < 0) && a.layer(end).h1 < a.layer_uniform(end).h1 && ...
            a.layer(end).ndof < a.layer_uniform(end).ndof, ...
            sprintf ('interior layer: adaptive %g with %d unknowns, uniform %g with %d', ...
                     a.layer(end).h1, a.layer(end).ndof, a.layer_uniform(end).h1, ...
                     a.layer_uniform(end).ndof));
folder = tempname ();
mkdir (folder);
warning ('off', 'all');                                   % gnuplot's notices
v = fields_example (folder);
t = expect (t, v.annulus_error < 1e-4 && v.annulus_gradient_error < 1e-2, ...
            sprintf ('fields: annulus errors %g, %g', v.annulus_error, v.annulus_gradient_error));
t = expect (t, v.plate_stress_error < 0.05, sprintf ('fields: plate stress error %g', ...
                                                      v.plate_stress_error));
t = expect (t, v.lshape_jump < 1e-12, sprintf ('fields: L-shape jump %g', v.lshape_jump));
t = expect (t, all (cellfun (@(f) exist (f, 'file') == 2, v.pictures)) && ...
            numel (v.vtk_files) == 4, 'fields: three pictures, four VTK files');
confirm_recursive_rmdir (false);
rmdir (folder, 's');
report (t);
