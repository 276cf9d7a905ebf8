% The main job: the curve example, the isogeometric one on the plug-ins, a whole mesh's
% quadrature data in one call, solves with the native forms, a domain of several patches, a
% 3-D problem of over 10^5 unknowns solved without its matrix, and adaptive refinement with
% hierarchical splines.
quarter_circle ();
printf ('\n');
iga_example ();
printf ('\n');
mesh_example ();
printf ('\n');
forms_example ();
printf ('\n');
multipatch_example ();
printf ('\n');
solver_example ();
printf ('\n');
adaptive_example ();
