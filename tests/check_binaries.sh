#!/usr/bin/env bash
# Each NAME.mexa64 in DIR must export exactly mexFunction under the version node MEX, and need at
# load time nothing but libmx, libmex and the C library (libm allowed): no libstdc++, no libgcc_s,
# no search path of ours, and no symbol version newer than glibc 2.17, so that it loads on every
# Linux a host still supports.
# usage: check_binaries.sh DIR NAME...
set -u
dir=$1; shift
failed=0
for name in "$@"; do
  file=$dir/$name.mexa64
  exports=$(nm -D --defined-only "$file" | awk '$2 != "A" {print $3}' | sort | tr '\n' ' ')
  needs=$(readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | grep -v '^libm\.so\.6$' | sort | tr '\n' ' ')
  paths=$(readelf -d "$file" | grep -E '\((RPATH|RUNPATH)\)')
  if [ "$exports" != "mexFunction@@MEX " ]; then
    echo "$name: exports '$exports', expected 'mexFunction@@MEX'"; failed=1
  fi
  if [ "$needs" != "libc.so.6 libmex.so libmx.so " ]; then
    echo "$name: needs '$needs', expected libmx.so, libmex.so and libc.so.6"; failed=1
  fi
  newest=$(objdump -T "$file" | grep -o 'GLIBC_[0-9.]*' | sed 's/GLIBC_//' | sort -uV | tail -1)
  if [ "$(printf '%s\n2.17\n' "$newest" | sort -V | tail -1)" != 2.17 ]; then
    echo "$name: needs glibc $newest, newer than 2.17"; failed=1
  fi
  if [ -n "$paths" ]; then
    echo "$name: carries a library search path: $paths"; failed=1
  fi
done
[ $failed = 0 ] && echo "$# plug-ins: exports and needs as expected, glibc 2.17 at most"
exit $failed
