#!/usr/bin/env bash
# Builds the plug-ins of revision REV (default HEAD~1) beside the current build and compares the
# two: every call's outputs bit for bit on random valid and spoiled cases of every plug-in both
# have, then the instructions one call of each one-point plug-in executes (callgrind, counted
# inside mexFunction, host operations included), at three sizes, REV against the working tree.
#   tools/compare-builds.sh [REV] [cases per plug-in]
set -euo pipefail
cd "$(dirname "$0")/.."
rev=${1:-HEAD~1}
cases=${2:-2000}
tools/build.sh > /dev/null
build=${BUILD_DIR:-build}
other=build-compare
rm -rf "$other"
git worktree prune
git worktree add --detach "$other/src" "$rev" > /dev/null
cmake -S "$other/src" -B "$other/build" -DCMAKE_BUILD_TYPE=Release -DNURBS_OCTAVE=OFF \
      -DNURBS_TESTS=OFF -DNURBS_BENCH=OFF > /dev/null
cmake --build "$other/build" -j "$(nproc)" > /dev/null
echo "$(git rev-parse --short "$rev") against the working tree:"
status=0
"$build/bench/compare_builds" "$other/build/toolbox" "$build/toolbox" "$cases" || status=$?

if command -v valgrind > /dev/null; then
  echo "instructions per call, $(git rev-parse --short "$rev") / working tree:"
  count() {  # toolbox name p n: instructions per call inside mexFunction
    local calls=200
    valgrind --tool=callgrind --toggle-collect=mexFunction --callgrind-out-file=/dev/null \
      "$build/bench/call_count" "$1" "$2" "$3" "$4" $calls 2>&1 |
      awk -v c=$calls '/I *refs:/ {gsub(",", "", $NF); printf "%.0f", $NF / c}'
  }
  worst=0
  for name in $(sed -n 's/^NURBS_PLUGIN(\([A-Za-z0-9]*\),.*/\1/p' plugins/registry.def); do
    [ -e "$other/build/toolbox/$name.mexa64" ] || continue
    line=$(printf '%-24s' "$name")
    for size in "1 8" "3 64" "5 1024"; do
      set -- $size
      [ "${name#RatVol}" != "$name" ] && [ "$2" -gt 64 ] && set -- "$1" 64
      old=$(count "$other/build/toolbox" "$name" "$1" "$2")
      new=$(count "$build/toolbox" "$name" "$1" "$2")
      ratio=$(awk -v a="$new" -v b="$old" 'BEGIN {printf "%.3f", a / b}')
      worst=$(awk -v a="$ratio" -v b="$worst" 'BEGIN {print (a > b ? a : b)}')
      line+=$(printf '  p=%s n=%-4s %6s / %-6s %s' "$1" "$2" "$old" "$new" "$ratio")
    done
    echo "$line"
  done
  echo "largest ratio new / old: $worst"
fi
git worktree remove --force "$other/src"
exit $status
