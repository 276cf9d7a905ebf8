#!/usr/bin/env bash
# The release files, into DIR (default dist/):
#   nurbsbasis-<version>.tar.gz        the Octave package: pkg install nurbsbasis-<version>.tar.gz
#                                      compiles its plug-ins; made from the sources alone
#   nurbsbasis-<version>-matlab.zip    the MATLAB folder: help files with prebuilt .mexa64 and
#                                      .mexw64 beside them, Contents.m, the sources and build_mex.m;
#                                      made from the release build (tools/build.sh, run first) and
#                                      the Windows build (tools/windows.sh --build, which installs
#                                      MinGW-w64 and Wine through tools/setup.sh, as root)
# The version is VERSION's; the date that of the last commit.
#   tools/package.sh [--octave-only | --no-windows] [--no-build] [DIR]
#     --octave-only  the Octave package alone: nothing is built or installed
#     --no-windows   the MATLAB folder without .mexw64 files (with a warning): no MinGW-w64, no Wine
#     --no-build     take the release build as it is instead of building it first
set -euo pipefail
cd "$(dirname "$0")/.."
usage() { awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' "$0"; }
rebuild=1 matlab=1 windows=1
while [ $# -gt 0 ]; do
  case $1 in
    --no-build) rebuild=0 ;;
    --octave-only) matlab=0 ;;
    --no-windows) windows=0 ;;
    -h | --help) usage; exit 0 ;;
    -*) echo "tools/package.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
    *) break ;;
  esac
  shift
done
build=${BUILD_DIR:-build}
out=$(mkdir -p "${1:-dist}" && cd "${1:-dist}" && pwd)
version=$(head -1 VERSION)
day=$(git log -1 --format=%cs 2>/dev/null || date +%F)
if [ $matlab = 1 ]; then
  [ $rebuild = 1 ] && tools/build.sh > /dev/null
  if [ $windows = 1 ]; then
    tools/windows.sh --build > /dev/null
  else
    echo "tools/package.sh: warning: the MATLAB folder holds no Windows plug-ins (.mexw64);" \
         "on Windows, build_mex compiles them" >&2
  fi
