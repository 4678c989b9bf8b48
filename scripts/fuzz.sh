#!/usr/bin/env bash
# Builds the fuzz configuration (clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer)
# and runs every target for SECONDS (default 60), as many at a time as there are cores, from its
# seeds in tests/fuzz/seeds; then it prints
# per target and in total the executions, the inputs that reached new coverage and the findings.
# What a target learns is kept in build/fuzz/corpus; a finding is kept in build/fuzz/findings:
# mend its fault, then copy it into the target's seeds as finding-NAME, where the test suite
# replays it.
# usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

readonly seconds=${1:-60} build=build/fuzz
readonly targets=(bridge scenario trace mounts image record history)
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || { echo "usage: scripts/fuzz.sh [SECONDS]" >&2; exit 2; }

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

# A rule the bridge target checks stops it with abort(); the sanitizers' own reports do the same.
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# stat NAME LOG: the value of libFuzzer's final statistic NAME.
stat() { sed -n "s/^stat::$1: *//p" "$2" | tail -1; }
# coverage LOG: the edges covered when the run ended.
coverage() { grep -o 'cov: [0-9]*' "$1" | tail -1 | cut -d' ' -f2; }

# run TARGET: one target's run, its log in build/fuzz/fuzz-TARGET.log.
run() {
  local corpus=$build/corpus/$1 findings=$build/findings/$1
  mkdir -p "$corpus" "$findings"
  find "$findings" -type f | wc -l >"$build/fuzz-$1.before"
  # New inputs go to the first folder; the seeds are only read.
  "$build/tests/fuzz/korvane_fuzz_$1" -max_total_time="$seconds" -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "tests/fuzz/seeds/$1" \
    >"$build/fuzz-$1.log" 2>&1 || true
}

# As many targets at a time as there are cores.
for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n || true; done
  run "$target" &
done
wait

total_runs=0 total_new=0 total_findings=0
printf '%-10s %12s %8s %8s %9s\n' target executions new edges findings
for target in "${targets[@]}"; do
  log=$build/fuzz-$target.log
  runs=$(stat number_of_executed_units "$log") new=$(stat new_units_added "$log")
  found=$(( $(find "$build/findings/$target" -type f | wc -l) - $(cat "$build/fuzz-$target.before") ))
  printf '%-10s %12s %8s %8s %9s\n' "$target" "${runs:-0}" "${new:-0}" "$(coverage "$log")" "$found"
  if [ "$found" -gt 0 ]; then
    grep -m3 -E 'rule broken|ERROR: |runtime error' "$log" | sed 's/^/           /' || true
  fi
  total_runs=$((total_runs + ${runs:-0})) total_new=$((total_new + ${new:-0}))
  total_findings=$((total_findings + found))
done
printf '%-10s %12s %8s %8s %9s\n' total "$total_runs" "$total_new" "" "$total_findings"
[ "$total_findings" -eq 0 ] || { echo "fuzz: findings are in $build/findings" >&2; exit 1; }
