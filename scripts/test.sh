#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite in its four
# configurations: Linux, Linux with sanitizers, 32-bit Windows under Wine, and the kernel rig
# (simulated enclosures as real USB devices to a Linux kernel in QEMU); between the last two it
# builds and checks the packages and runs each fuzz target for a few seconds.
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
for preset in linux asan win32; do
  echo "=== $preset"
  if cmake --preset "$preset" >/dev/null &&
     cmake --build --preset "$preset" &&
     ctest --preset "$preset"; then
    echo "=== $preset: passed"
  else
    echo "=== $preset: FAILED"
    failed+=("$preset")
  fi
done

# What a user installs, from the two builds above: the .deb is installed, run and removed again.
echo "=== packages"
if bash scripts/package.sh --install; then
  echo "=== packages: passed"
else
  echo "=== packages: FAILED"
  failed+=("packages")
fi

# Each fuzz target briefly from its seeds: one that no longer builds, or breaks a rule at once,
# fails here. Long runs are scripts/fuzz.sh's own.
echo "=== fuzz smoke"
if bash scripts/fuzz.sh 5; then
  echo "=== fuzz smoke: passed"
else
  echo "=== fuzz smoke: FAILED"
  failed+=("fuzz")
fi

# The rig builds its own static programs and needs korvane-imagegen from the Linux build above.
echo "=== kernel rig"
if bash scripts/kernel-rig.sh; then
  echo "=== kernel rig: passed"
else
  echo "=== kernel rig: FAILED"
  failed+=("kernel-rig")
fi

if [ ${#failed[@]} -gt 0 ]; then
  echo "Failed configurations: ${failed[*]}"
  exit 1
fi
echo "All configurations passed."