fi
names=$(sed -n 's/^NURBS_PLUGIN(\([A-Za-z0-9]*\),.*/\1/p' plugins/registry.def)
# The calls over a whole mesh, as folder/Name: each an m-function over its native core NameCore.
meshes=$(sed -n 's/^NURBS_\(MESH\|DOMAIN\|HIERARCHICAL\|FILE\)(\([A-Za-z0-9]*\), *\([a-z]*\),.*/\3\/\2/p' plugins/registry.def)
# The solvers' native cores, as folder/Name (each with its help file).
cores=$(sed -n 's/^NURBS_CORE(\([A-Za-z0-9]*\), *\([a-z]*\)).*/\2\/\1/p' plugins/registry.def)
# The m-functions with no core of their own, as folder/Name.
mfiles=$(sed -n 's/^NURBS_MFUNCTION(\([A-Za-z0-9]*\), *\([a-z]*\)).*/\2\/\1/p' plugins/registry.def)
private=$(sed -n 's/^set(NURBS_PRIVATE_MFILES \(.*\))$/\1/p' plugins/CMakeLists.txt)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# The sources the plug-ins are built from, in their folders.
sources() {
  mkdir -p "$1"
  find kernel evaluators mesh domain hierarchical forms solvers files gateway mex plugins \
    \( -name '*.cpp' -o -name '*.h' -o -name registry.def \) |
    sort | while read -r f; do mkdir -p "$1/$(dirname "$f")" && cp "$f" "$1/$f"; done
}
# Every help file of a compiled function: the registry's plug-ins, their twins, the mesh calls'
# native cores.
help_files() {
  for n in $names; do ls plugins/*/"$n.m"; done
  for n in $names; do echo "plugins/batch/${n}Batch.m"; done
  for m in $meshes; do echo "plugins/${m}Core.m"; done
  for c in $cores; do echo "plugins/$c.m"; done
}
# The m-functions over the cores, and the ones they share in private/.
mfunctions() { for m in $meshes $mfiles; do echo "plugins/$m.m"; done; }
private_files() { for f in $private; do echo "plugins/mesh/private/$f"; done; }
# The help text's first line, "% RATCURVESHAPEGRAD  Rational basis ..." -> "Rational basis ..."
summary() { grep -m1 '^%' "$1" | sed 's/^% *[A-Z0-9]* *//'; }

# The Octave package.
pkgdir=$stage/nurbsbasis-$version
mkdir -p "$pkgdir/inst/private"
cp $(help_files) $(mfunctions) "$pkgdir/inst/"
cp $(private_files) "$pkgdir/inst/private/"
sources "$pkgdir/src"
cp packaging/octave/Makefile packaging/octave/octave_entry.sh "$pkgdir/src/"
cp LICENSE "$pkgdir/COPYING"
cp NEWS.md "$pkgdir/NEWS"
cat > "$pkgdir/DESCRIPTION" <<DESC
Name: nurbsbasis
Version: $version
Date: $day
Title: NURBS and B-spline basis functions for isogeometric and spline codes
Author: The nurbsbasis authors
Maintainer: The nurbsbasis authors
Description: Native (MEX) functions that evaluate rational (NURBS) and plain
 B-spline basis functions and their derivatives at the points of curves,
 surfaces and volumes, one point per call or any number of points per call
 (the batch twins, threaded); a whole patch's quadrature data in physical
 space in one call (MeshEval); and the standard isogeometric forms (stiffness,
 mass, load, advection, elasticity, bilaplacian) assembled natively. Every
 input checked, every result the same bits whatever the number of threads.
Categories: Geometry
Depends: octave (>= 6.0.0)
License: BSD-3-Clause
DESC
{
  echo "nurbsbasis >> NURBS and B-spline basis functions"
  for folder in curve surface volume; do
    echo "${folder^}"
    for n in $names; do [ -e "plugins/$folder/$n.m" ] && echo " $n"; done
  done
  echo "Batch"
  for n in $names; do echo " ${n}Batch"; done
  for folder in mesh forms domain solvers; do
    echo "${folder^}"
    for m in $meshes; do
      [ "${m%%/*}" = "$folder" ] && echo " ${m#*/} ${m#*/}Core"
    done
    for c in $cores; do
      [ "${c%%/*}" = "$folder" ] && echo " ${c#*/}"
    done
    for m in $mfiles; do
      [ "${m%%/*}" = "$folder" ] && echo " ${m#*/}"
    done
  done
} > "$pkgdir/INDEX"
tar -C "$stage" -czf "$out/nurbsbasis-$version.tar.gz" "nurbsbasis-$version"
echo "$out/nurbsbasis-$version.tar.gz"
[ $matlab = 1 ] || exit 0

# The MATLAB folder.
mdir=$stage/matlab/nurbsbasis
mkdir -p "$mdir/examples"
for f in $(help_files); do
  n=$(basename "$f" .m)
  cp "$f" "$build/toolbox/$n.mexa64" "$mdir/"
  [ $windows = 0 ] || cp "build-windows/toolbox/$n.mexw64" "$mdir/"
done
mkdir -p "$mdir/private"
cp $(mfunctions) LICENSE README.md NEWS.md packaging/matlab/build_mex.m "$mdir/"
cp $(private_files) "$mdir/private/"
cp examples/*.m "$mdir/examples/"
sources "$mdir/src"
{
  echo "% nurbsbasis  NURBS and B-spline basis functions at one point or many"
  echo "% Version $version $(LC_ALL=C date -d "$day" +%d-%b-%Y)"
  echo "%"
  for folder in curve surface volume; do
    echo "% ${folder^}s, one point per call"
    for n in $names; do
      [ -e "plugins/$folder/$n.m" ] && printf '%%   %-27s - %s\n' "$n" "$(summary "plugins/$folder/$n.m")"
    done
    echo "%"
  done
  echo "% Many points per call"
  for n in $names; do
    printf '%%   %-27s - %s\n' "${n}Batch" "$(summary "plugins/batch/${n}Batch.m")"
  done
  echo "%"
  echo "% A whole mesh and its forms in one call"
  for m in $meshes; do
    printf '%%   %-27s - %s\n' "${m#*/}" "$(summary "plugins/$m.m")"
    printf '%%   %-27s - %s\n' "${m#*/}Core" "$(summary "plugins/${m}Core.m")"
  done
  for m in $mfiles; do
    printf '%%   %-27s - %s\n' "${m#*/}" "$(summary "plugins/$m.m")"
  done
  for c in $cores; do
    printf '%%   %-27s - %s\n' "${c#*/}" "$(summary "plugins/$c.m")"
  done
  echo "%"
  echo "% Building from source"
  printf '%%   %-27s - %s\n' build_mex "Compiles the plug-ins from src/ with this host's mex."
} > "$mdir/Contents.m"
rm -f "$out/nurbsbasis-$version-matlab.zip"
(cd "$stage/matlab" && zip -qr "$out/nurbsbasis-$version-matlab.zip" nurbsbasis)
echo "$out/nurbsbasis-$version-matlab.zip"
