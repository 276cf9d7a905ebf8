#!/usr/bin/env bash
# Builds the plug-ins of revision REV (default HEAD~1) beside the current build and compares the
# outputs of the two bit for bit on random valid cases of every plug-in.
#   tools/compare-builds.sh [REV] [cases per plug-in]
set -euo pipefail
cd "$(dirname "$0")/.."
rev=${1:-HEAD~1}
cases=${2:-2000}
tools/build.sh > /dev/null
other=build-compare
rm -rf "$other"
git worktree prune
git worktree add --detach "$other/src" "$rev" > /dev/null
cmake -S "$other/src" -B "$other/build" -DCMAKE_BUILD_TYPE=Release -DNURBS_OCTAVE=OFF \
      -DNURBS_TESTS=OFF -DNURBS_BENCH=OFF > /dev/null
cmake --build "$other/build" -j "$(nproc)" > /dev/null
echo "$(git rev-parse --short "$rev") against the working tree:"
status=0
build/bench/compare_builds "$other/build/toolbox" "${BUILD_DIR:-build}/toolbox" "$cases" || status=$?
git worktree remove --force "$other/src"
exit $status
