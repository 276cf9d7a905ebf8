#!/usr/bin/env bash
# Both benchmarks, in one run each, after building the release:
#   1. in process (Google Benchmark): every plug-in through the stand-in host, time per call and
#      the plug-in's own heap blocks per call, degrees 1, 2, 3, 5 and 8, 64, 1024 functions;
#   2. in Octave: every plug-in against the host's floor (TrivialMex) and the nurbs package,
#      and the sweep over the number of functions plotted to docs/per_call.png (with gnuplot).
# Results go to build/bench/.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/build.sh > /dev/null
build=${BUILD_DIR:-build}
out=$build/bench
echo "== in process, through the stand-in host"
$build/bench/bench_inprocess --benchmark_min_time=0.2 2>/dev/null | tee "$out/inprocess.txt"
echo "== in Octave"
octave-cli --norc --no-history --quiet --eval \
  "addpath('$PWD/$build/toolbox'); addpath('$PWD/$out'); addpath('$PWD/bench'); octave_bench('$PWD/$out/plot.dat')" \
  | tee "$out/octave.txt"
if command -v gnuplot > /dev/null; then
  gnuplot -e "data='$out/plot.dat'; out='docs/per_call.png'" bench/plot.gp
  echo "plot: docs/per_call.png"
fi
