#!/usr/bin/env bash
# Bounded fuzzing of every plug-in: SECONDS_EACH (default 15) per plug-in, starting from the
# committed seed corpus, in the "fuzz" build (clang, AddressSanitizer, UBSan, LeakSanitizer),
# FUZZ_JOBS plug-ins at a time (default: the cores). Prints executions per plug-in and how the
# calls ended; exits non-zero on a finding, leaving the crashing input in build-fuzz/findings/.
#   tools/fuzz.sh               run
#   tools/fuzz.sh --reseed      also merge what was found into tests/fuzz/corpus (minimised)
#   tools/fuzz.sh [--reseed] NAME...   only those plug-ins
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${SECONDS_EACH:-15}
tools/setup.sh
cmake --preset fuzz > /dev/null
cmake --build build-fuzz -j "$(nproc)" > /dev/null
mkdir -p build-fuzz/findings
reseed=0
if [ "${1:-}" = "--reseed" ]; then reseed=1; shift; fi
plugins=${*:-$(ls build-fuzz/tests/fuzz/ | sed -n 's/^fuzz_//p')}
# One target: its run, the replay of its corpus, its line of the report in $name.line; exits
# non-zero on a finding.
fuzz_one() {
  local name=$1
  local seeds=tests/fuzz/corpus/$name work=build-fuzz/corpus/$name
  local log=build-fuzz/findings/$name.log
  mkdir -p "$seeds" "$work"
  if ! build-fuzz/tests/fuzz/fuzz_$name "$work" "$seeds" -max_total_time="$seconds" -timeout=5 \
       -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=build-fuzz/findings/$name- \
       > "$log" 2>&1; then
    { tail -40 "$log"; echo "fuzz_$name: a finding, input in build-fuzz/findings/"; } \
      > "build-fuzz/findings/$name.line"
    return 1
  fi
  local runs results
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  results=$(NURBS_FUZZ_STATS=1 build-fuzz/tests/fuzz/fuzz_$name -runs=0 "$work" "$seeds" 2>&1 |
            awk '/^ +[0-9]+ /{n[$2 == "result" ? "result" : "error"] += $1} END {printf "%d results, %d errors", n["result"], n["error"]}')
  printf '%-24s %9s runs in %ss; corpus replay: %s\n' "$name" "$runs" "$seconds" "$results" \
    > "build-fuzz/findings/$name.line"
  if [ $reseed = 1 ]; then
    rm -rf "$seeds.new" && mkdir "$seeds.new"
    build-fuzz/tests/fuzz/fuzz_$name -merge=1 "$seeds.new" "$seeds" "$work" > /dev/null 2>&1
    rm -rf "$seeds" && mv "$seeds.new" "$seeds"
  fi
}

# FUZZ_JOBS targets at once (default: one a core; each fuzzer is one process on one core).
lanes=${FUZZ_JOBS:-$(nproc)}
failed=0
for name in $plugins; do
  while [ "$(jobs -rp | wc -l)" -ge "$lanes" ]; do wait -n || failed=1; done
  fuzz_one "$name" &
done
while [ "$(jobs -rp | wc -l)" -gt 0 ]; do wait -n || failed=1; done
for name in $plugins; do cat "build-fuzz/findings/$name.line"; done
exit $failed
