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
#  10. in Octave, every form at the speed of one patch (bench/octave_sumfact_bench.m): a domain
#      of two patches against their own calls, the load vector, the Dirichlet values and 8 parts
#      against the stiffness, the annulus against the element path; on one thread, this build
#      and 82b76b2's (built in build-82b76b2/ as tools/compare-builds.sh builds a
#      revision, or BASE_TOOLBOX) in the same run; then each call's native instructions under
#      callgrind (the stable figures): octave_sumfact.txt, sumfact_counts.txt. Alone:
#      tools/bench.sh sumfact;
#  11. in Octave, solving at scale: Poisson on the thick ring to 1e-8, geometry to solution, the
#      matrix-free operator with the fast-diagonalisation preconditioner and pcg against our
#      assembly + ichol + pcg (and backslash where it fits), each case in a process of its own for
#      its peak memory; p = 3 with n = 24, 48, 64, 100, p = 6 with n = 55; pcg's iterations for
#      p = 2..6 and n = 16, 32, 64; the ring as 1, 2 and 8 patches (octave_solvers.txt).
#  12. in Octave, hierarchical spaces: refining 10% of a 2-D space of five levels and some 10^5
#      unknowns against its stiffness; that stiffness against a tensor patch's with as many
#      elements; the L-shape's adaptive loop to 1e-4 against uniform refinement
#      (octave_hierarchical.txt). Alone: tools/bench.sh hierarchical.
# Results go to build/bench/. `tools/bench.sh --step N` runs step N alone (the build first).
set -euo pipefail
cd "$(dirname "$0")/.."
only=""
if [ "${1:-}" = "--step" ]; then only=${2:?"--step takes a step number"}; fi
step() { [ -z "$only" ] || [ "$only" = "$1" ]; }
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
sumfact_step() {
  echo "== in Octave, every form at the speed of one patch (one thread; this build, then 82b76b2)"
  local base=${BASE_TOOLBOX:-}
  if [ -z "$base" ]; then
    local rev=82b76b2 dir=build-82b76b2
    if [ ! -e "$dir/build/toolbox/StiffnessMatrixCore.oct" ]; then
      git worktree prune
      [ -e "$dir/src" ] || git worktree add --detach "$dir/src" "$rev" > /dev/null
      cmake -S "$dir/src" -B "$dir/build" -DCMAKE_BUILD_TYPE=Release -DNURBS_TESTS=OFF \
            -DNURBS_BENCH=OFF > /dev/null
      cmake --build "$dir/build" -j "$(nproc)" > /dev/null
    fi
    base=$PWD/$dir/build/toolbox
  fi
  local with="addpath('$PWD/$out'); addpath('$PWD/bench'); addpath('$PWD/tests/octave')"
  for toolbox in "$PWD/$build/toolbox" "$base"; do
    NURBS_NUM_THREADS=1 octave-cli --norc --no-history --quiet --eval \
      "addpath('$toolbox'); $with; octave_sumfact_bench ()"
  done | tee "$out/octave_sumfact.txt"
  if command -v valgrind > /dev/null; then
    echo "== the same calls' instructions inside the native gateway (callgrind, one thread)"
    local dumps=$out/sumfact_callgrind toolbox=$PWD/$build/toolbox
    rm -rf "$dumps" && mkdir -p "$dumps"
    (cd "$dumps" && NURBS_NUM_THREADS=1 valgrind --tool=callgrind --callgrind-out-file=cg.out \
       --toggle-collect='gateway::Run*' octave-cli --norc --no-history --quiet --eval \
       "addpath('$toolbox'); $with; octave_sumfact_bench ('count')" > log 2>&1)
    for f in "$dumps"/cg.out.*; do
      printf '%s|%s\n' "$(sed -n 's/^desc: Trigger: dump //p' "$f")" "$(sed -n 's/^totals: //p' "$f")"
    done | awk -F'|' '{a[$1] = $2} END {
      for (p = 2; p <= 6; p += 2) {
        P = "p" p
        printf "p=%d instructions (millions): K %.0f; domain/halves K %.2f M %.2f E %.2f; F/K %.2f, Fh/K %.2f, D/K %.2f, parts/K %.2f\n", p, a[P " K"] / 1e6,
          a[P " domain K"] / (a[P " half1 K"] + a[P " half2 K"]),
          a[P " domain M"] / (a[P " half1 M"] + a[P " half2 M"]),
          a[P " domain E"] / (a[P " half1 E"] + a[P " half2 E"]),
          a[P " F"] / a[P " K"], a[P " Fh"] / a[P " K"], a[P " D"] / a[P " K"], a[P " parts"] / a[P " K"]
      }
      split("stiffness mass elasticity", f, " ")
      for (k = 1; k <= 3; ++k) printf "annulus p=5 %s: elements / sum factorisation %.2f\n", f[k],
        a["annulus elements " f[k]] / a["annulus " f[k]]
    }' | tee "$out/sumfact_counts.txt"
  fi
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
if [ "${1:-}" = sumfact ]; then
  sumfact_step
  exit 0
