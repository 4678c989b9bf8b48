#!/usr/bin/env bash
# Installs what the build needs on a fresh Debian 12 machine. Without an argument: everything the
# build and the test suites need (the cross compilers, Wine, QEMU, clang, Qt...). With --run: only
# what building and running korvane-fw needs (the compiler, CMake, Ninja and the three libraries it
# is built from), as scripts/demo.sh uses it.
# Safe to run again: packages already present are left as they are.
# usage: scripts/setup.sh [--run]
set -euo pipefail

# Building and running korvane-fw (the cli preset).
run_packages=(
  build-essential cmake ninja-build
  libcli11-dev nlohmann-json3-dev nettle-dev
)
# The rest of the build, the test suites, the kernel rig, the fuzzers and the packages.
test_packages=(
  clang-format
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libudev-dev
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine32:i386 xvfb xauth
  xdotool imagemagick fonts-wine
  qemu-system-x86 cpio xz-utils jq dmsetup
  sg3-utils
  python3 python3-jsonschema
  udev
  scdoc lintian man-db
  clang-16 libclang-rt-16-dev
  qt6-base-dev qt6-qpa-plugins fonts-dejavu-core
)

case "${1:-}" in
  --run) packages=("${run_packages[@]}") ;;
  "") packages=("${run_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: scripts/setup.sh [--run]" >&2; exit 2 ;;
esac

missing() {
  local p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || echo "$p"
  done
}

sudo_if_needed() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# Wine's 32-bit half comes from the i386 architecture.
if [ "${1:-}" != --run ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  sudo_if_needed dpkg --add-architecture i386
  need_update=1
fi

todo=$(missing)
if [ -n "$todo" ]; then
  export DEBIAN_FRONTEND=noninteractive
  sudo_if_needed apt-get update -qq
  # shellcheck disable=SC2086
  sudo_if_needed apt-get install -y -qq --no-install-recommends $todo
elif [ "${need_update:-0}" = 1 ]; then
  sudo_if_needed apt-get update -qq
fi
