# Sourced by the other scripts: installs the Debian packages the project needs, skipping those
# already present (apt-get update only when something is missing).
needed=(cmake make g++ binutils libgtest-dev googletest octave liboctave-dev octave-nurbs valgrind
        clang libclang-rt-14-dev g++-mingw-w64-x86-64 wine wine64)
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