fi
if [ "${1:-}" = hierarchical ]; then
  hierarchical_step
  exit 0
fi
if step 1; then
echo "== in process, through the stand-in host and the evaluators alone"
$build/bench/bench_inprocess --benchmark_filter='^(Call|Twin)/' --benchmark_min_time=0.2 2>/dev/null |
  tee "$out/inprocess.txt"
# The evaluators alone decide the threads' figure: five repetitions each, their medians.
$build/bench/bench_inprocess --benchmark_filter='^Evaluator/' --benchmark_min_time=0.2 \
  --benchmark_repetitions=5 --benchmark_report_aggregates_only=true 2>/dev/null |
  grep -v '_mean\|_stddev\|_cv' | tee -a "$out/inprocess.txt"
fi
if step 2; then
echo "== in Octave, one point per call"
octave "octave_bench('$PWD/$out/plot.dat')" | tee "$out/octave.txt"
fi
if step 3; then
echo "== in Octave, many points per call"
octave "octave_batch_bench('$PWD/$out/batch.dat')" | tee "$out/octave_batch.txt"
gnuplot -e "data='$out/plot.dat'; out='docs/per_call.png'" bench/plot.gp
gnuplot -e "data='$out/batch.dat'; out='docs/batch.png'" bench/batch.gp
echo "plots: docs/per_call.png docs/batch.png"
fi
if step 4; then
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
fi
if step 5; then
echo "== in Octave, a domain of several patches"
octave "octave_multipatch_bench" | tee "$out/octave_multipatch.txt"
fi
if step 6; then
echo "== in Octave, parts on 2 processes against one call on 2 threads"
octave "octave_parallel_bench" | tee "$out/octave_parallel.txt"
fi
if step 7; then
echo "== in Octave, the Octave-native functions against the MEX files"
octave "octave_bindings_bench('$PWD/$build/octave-mex')" | tee "$out/octave_bindings.txt"
fi
if step 8; then
echo "== in Octave, a solution field"
octave "octave_fields_bench" | tee "$out/octave_fields.txt"
fi
if step 9; then
petsc_step
fi
if step 10; then
sumfact_step
fi
if step 11; then
echo "== in Octave, solving at scale: the thick ring, Poisson, to 1e-8"
{
  for n in 24 48 64; do
    for m in free assembled; do octave "octave_solver_bench('$m', 3, $n)"; done
  done
  octave "octave_solver_bench('backslash', 3, 24)"
  octave "octave_solver_bench('load', 3, 64)"
  octave "octave_solver_bench('free', 3, 100)"
  octave "octave_solver_bench('free', 6, 55)"
  octave "octave_solver_bench('iterations', 2:6, [16 32 64])"
  octave "octave_solver_bench('domains', 3, [16 32 64])"
} | tee "$out/octave_solvers.txt"
fi
if step 12; then
hierarchical_step
fi
