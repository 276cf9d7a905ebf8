% The main job: the curve example, the isogeometric one on the plug-ins, then a whole mesh's
% quadrature data in one call.
quarter_circle ();
printf ('\n');
iga_example ();
printf ('\n');
mesh_example ();
