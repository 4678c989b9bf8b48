#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite in its four
# configurations: Linux, Linux with sanitizers, 32-bit Windows under Wine, and the kernel rig
# (simulated enclosures as real USB devices to a Linux kernel in QEMU); between the last two it
# builds and checks the packages, and at the end it runs each fuzz target for a few seconds.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
bash scripts/format.sh --check

# Wine keeps its prefix inside the build tree; creating it once here keeps the tests' own
# time free of the first-start cost.
export WINEPREFIX="$PWD/build/wineprefix"
export WINEDEBUG=-all
# No Mono or Gecko: the tests need neither, and their installers would ask on a screen.
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot --init >/dev/null 2>&1 || true
  # Windows are drawn by Wine, frame included: the virtual displays of the tests run no window
  # manager, and a managed window would wait for one each time it is shown.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
  wineserver --wait || true
fi

failed=()
# stage NAME COMMAND...: runs one configuration and says how it ended and how long it took.
stage() {
  local name=$1 started=$SECONDS
  shift
  echo "=== $name"
  if "$@"; then
    echo "=== $name: passed ($((SECONDS - started)) s)"
  else
    echo "=== $name: FAILED ($((SECONDS - started)) s)"
    failed+=("$name")
  fi
}

preset() {
  # Each Linux test is a process of its own; under Wine the whole suite is one program.
  local jobs=()
  [ "$1" = win32 ] || jobs=(--parallel "$(nproc)")
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" && ctest --preset "$1" "${jobs[@]}"
}

# The fuzz targets build in the background at the lowest priority from the win32 stage on: they
# take only what the stages after it leave idle (Wine's window test, the packages, the rig's guest,
# which keeps about one core busy), and the fuzz stage waits for them. The rig's write-buffer
# ratio takes each program's quickest of several alternating turns, which such steady work
# beside it leaves as it is.
start_fuzz_build() {
  mkdir -p build
  (
    started=$SECONDS
    nice -n 19 cmake --preset fuzz >/dev/null &&
      nice -n 19 cmake --build --preset fuzz &&
      echo "fuzz targets built in the background in $((SECONDS - started)) s"
  ) >build/fuzz-build.log 2>&1 &
  fuzz_build=$!
}

# Each fuzz target briefly from its seeds: one that no longer builds, or breaks a rule at once,
# fails here. Long runs are scripts/fuzz.sh's own.
fuzz_smoke() {
  if ! wait "$fuzz_build"; then
    tail -n 60 build/fuzz-build.log
    echo "the fuzz targets did not build (whole log: build/fuzz-build.log)"
    return 1
  fi
  tail -n 1 build/fuzz-build.log
  bash scripts/fuzz.sh 5
}

echo "=== setup: done ($SECONDS s)"
stage linux preset linux
stage asan preset asan
start_fuzz_build
stage win32 preset win32
# What a user installs, from the builds above: the .deb is installed, run and removed again.
stage packages bash scripts/package.sh --install
# The rig's programs come from the linux build, the Windows programs' copies from win32's.
stage kernel-rig bash scripts/kernel-rig.sh
stage fuzz fuzz_smoke

if [ ${#failed[@]} -gt 0 ]; then
  echo "Failed configurations: ${failed[*]} (after $SECONDS s)"
  exit 1
fi
echo "All configurations passed in $SECONDS s."
