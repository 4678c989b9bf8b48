#!/usr/bin/env bash
# Builds the Linux configuration and runs the main job: on the enclosure attached to this
# machine, or on a simulated JMS583 enclosure when none is. Arguments go to korvane-fw as they are.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target korvane-fw >/dev/null
fw=build/linux/cli/korvane-fw

if [ $# -gt 0 ]; then
  exec "$fw" "$@"
fi
if "$fw" list >/dev/null 2>&1; then
  exec "$fw" list
fi
echo "No enclosure attached here: showing the simulated enclosure jms583-outdated." >&2
exec "$fw" --simulate jms583-outdated list
