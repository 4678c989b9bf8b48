#!/usr/bin/env bash
# Builds korvane-fw and runs the main job. It installs only what building korvane-fw needs
# (scripts/setup.sh --run), and builds it alone (the cli preset: no tests, no window). With an
# enclosure attached to this machine it only checks it: a real enclosure is never updated unasked.
# Otherwise it checks a simulated outdated JMS583, updates it with its progress bar, waits for its
# replug (3 seconds on the simulated clock) and checks it as the replug left it. Arguments go to
# korvane-fw as they are.
set -euo pipefail
cd "$(dirname "$0")/.."

# quietly WHAT COMMAND...: says what it does; the command's own output goes to a log, shown only
# when it fails.
quietly() {
  local what=$1 log
  shift
  log=$(mktemp)
  echo "demo: $what..."
  if ! "$@" >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    echo "demo: $what failed" >&2
    exit 1
  fi
  rm -f "$log"
}

quietly "installing the compiler, CMake, Ninja and the libraries korvane-fw is built from" \
  bash scripts/setup.sh --run
quietly "building korvane-fw" \
  bash -c 'cmake --preset cli && cmake --build --preset cli'
fw=build/cli/cli/korvane-fw

if [ $# -gt 0 ]; then
  exec "$fw" "$@"
fi
if "$fw" list >/dev/null 2>&1; then
  exec "$fw" check
fi

# Runs korvane-fw as shown and stops the demo when it ends with another exit code than expected.
step() {
  local expected=$1
  shift
  echo
  echo "\$ korvane-fw $*"
  local code=0
  "$fw" "$@" || code=$?
  echo "(exit code $code)"
  if [ "$code" -ne "$expected" ]; then
    echo "demo: expected exit code $expected" >&2
    exit 1
  fi
}

work=$(mktemp -d)
# The update backs the simulated enclosure up first: into a folder of the demonstration's own,
# not the user's backups.
XDG_STATE_HOME=$work/state
export XDG_STATE_HOME
trap 'rm -rf "$work"' EXIT
# An outdated JMS583 that the user unplugs and plugs in again 3 seconds after its update, on the
# simulated clock: the demonstration ends with what it runs after the replug.
scenario=$work/outdated-jms583.json
state=$work/after-the-replug.json
cat >"$scenario" <<'EOF'
{"disks": [
  {"path": "\\\\?\\usbstor#disk&ven_korvane&prod_nvme_enclosure&rev_0100#0001&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
   "bridge": "jms583", "firmware": "0.0.0.8",
   "inquiry": {"vendor": "Korvane ", "product": "NVMe Enclosure  "},
   "replug_after_ms": 3000}
]}
EOF
echo "No enclosure attached here: a simulated outdated JMS583 takes its place ($scenario),"
echo "unplugged and plugged in again 3 seconds after its update."
step 3 --simulate "$scenario" check
step 0 --simulate "$scenario" --save-state "$state" update --yes --replug
echo
echo "The enclosure after the replug, as saved in $state:"
step 0 --simulate "$state" check
