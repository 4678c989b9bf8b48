#!/usr/bin/env bash
# The demo window end to end under Wine, on a virtual display of its own: the outdated enclosure
# is offered, a click on the status text updates it, the window closes with exit code 0; with no
# enclosure the window says so; given a korvane-fw trace of an update, the window replays it to the
# same end; an enclosure that the scenario plugs in after the window has opened is found by the
# rescan its arrival brings. Screenshots of each state land in BUILD_DIR/screenshots.
#
# usage: window-under-wine.sh DEMO_EXE PROBE_EXE BUILD_DIR UPDATE_TRACE
set -euo pipefail

if [ $# -ne 4 ]; then
  echo "usage: $0 DEMO_EXE PROBE_EXE BUILD_DIR UPDATE_TRACE" >&2
  exit 2
fi

# Always a fresh X server, whatever display the caller has; the hard limit stays below the test's
# time-out, and on expiry the signal reaches the whole process group, Xvfb included.
if [ "${KORVANE_GUI_INNER:-}" != 1 ]; then
  for tool in xvfb-run Xvfb wine wineserver xdotool import; do
    command -v "$tool" >/dev/null || { echo "$0: $tool is missing (scripts/setup.sh)" >&2; exit 2; }
  done
  export KORVANE_GUI_INNER=1
  exec timeout -k 5 270 xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi

demo=$1
probe_exe=$2
build_dir=$3
update_trace=$4
screenshots=$build_dir/screenshots
mkdir -p "$screenshots"

export WINEPREFIX=$build_dir/wineprefix-gui
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# Every wait below ends by this many seconds after the start, whatever happens.
budget_end=$((SECONDS + 240))

seconds_left() {
  local left=$((budget_end - SECONDS))
  if [ "$left" -lt 1 ]; then left=1; fi
  echo "$left"
}

# Runs a command for at most CAP seconds, and never past the budget.
bounded() {
  local cap=$1 left
  shift
  left=$(seconds_left)
  if [ "$left" -gt "$cap" ]; then left=$cap; fi
  timeout -k 5 "$left" "$@"
}

probe() { bounded 30 wine "$probe_exe" "$@"; }

demo_pid=
demo_log=

cleanup() {
  if [ -n "$demo_pid" ] && kill -0 "$demo_pid" 2>/dev/null; then
    kill "$demo_pid" 2>/dev/null || true
    wait "$demo_pid" 2>/dev/null || true
  fi
  timeout 20 wineserver -k 2>/dev/null || true
  timeout 20 wineserver -w 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP

fail() {
  echo "FAIL: $*" >&2
  echo "--- what the window shows:" >&2
  probe state >&2 || true
  if [ -n "$demo_log" ] && [ -f "$demo_log" ]; then
    echo "--- last lines of $demo_log:" >&2
    tail -n 40 "$demo_log" >&2
  fi
  exit 1
}

check() {
  local what=$1
  shift
  probe "$@" || fail "$what"
}

screenshot() {
  local rect w h x y
  rect=$(probe window-rect) || fail "no window rectangle for $1"
  read -r w h x y <<<"$rect"
  bounded 30 import -window root -crop "${w}x${h}+${x}+${y}" +repage "$screenshots/$1" ||
    fail "screenshot $1"
  echo "screenshot: $screenshots/$1"
}

# log file name, then the demo's arguments
start_demo() {
  demo_log=$build_dir/$1
  shift
  # timeout itself in the background, so that $! is a process that ends with the program's code.
  WINEDEBUG=-all,+debugstr timeout -k 5 "$(seconds_left)" wine "$demo" "$@" 2>"$demo_log" &
  demo_pid=$!
}

# Closes the window and requires the program to end with exit code 0.
close_demo() {
  local code=0
  check "WM_CLOSE could not be posted" close
  if ! bounded 30 tail --pid="$demo_pid" -s 0.1 -f /dev/null; then
    fail "the program did not end after WM_CLOSE"
  fi
  wait "$demo_pid" || code=$?
  demo_pid=
  [ "$code" -eq 0 ] || fail "the program ended with exit code $code after WM_CLOSE"
}

# A prefix of this build's own, where Wine draws the window frame itself: with no window manager
# on the virtual display a managed window would have no caption. Debian's Wine does not find its
# own fonts, without which the caption buttons come out as letters.
bounded 20 wineserver -k 2>/dev/null || true
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "creating $WINEPREFIX"
  bounded 120 wineboot --init
  bounded 60 wineserver --wait
fi
bounded 30 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
if compgen -G "/usr/share/wine/fonts/*" >/dev/null; then
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  # All of them: the registry names the raster files too ("MS Sans Serif" is sserife.fon).
  cp -u /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
fi

offer="Click here to download and update the Korvane NVMe Bridge 234.01.00.02"

# The offer, a click on it, and the completed update.
click_through_update() {
  check "the offer did not appear" wait-status "$offer" 60000
  point=$(probe status-point) || fail "no point to click"
  # shellcheck disable=SC2086  # "X Y" are two arguments
  bounded 10 xdotool mousemove $point click 1 || fail "xdotool could not click at $point"
  check "the update did not complete" wait-status "Update complete" 90000
}

echo "run 1: jms583-outdated"
start_demo window-jms583-outdated.log jms583-outdated
check "the offer did not appear" wait-status "$offer" 60000
check "the layout is wrong" check-layout
check "the offer does not show the update picture" expect Image3 text=UPDATE
check "the offer cannot be clicked" expect lblStaust enabled
screenshot offer.png
point=$(probe status-point) || fail "no point to click"
# shellcheck disable=SC2086  # "X Y" are two arguments
bounded 10 xdotool mousemove $point click 1 || fail "xdotool could not click at $point"
check "the update did not complete" wait-status "Update complete" 90000
check "the finished update does not show the good picture" expect Image3 text=GOOD
check "the progress bar stays after the update" expect UpdateProgressBar hidden
check "the status text can still be clicked" expect lblStaust disabled
grep -qF 'OutputDebugStringA "btn_upd Press\n"' "$demo_log" ||
  fail "the click left no \"btn_upd Press\" debug line in $demo_log"
screenshot update-complete.png
close_demo

echo "run 2: no-enclosure"
start_demo window-no-enclosure.log no-enclosure
check "no verdict without enclosures" wait-status "Cannot find any outdated Korvane devices. " 60000
check "the verdict does not show the cross" expect Image3 text=CROSS
check "the status text offers a click with nothing to update" expect lblStaust disabled
screenshot no-enclosure.png
close_demo

# A replay that left its recording would hold the exit back behind a message box.
echo "run 3: korvane-fw's recorded update, replayed"
start_demo window-replay.log --replay "$(winepath -w "$update_trace" 2>/dev/null)"
click_through_update
check "the replayed update does not show the good picture" expect Image3 text=GOOD
close_demo

# The window has been open for a while before the enclosure comes: time enough for the first
# verdict to be seen, which the scenario's time must not overtake.
echo "run 4: an enclosure plugged in after the window has opened"
later_scenario=$build_dir/window-later.json
cat >"$later_scenario" <<'JSON'
{"disks": [{"path": "\\\\?\\usbstor#disk&ven_korvane&prod_nvme#1", "bridge": "jms583",
            "firmware": "0.0.0.8", "plug_in_after_ms": 15000}]}
JSON
start_demo window-later.log "$(winepath -w "$later_scenario" 2>/dev/null)"
check "no verdict before the enclosure comes" \
  wait-status "Cannot find any outdated Korvane devices. " 14000
check "the enclosure plugged in later was not found" wait-status "$offer" 60000
close_demo

echo "window under Wine: all checks passed in ${SECONDS} s"
