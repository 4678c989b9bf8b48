#!/usr/bin/env bash
# Records the simulator's part of the replay corpus: one trace and its standard output per
# built-in scenario and command, in tests/corpus/sim. Run it after a deliberate change to what
# korvane-fw sends or prints; the test suite replays what it wrote.
# usage: scripts/record-corpus.sh [KORVANE_FW]   (default: build/linux/cli/korvane-fw)
set -euo pipefail
cd "$(dirname "$0")/.."
readonly fw=${1:-build/linux/cli/korvane-fw}
readonly corpus=tests/corpus/sim
# Updates back the simulated enclosures up first: into a folder of this run's own.
XDG_STATE_HOME=$(mktemp -d)
export XDG_STATE_HOME
trap 'rm -rf "$XDG_STATE_HOME"' EXIT
[ -x "$fw" ] || { echo "record-corpus: no $fw: build the linux preset first" >&2; exit 2; }

# scenario, then the command and its options
readonly runs=(
  "jms583-outdated update --yes"
  "jms583-outdated check"
  "jms583-current update --yes"
  "jms578-outdated update --yes"
  "jms578-outdated check --json"
  "jms578-current update --yes"
  "jms583-rom update --yes"
  "two-enclosures update --yes"
  "two-enclosures list --verbose"
  "unsupported-bridge update --yes"
  "no-enclosure update --yes"
  "no-rights update --yes"
  "jms583-mounted update --yes"
)

mkdir -p "$corpus"
rm -f "$corpus"/*.trace "$corpus"/*.out
for run in "${runs[@]}"; do
  read -r scenario command options <<<"$run"
  name=$corpus/$scenario-$command
  # A non-zero exit is part of what is recorded.
  "$fw" --simulate "$scenario" --trace "$name.trace" "$command" $options >"$name.out" || true
  echo "record-corpus: $name.trace ($(wc -l <"$name.trace") lines)"
done
