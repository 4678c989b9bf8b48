#!/usr/bin/env bash
# Builds the Linux configuration and runs the main job on a simulated JMS583 enclosure.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset linux >/dev/null
cmake --build --preset linux --target korvane-demo >/dev/null
exec build/linux/cli/korvane-demo "${@:-jms583}"
