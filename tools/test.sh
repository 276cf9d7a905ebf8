#!/usr/bin/env bash
# The whole test suite: kernel, plug-ins through the stand-in host, the binaries, and Octave.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/build.sh
build=${BUILD_DIR:-build}
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
