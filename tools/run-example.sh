#!/usr/bin/env bash
# The main job: build the plug-ins and run the example in GNU Octave.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
tools/build.sh
build=${BUILD_DIR:-build}
octave-cli --norc --no-history --quiet \
  --eval "addpath('$PWD/$build/toolbox'); cd('$PWD/examples'); main"
