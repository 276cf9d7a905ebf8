#!/usr/bin/env bash
# Every benchmark, one run each, after building the release (docs/PERFORMANCE.md reads them):
#   1. in process (Google Benchmark): every one-point plug-in through the stand-in host, time per
#      call and the plug-in's own heap blocks per call, degrees 1, 2, 3 and 5 with 8, 64 and 1024
#      functions; the twins at 1 to 10^4 points; the evaluators alone (the compute floor) at 10 to
#      10^6 points on 1 and 2 threads, with outputs made once and made fresh for every call;
#   2. in Octave, one point per call: every plug-in against the host's floor (TrivialMex), and the
#      sweep over the number of functions plotted to docs/per_call.png;
#   3. in Octave, many points per call: the twins serial and threaded, the loop of one-point
#      calls, the nurbs package as shipped and hand-vectorised, the floors of Octave's zeros and
#      of a trivial MEX, plotted to docs/batch.png;
#   4. in Octave, a whole mesh in one call: MeshEval (threaded, serial, with Hessians) against
#      the twins plus vectorised m-code and the hand-vectorised nurbs package, beside the host's
#      floor and the native work in process (read from the in-process benchmark's CSV, run
#      first); and the forms (stiffness, mass, elasticity) against m-code assembly on the twins
#      and on MeshEval, the host's floor and its triplet route: octave_mesh.txt, octave_forms.txt;
#      the forms by degree 1 to 8, element by element and by sum factorisation, against their
#      output's floor, in process and in Octave: inprocess_degree.txt, octave_degree.txt;
#   5. in Octave, a domain of 8 patches: its stiffness and load in one call each against the
#      single-patch calls and the m-code that sums them (octave_multipatch.txt);
#   6. in Octave, a large 3-D stiffness matrix in one call on 2 threads against its parts on 2
#      processes of 1 thread (the parallel package's parcellfun), with the client's summing
#      (octave_parallel.txt);
#   7. in Octave, the two Octave builds side by side: the Octave-native functions (.oct) against
#      the MEX files (.mex) on one-point calls, a twin, MeshEval whole and in chunks, a form
#      (octave_bindings.txt);
#   8. in Octave, a solution field: FieldEval at 10^6 points against the twin alone, ExportVTK
#      against fwrite of as many bytes (octave_fields.txt);
#   9. MPI: Poisson on the thick ring by SolvePETSc on 1 and 2 processes (each phase, the
#      assembly's ratio), against StiffnessMatrix + ichol + pcg in Octave, and the files' cost
#      (octave_petsc.txt). Alone: tools/bench.sh petsc [N ...] (sizes; default 24 32);
#  10. in Octave, hierarchical spaces: refining 10% of a 2-D space of five levels and some 10^5
#      unknowns against its stiffness; that stiffness against a tensor patch's with as many
#      elements; the L-shape's adaptive loop to 1e-4 against uniform refinement
#      (octave_hierarchical.txt). Alone: tools/bench.sh hierarchical.
# Results go to build/bench/.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
tools/build.sh > /dev/null
build=${BUILD_DIR:-build}
out=$build/bench
octave() {
  octave-cli --norc --no-history --quiet --eval \
    "addpath('$PWD/$build/toolbox'); addpath('$PWD/$out'); addpath('$PWD/bench'); addpath('$PWD/tests/octave'); $1"
}
petsc_step() {
  echo "== MPI: SolvePETSc on 1 and 2 processes, the thick ring"
  local sizes=${*:-24 32}
  octave "octave_petsc_bench('full', [${sizes}])" | tee "$out/octave_petsc.txt"
}
hierarchical_step() {
  echo "== in Octave, hierarchical spaces"
  octave "addpath('$PWD/examples'); octave_hierarchical_bench" | tee "$out/octave_hierarchical.txt"
}
if [ "${1:-}" = petsc ]; then
  shift
  petsc_step "$@"
  exit 0
fi
if [ "${1:-}" = hierarchical ]; then
  hierarchical_step
  exit 0
fi
echo "== in process, through the stand-in host and the evaluators alone"
$build/bench/bench_inprocess --benchmark_filter='^(Call|Twin)/' --benchmark_min_time=0.2 2>/dev/null |
  tee "$out/inprocess.txt"
# The evaluators alone decide the threads' figure: five repetitions each, their medians.
$build/bench/bench_inprocess --benchmark_filter='^Evaluator/' --benchmark_min_time=0.2 \
  --benchmark_repetitions=5 --benchmark_report_aggregates_only=true 2>/dev/null |
  grep -v '_mean\|_stddev\|_cv' | tee -a "$out/inprocess.txt"
echo "== in Octave, one point per call"
octave "octave_bench('$PWD/$out/plot.dat')" | tee "$out/octave.txt"
echo "== in Octave, many points per call"
octave "octave_batch_bench('$PWD/$out/batch.dat')" | tee "$out/octave_batch.txt"
gnuplot -e "data='$out/plot.dat'; out='docs/per_call.png'" bench/plot.gp
gnuplot -e "data='$out/batch.dat'; out='docs/batch.png'" bench/batch.gp
echo "plots: docs/per_call.png docs/batch.png"
echo "== in Octave, a whole mesh and the forms in one call"
# The native work alone first (medians of three repetitions), read by the Octave tables.
inprocess_csv() {
  $build/bench/bench_inprocess --benchmark_filter="$1" --benchmark_min_time=0.2 \
    --benchmark_repetitions=3 --benchmark_report_aggregates_only=true --benchmark_format=csv \
    2>/dev/null > "$2"
}
inprocess_csv '^Mesh/' "$out/inprocess_mesh.csv"
inprocess_csv '^Form/' "$out/inprocess_forms.csv"
octave "octave_mesh_bench('$PWD/$out/mesh.dat', 'full', '$PWD/$out/inprocess_mesh.csv')" |
  tee "$out/octave_mesh.txt"
octave "octave_forms_bench('$PWD/$out/forms.dat', 'full', '$PWD/$out/inprocess_forms.csv')" |
  tee "$out/octave_forms.txt"
echo "== the forms by degree: element by element and by sum factorisation"
$build/bench/bench_inprocess --benchmark_filter='^Degree/' --benchmark_min_time=0.2 2>/dev/null |
  tee "$out/inprocess_degree.txt"
octave "octave_degree_bench('$PWD/$out/degree.dat')" | tee "$out/octave_degree.txt"
echo "== in Octave, a domain of several patches"
octave "octave_multipatch_bench" | tee "$out/octave_multipatch.txt"
echo "== in Octave, parts on 2 processes against one call on 2 threads"
octave "octave_parallel_bench" | tee "$out/octave_parallel.txt"
echo "== in Octave, the Octave-native functions against the MEX files"
octave "octave_bindings_bench('$PWD/$build/octave-mex')" | tee "$out/octave_bindings.txt"
echo "== in Octave, a solution field"
octave "octave_fields_bench" | tee "$out/octave_fields.txt"
petsc_step
hierarchical_step
