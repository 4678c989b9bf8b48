#!/usr/bin/env bash
# Records what korvane-fw does on every built-in scenario and scenario file of the fuzz seeds:
# list, check and update, each plain, with --json and with --verbose, each with a trace and a
# saved state. Run it before a reshaping and after each step, and compare the two folders with
# diff -r: traces, exit codes, standard error and saved states must stay as they were.
# usage: scripts/behaviour-snapshot.sh OUTDIR [KORVANE_FW]   (default: build/linux/cli/korvane-fw)
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -ge 1 ] || { echo "usage: scripts/behaviour-snapshot.sh OUTDIR [KORVANE_FW]" >&2; exit 2; }
readonly out=$1 fw=${2:-build/linux/cli/korvane-fw}
# Updates back the simulated enclosures up first: into a folder of this run's own.
XDG_STATE_HOME=$(mktemp -d)
export XDG_STATE_HOME
trap 'rm -rf "$XDG_STATE_HOME"' EXIT
[ -x "$fw" ] || { echo "behaviour-snapshot: no $fw: build the linux preset first" >&2; exit 2; }

scenarios=(jms583-outdated jms583-current jms578-outdated jms578-current jms583-rom two-enclosures
           unsupported-bridge no-enclosure no-rights jms583-mounted)
for file in tests/fuzz/seeds/scenario/*.json; do scenarios+=("$file"); done
commands=("list" "check" "update --yes")
modes=("" "--json" "--verbose")

mkdir -p "$out"
for scenario in "${scenarios[@]}"; do
  for command in "${commands[@]}"; do
    for mode in "${modes[@]}"; do
      name=$out/$(basename "$scenario" .json)-${command%% *}${mode:+-${mode#--}}
      code=0
      # shellcheck disable=SC2086
      "$fw" --simulate "$scenario" --trace "$name.trace" --save-state "$name.state" $mode \
        $command >"$name.out" 2>"$name.err" || code=$?
      echo "$code" >"$name.code"
    done
  done
done
echo "behaviour-snapshot: $(find "$out" -name '*.code' | wc -l) runs in $out"
