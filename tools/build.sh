#!/usr/bin/env bash
# Configures and builds everything into build/ (or $BUILD_DIR): the plug-ins for Octave and MATLAB,
# the tests and the benchmarks. Installs nothing: a missing tool is named, with the command that
# installs it (tools/setup.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
missing=()
for tool in cmake make g++ mkoctfile octave-cli; do
  command -v "$tool" > /dev/null || missing+=("$tool")
done
for header in /usr/include/gtest/gtest.h /usr/include/benchmark/benchmark.h; do
  [ -e "$header" ] || missing+=("$header")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "tools/build.sh: not found: ${missing[*]}; run tools/setup.sh, which installs them" >&2
  exit 1
fi
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$build" -j "$(nproc)"
