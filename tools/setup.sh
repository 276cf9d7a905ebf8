#!/usr/bin/env bash
# Installs the Debian packages the project needs to build, test, package and benchmark, skipping
# those already present (apt-get update only when something is missing). Run as root, or with
# sudo at hand. NURBS_EXTRA_PACKAGES adds more. gnuplot and a font are for the plots;
# octave-parallel for assembly in parts on other processes (its test, example and benchmark);
# python3-vtk9 reads the VTK files back in the tests; petsc-dev and openmpi-bin build and run the
# MPI program (nurbsbasis-mpi), python3-petsc4py reads its files back in the tests.
#   tools/setup.sh
set -euo pipefail
needed=(cmake make g++ binutils libgtest-dev googletest libbenchmark-dev octave liboctave-dev
        octave-nurbs octave-parallel valgrind clang libclang-rt-14-dev g++-mingw-w64-x86-64 wine
        wine64 zip unzip gnuplot-nox fonts-freefont-otf python3-vtk9 petsc-dev openmpi-bin python3-petsc4py
        pkg-config ${NURBS_EXTRA_PACKAGES:-})
missing=()
for pkg in "${needed[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed" || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo=""; [ "$(id -u)" = 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
