#!/usr/bin/env bash
# tools/package.sh's lighter runs, with every build and install tool replaced by one that fails:
# --octave-only makes the Octave package alone, the full run's file for file, from the sources;
# --no-windows --no-build makes both files from the release build as it is, warns, and its MATLAB
# folder is the full run's without the .mexw64 files.
# usage: check_package_options.sh BUILD_DIR DIST VERSION   (DIST: the full run's files)
set -u
build=$1 dist=$2 version=$3
root=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/bin"
for tool in cmake make g++ mkoctfile apt-get dpkg-query sudo x86_64-w64-mingw32-g++ wine wine64; do
  printf '#!/bin/sh\necho "%s" >> "%s/called"\nexit 1\n' "$tool" "$scratch" > "$scratch/bin/$tool"
  chmod +x "$scratch/bin/$tool"
done
failed=0
fail() { echo "$1"; failed=1; }
run() {
  PATH="$scratch/bin:$PATH" BUILD_DIR=$build "$root/tools/package.sh" "$@" 2> "$scratch/stderr" \
    > /dev/null || fail "tools/package.sh $*: failed: $(cat "$scratch/stderr")"
  [ -e "$scratch/called" ] && fail "tools/package.sh $*: ran $(sort -u "$scratch/called" | tr '\n' ' ')"
  rm -f "$scratch/called"
}
tarball=nurbsbasis-$version.tar.gz
archive=nurbsbasis-$version-matlab.zip
unpack() { mkdir -p "$2" && tar -C "$2" -xzf "$1"; }

run --octave-only "$scratch/octave"
[ "$(ls "$scratch/octave")" = "$tarball" ] || fail "--octave-only made: $(ls "$scratch/octave" | tr '\n' ' ')"
unpack "$dist/$tarball" "$scratch/full" && unpack "$scratch/octave/$tarball" "$scratch/alone" &&
  diff -r "$scratch/full" "$scratch/alone" > /dev/null || fail "--octave-only: not the full run's package"

run --no-windows --no-build "$scratch/matlab"
grep -q "warning: .*no Windows plug-ins" "$scratch/stderr" || fail "--no-windows: no warning"
[ -e "$scratch/matlab/$tarball" ] || fail "--no-windows: no Octave package"
expected=$(unzip -Z1 "$dist/$archive" | grep -v '\.mexw64$' | sort)
[ "$(unzip -Z1 "$scratch/matlab/$archive" | sort)" = "$expected" ] ||
  fail "--no-windows: not the full run's MATLAB folder without its .mexw64 files"

[ $failed = 0 ] && echo "--octave-only: the Octave package alone; --no-windows: no .mexw64, a warning; neither built nor installed anything"
exit $failed
