#!/usr/bin/env bash
# The MATLAB archive holds one folder nurbsbasis/ with, for every plug-in of the registry and its
# twin and every mesh call's native core, the help file and both prebuilt binaries; every mesh
# call's m-function and the m-functions they share in private/; Contents.m (the toolbox's name,
# its version, every function's summary), LICENSE, README, the examples, the sources and
# build_mex.m.
# usage: check_archive.sh ZIP REGISTRY VERSION
set -u
zip=$1 registry=$2 version=$3
files=$(unzip -Z1 "$zip")
failed=0
need() {
  grep -qx "nurbsbasis/$1" <<< "$files" || { echo "missing: nurbsbasis/$1"; failed=1; }
}
names=$(sed -n 's/^NURBS_PLUGIN(\([A-Za-z0-9]*\),.*/\1/p' "$registry")
count=0
for n in $names; do
  for f in "$n" "${n}Batch"; do
    need "$f.m"; need "$f.mexa64"; need "$f.mexw64"
    count=$((count + 1))
  done
done
meshes=$(sed -n 's/^NURBS_\(MESH\|DOMAIN\|HIERARCHICAL\|FILE\)(\([A-Za-z0-9]*\),.*/\2/p' "$registry")
mfiles=$(sed -n 's/^NURBS_MFUNCTION(\([A-Za-z0-9]*\),.*/\1/p' "$registry")
cores=$(sed -n 's/^NURBS_CORE(\([A-Za-z0-9]*\),.*/\1/p' "$registry")
mfunctions=0
for n in $meshes; do
  need "$n.m"; need "${n}Core.m"; need "${n}Core.mexa64"; need "${n}Core.mexw64"
  count=$((count + 1)) mfunctions=$((mfunctions + 1))
done
for n in $mfiles; do
  need "$n.m"
  mfunctions=$((mfunctions + 1))
done
for n in $cores; do
  need "$n.m"; need "$n.mexa64"; need "$n.mexw64"
  count=$((count + 1))
done
for f in Contents.m LICENSE README.md NEWS.md build_mex.m examples/main.m examples/iga_example.m \
         src/plugins/registry.def src/kernel/NURBS.cpp src/gateway/gateway.cpp \
         src/evaluators/batch.cpp src/mex/mex_api.h src/mesh/mesh.cpp src/forms/forms.cpp \
         private/mesh_arguments.m; do
  need "$f"
done
[ "$(grep -c '^nurbsbasis/[^/]\+$' <<< "$files")" = "$((3 * count + mfunctions + 5))" ] ||
  { echo "unexpected files at the top: $(grep '^nurbsbasis/[^/]\+$' <<< "$files" | tr '\n' ' ')"; failed=1; }
contents=$(unzip -p "$zip" nurbsbasis/Contents.m)
[ "$(sed -n 1p <<< "$contents")" = "% nurbsbasis  NURBS and B-spline basis functions at one point or many" ] ||
  { echo "Contents.m line 1: $(sed -n 1p <<< "$contents")"; failed=1; }
grep -Eq "^% Version $version [0-9]{2}-[A-Z][a-z]{2}-[0-9]{4}$" <<< "$(sed -n 2p <<< "$contents")" ||
  { echo "Contents.m line 2: $(sed -n 2p <<< "$contents")"; failed=1; }
listed=$(for n in $names; do echo "$n" "${n}Batch"; done; for n in $meshes; do echo "$n" "${n}Core"; done; echo $mfiles $cores)
for f in $listed; do
  grep -Eq "^%   $f +- [A-Z]" <<< "$contents" || { echo "Contents.m does not list $f"; failed=1; }
done
[ $failed = 0 ] && echo "$count plug-ins, twins and cores, each with its help file, .mexa64 and .mexw64; $mfunctions m-functions over the cores; Contents.m for version $version"
exit $failed
