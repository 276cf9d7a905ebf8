#!/usr/bin/env bash
# Runs an Octave test script under valgrind's memcheck and fails on any error valgrind reports
# (invalid reads or writes, uses of uninitialised values, definite leaks) that the committed
# suppressions do not cover, or on any failed check of the script.
# usage: octave_memcheck.sh TOOLBOX_DIR TESTS_DIR PRELOAD_LIB SCRIPT
set -u
toolbox=$1 tests=$2 preload=$3 script=$4
here=$(cd "$(dirname "$0")" && pwd)
log=$(mktemp)
LD_PRELOAD=$preload valgrind --tool=memcheck --leak-check=full --errors-for-leak-kinds=definite \
  --error-exitcode=3 --num-callers=40 --suppressions="$here/octave.supp" --log-file="$log" \
  octave-cli --norc --no-history --quiet --eval "addpath('$toolbox'); addpath('$tests'); $script"
status=$?
grep -E "ERROR SUMMARY|definitely lost:|Unrecognised instruction" "$log" | sed 's/^==[0-9]*== /valgrind: /'
if [ $status != 0 ]; then
  grep -A30 -E "Invalid|uninitialised|definitely lost in" "$log" | head -80
fi
rm -f "$log"
exit $status
