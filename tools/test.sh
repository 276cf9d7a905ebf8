#!/usr/bin/env bash
# The whole test suite, after installing what is missing:
#   1. bounded fuzzing of every plug-in (tools/fuzz.sh, clang with ASan/UBSan/LSan), two targets
#      at a time on two cores, FUZZ_SECONDS (default 5) each; --full-fuzz gives each 15;
#   2. the C++ tests under AddressSanitizer and UndefinedBehaviorSanitizer (preset asan);
#   3. the C++ tests under ThreadSanitizer (preset tsan), with several threads calling plug-ins;
#   4. the Windows x64 plug-ins, cross-built and tested under Wine (tools/windows.sh), their
#      outputs and errors compared with the Linux build's;
#   5. everything in the release build (preset default): kernel, domains, plug-ins through the
#      stand-in host, the binaries' exports and needs, Octave against the nurbs package, the
#      malformed sweep (also under valgrind), the examples and the release files.
# Each phase prints its time. tools/test.sh --quick runs step 5 only.
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0 fuzz_seconds=${FUZZ_SECONDS:-5}
for arg in "$@"; do
  case $arg in
    --quick) quick=1 ;;
    --full-fuzz) fuzz_seconds=15 ;;
    *) echo "usage: tools/test.sh [--quick | --full-fuzz]" >&2; exit 2 ;;
  esac
done
tools/setup.sh
jobs=$(nproc)
started=$SECONDS
phase_start=$SECONDS
phase() {
  if [ -n "${phase_name:-}" ]; then
    printf -- '-- %s: %d s\n' "$phase_name" $((SECONDS - phase_start))
  fi
  phase_name=$1 phase_start=$SECONDS
  [ -n "$1" ] && echo "== $1"
  return 0
}
if [ $quick = 0 ]; then
  phase "fuzzing, $fuzz_seconds s a plug-in"
  SECONDS_EACH=$fuzz_seconds tools/fuzz.sh
  for preset in asan tsan; do
    phase "C++ tests under preset $preset"
    cmake --preset "$preset" > /dev/null
    cmake --build --preset "$preset" -j "$jobs" > /dev/null 2>&1 || cmake --build "build-$preset" -j "$jobs"
    ctest --test-dir "build-$preset" -j "$jobs" --output-on-failure | tail -3
  done
  phase "Windows x64 under Wine"
  tools/windows.sh
fi
phase "release build: all tests"
tools/build.sh > /dev/null
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure -j "$jobs"
phase ""
printf -- '-- the whole suite: %d s\n' $((SECONDS - started))
