#!/usr/bin/env bash
# The whole test suite, after installing what is missing:
#   1. bounded fuzzing of every plug-in (tools/fuzz.sh, clang with ASan/UBSan/LSan);
#   2. the C++ tests under AddressSanitizer and UndefinedBehaviorSanitizer (preset asan);
#   3. the C++ tests under ThreadSanitizer (preset tsan), with several threads calling plug-ins;
#   4. the Windows x64 plug-ins, cross-built and tested under Wine (tools/windows.sh), their
#      outputs and errors compared with the Linux build's;
#   5. everything in the release build (preset default): kernel, plug-ins through the stand-in
#      host, the binaries' exports and needs, Octave against the nurbs package, the malformed
#      sweep (also under valgrind), and the examples.
# tools/test.sh --quick runs step 5 only.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
jobs=$(nproc)
if [ "${1:-}" != "--quick" ]; then
  echo "== fuzzing"
  tools/fuzz.sh
  for preset in asan tsan; do
    echo "== C++ tests under preset $preset"
    cmake --preset "$preset" > /dev/null
    cmake --build --preset "$preset" -j "$jobs" > /dev/null 2>&1 || cmake --build "build-$preset" -j "$jobs"
    ctest --test-dir "build-$preset" -j "$jobs" --output-on-failure | tail -3
  done
  echo "== Windows x64 under Wine"
  tools/windows.sh
fi
echo "== release build: all tests"
tools/build.sh > /dev/null
ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure -j "$jobs"
