#!/usr/bin/env bash
# Records what korvane-fw does on every built-in scenario and scenario file of the fuzz seeds:
# list, check and update, each plain, with --json and with --verbose, each with a trace and a
# saved state; then, on a state folder of each scenario's own, a backup to a named file, an
# update --image of that backup, the history (text and JSON) and a problem report. Run it before a
# reshaping and after each step, and compare two snapshots with --compare: traces, exit codes,
# standard output and error, saved states, backups, their records, histories and reports must stay
# as they were, once dates, times and the snapshot's own folder are put aside.
# usage: scripts/behaviour-snapshot.sh OUTDIR [KORVANE_FW]   (default: build/linux/cli/korvane-fw)
#        scripts/behaviour-snapshot.sh --compare BEFORE AFTER
set -euo pipefail
cd "$(dirname "$0")/.."

# A copy of a snapshot with what differs from run to run put aside: its own folder, dates, times
# and durations.
normalised() {
  local from=$1 to=$2
  mkdir -p "$to"
  cp -r "$from"/. "$to"
  find "$to" -type f -print0 | xargs -0 sed -i -E \
    -e "s#$(realpath "$from")#SNAPSHOT#g" \
    -e 's#[0-9]{4}-[0-9]{2}-[0-9]{2}[T ][0-9]{2}:[0-9]{2}:[0-9]{2}(\.[0-9]+)?(Z|[+-][0-9]{2}:?[0-9]{2})?#DATE#g' \
    -e 's#[0-9]{8}T[0-9]{6}Z(-[0-9]+)?#STAMP#g' \
    -e 's#"(ms|elapsed_ms|duration_ms|seconds)": ?[0-9.]+#"\1": N#g'
  # Backups in a state folder are named after the second they were made: what they hold counts.
  find "$to" -type d -name backups -prune -print0 | while IFS= read -r -d '' folder; do
    (cd "$folder" && find . -type f -exec sha256sum {} + | cut -d' ' -f1 | sort) >"$folder.list"
    rm -r "$folder"
  done
}

if [ "${1:-}" = --compare ]; then
  [ $# -eq 3 ] || { echo "usage: scripts/behaviour-snapshot.sh --compare BEFORE AFTER" >&2; exit 2; }
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  normalised "$2" "$work/before"
  normalised "$3" "$work/after"
  cd "$work"
  diff -r before after && echo "behaviour-snapshot: the same"
  exit
fi

[ $# -ge 1 ] || { echo "usage: scripts/behaviour-snapshot.sh OUTDIR [KORVANE_FW]" >&2; exit 2; }
readonly out=$1 fw=${2:-build/linux/cli/korvane-fw}
[ -x "$fw" ] || { echo "behaviour-snapshot: no $fw: build the linux preset first" >&2; exit 2; }

scenarios=(jms583-outdated jms583-current jms578-outdated jms578-current jms583-rom two-enclosures
           unsupported-bridge no-enclosure no-rights jms583-mounted)
for file in tests/fuzz/seeds/scenario/*.json; do scenarios+=("$file"); done
commands=("list" "check" "update --yes")
modes=("" "--json" "--verbose")

# One run: its output, error and exit code under the name given.
run_untraced() {
  local name=$1
  shift
  local code=0
  "$fw" "$@" >"$name.out" 2>"$name.err" </dev/null || code=$?
  echo "$code" >"$name.code"
}
# One run with its trace too.
run() { run_untraced "$1" --trace "$1.trace" "${@:2}"; }

mkdir -p "$out"
for scenario in "${scenarios[@]}"; do
  base=$out/$(basename "$scenario" .json)
  # Updates back the simulated enclosures up first: into a folder of this scenario's own.
  export XDG_STATE_HOME=$base-state
  mkdir -p "$XDG_STATE_HOME"
  for command in "${commands[@]}"; do
    for mode in "${modes[@]}"; do
      name=$base-${command%% *}${mode:+-${mode#--}}
      # shellcheck disable=SC2086
      run "$name" --simulate "$scenario" --save-state "$name.state" $mode $command
    done
  done
  for mode in "" "--json"; do
    name=$base-backup${mode:+-${mode#--}}
    # shellcheck disable=SC2086
    run "$name" --simulate "$scenario" $mode backup -o "$name.bin"
    # shellcheck disable=SC2086
    run "$name-image" --simulate "$scenario" --save-state "$name-image.state" $mode \
      update --yes --no-replug --allow-reinstall --force --image "$name.bin"
    # shellcheck disable=SC2086
    run "$name-restore" --simulate "$scenario" $mode \
      update --yes --no-replug --allow-reinstall --force --restore-nvram --image "$name.bin"
    # shellcheck disable=SC2086
    run_untraced "$base-history${mode:+-${mode#--}}" $mode history
    # shellcheck disable=SC2086
    run_untraced "$base-report${mode:+-${mode#--}}" --simulate "$scenario" $mode report \
      -o "$base-report${mode:+-${mode#--}}.jsonl"
  done
done
echo "behaviour-snapshot: $(find "$out" -name '*.code' | wc -l) runs in $out"
