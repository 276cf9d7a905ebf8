% The main job: the curve example, then the isogeometric one.
quarter_circle ();
printf ('\n');
iga_example ();
