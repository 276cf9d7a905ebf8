#!/usr/bin/env bash
# Each NAME.mexw64 in DIR must export exactly mexFunction and import only from libmx.dll,
# libmex.dll and Windows system DLLs (KERNEL32, the C runtime msvcrt or the api-ms-win-crt set):
# no libstdc++, libgcc or libwinpthread DLL.
# usage: check_windows_binaries.sh DIR NAME...
set -u
dir=$1; shift
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
failed=0
for name in "$@"; do
  file=$dir/$name.mexw64
  dump=$($objdump -p "$file")
  exports=$(printf '%s\n' "$dump" | sed -n '/Ordinal\/Name Pointer\] Table/,/^$/p' |
            sed -n 's/^\s*\[ *[0-9]*\] *//p' | sort | tr '\n' ' ')
  imports=$(printf '%s\n' "$dump" | sed -n 's/^\s*DLL Name: *//p' | sort -f | tr '\n' ' ')
  if [ "$exports" != "mexFunction " ]; then
    echo "$name: exports '$exports', expected only mexFunction"; failed=1
  fi
  for dll in $imports; do
    case "$dll" in
      libmx.dll|libmex.dll|KERNEL32.dll|msvcrt.dll|api-ms-win-crt-*.dll) ;;
      *) echo "$name: imports $dll"; failed=1 ;;
    esac
  done
  case " $imports" in *" libmex.dll "*) ;; *) echo "$name: does not import libmex.dll"; failed=1 ;; esac
  case " $imports" in *" libmx.dll "*) ;; *) echo "$name: does not import libmx.dll"; failed=1 ;; esac
done
[ $failed = 0 ] && echo "$# plug-ins: export mexFunction only; import libmx.dll, libmex.dll and system DLLs"
exit $failed
