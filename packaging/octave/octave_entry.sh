#!/bin/sh
# octave_entry.sh Name help.m: the source of plug-in Name as an Octave-native function, on
# standard output. It installs Name with the help file's text as its help (the file's first
# comment block, each line's comment sign taken off) and enters the plug-in's mexFunction through
# Octave's binding of the gateway. Used by the CMake build and by the Octave package's Makefile.
set -eu
name=$1
help=$2
printf '// %s as an Octave-native function (made from %s.m by the build).\n' "$name" "$name"
printf '#include "octave_binding.h"\n\n'
printf 'extern "C" __attribute__((visibility("default")))  // what Octave looks up by name\n'
printf 'octave_function* G%s(const octave::dynamic_library& library, bool relative) {\n' "$name"
printf '  return octave_binding::Install("%s",\n' "$name"
awk '/^[ \t]*%/ { started = 1; sub(/^[ \t]*%/, ""); gsub(/\\/, "\\\\"); gsub(/"/, "\\\"");
                  printf "\"%s\\n\"\n", $0; next }
     started { exit }
     END { if (!started) print "\"\"" }' "$help"
printf '  , mexFunction, library, relative);\n}\n'
