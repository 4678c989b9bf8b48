#!/bin/sh
# Runs a Windows program under Wine. Windows can be created only on a display, so where there
# is none (CI, a terminal over ssh) the program gets a virtual one.
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null 2>&1; then
  exec xvfb-run -a wine "$@"
fi
exec wine "$@"
