#!/usr/bin/env bash
# Cross-builds the Windows x64 plug-ins (build-windows/toolbox/<Name>.mexw64) with MinGW-w64 and,
# when Wine is present, tests them: the same GoogleTest cases as on Linux, loading each .mexw64 by
# file name through the stand-in libmx.dll/libmex.dll; the export and import tables; and every
# plug-in's outputs, errors and identifiers on random cases against the Linux build, bit for bit.
#   tools/windows.sh            build and test
#   tools/windows.sh --build    build only
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh
export WINEDEBUG=-all
cmake --preset windows > /dev/null
cmake --build --preset windows -j "$(nproc)" > /dev/null
echo "built: $(ls build-windows/toolbox/*.mexw64 | wc -l) plug-ins in build-windows/toolbox"
[ "${1:-}" = "--build" ] && exit 0
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
"$wine" cmd /c exit > /dev/null 2>&1 || true   # the first start makes Wine's prefix
ctest --test-dir build-windows --output-on-failure

echo "== Windows against Linux, bit for bit"
tools/build.sh > /dev/null
cases=${CASES:-500}
dir=$(mktemp -d)
"${BUILD_DIR:-build}/bench/compare_builds" --dump "${BUILD_DIR:-build}/toolbox" "$dir/linux.txt" "$cases"
"$wine" build-windows/bin/compare_builds.exe --dump "Z:$PWD/build-windows/toolbox" "Z:$dir/windows.txt" "$cases"
tr -d '\r' < "$dir/windows.txt" > "$dir/windows.lf"
calls=$(wc -l < "$dir/linux.txt")
errors=$(grep -c ' error ' "$dir/linux.txt" || true)
values=$(grep -o ' [0-9a-f]\{16\}' "$dir/linux.txt" | wc -l)
if cmp -s "$dir/linux.txt" "$dir/windows.lf"; then
  echo "$calls calls on both builds: $values output values bit-identical, $errors errors with the same identifier and message"
  rm -rf "$dir"
else
  diff "$dir/linux.txt" "$dir/windows.lf" | head -20
  echo "Windows and Linux differ (files in $dir)"
  exit 1
fi
