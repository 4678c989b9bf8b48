#!/usr/bin/env bash
# Builds what a user installs and checks it: the two .deb packages from the linux preset, korvane-fw
# (the command-line tool, without Qt) and korvane-update-tool (the window, where the build has
# it), each checked by lintian; with --install, korvane-fw is installed alone, checked to bring no
# Qt library and run, then the window's package is installed and run, then both are removed. And
# the Windows zip from the win32 preset (stripped programs, a short text, their SHA-256 list).
# Both presets must have been built.
# usage: scripts/package.sh [--install]
set -euo pipefail
cd "$(dirname "$0")/.."

readonly linux=build/linux win32=build/win32 out=build/packages
readonly max_linux_fw=2500000 max_windows_exe=3000000
install=0
[ "${1:-}" = --install ] && install=1

die() { echo "package: $*" >&2; exit 1; }
sudo_if_needed() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
version() { sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt"; }
icon_sides() { sed -n 's/^KORVANE_ICON_SIDES:INTERNAL=//p' "$1/CMakeCache.txt" | tr ';' ' '; }
# size_check FILE LIMIT: prints the size and fails above the limit.
size_check() {
  local size
  size=$(stat -c %s "$1")
  echo "package: $(basename "$1") stripped: $size bytes (limit $2)"
  [ "$size" -le "$2" ] || die "$1 is larger than $2 bytes"
}

deb() {
  cmake --build "$linux" --target korvane_deb_files >/dev/null
  rm -rf "$out/deb" && mkdir -p "$out"
  (cd "$linux" && cpack -G DEB -B "$PWD/../packages/deb" >/dev/null) || die "cpack failed"
  fwdeb=$(ls "$out"/deb/korvane-fw_*.deb)
  windeb=$(ls "$out"/deb/korvane-update-tool_*.deb 2>/dev/null || true)
  local file
  for file in "$fwdeb" $windeb; do
    echo "package: $file"
    dpkg-deb --contents "$file" | awk '{ print "package:   " $6 }'
    # Errors fail; warnings are shown.
    lintian --fail-on error --tag-display-limit 0 "$file" || die "lintian finds errors in $file"
  done
  # The window is packaged where the build has it.
  window=0
  [ -z "$windeb" ] || window=1
  strip -o "$out/korvane-fw.stripped" "$linux/cli/korvane-fw"
  size_check "$out/korvane-fw.stripped" "$max_linux_fw"
}

# What in korvane-fw's package would bring Qt, one line each: a dependency named for it, or a
# library its program is linked with.
qt_in_fw() {
  dpkg-deb -f "$fwdeb" Depends | tr ',' '\n' | grep -i 'qt' | sed 's/^ */  depends on /' || true
  objdump -p /usr/bin/korvane-fw | awk '$1 == "NEEDED" && $2 ~ /^libQt/ { print "  needs " $2 }'
}

# Removes what --install installed, then fails.
removed_die() {
  sudo_if_needed dpkg -r korvane-update-tool korvane-fw >/dev/null 2>&1 || true
  die "$@"
}

# The width and height a PNG file's header gives, as 16 hex digits.
png_size() { od -An -tx1 -j16 -N8 "$1" 2>/dev/null | tr -d ' \n'; }

# What is wrong with the installed window, one line each: its program, which must start on the
# offscreen platform and still be waiting for the user after 3 s (on this machine it finds no
# enclosure), its manual page and desktop entry, its icon at each side the build draws, and the
# polkit action pkexec needs to open it.
window_faults() {
  local side icon started=0 entry=/usr/share/applications/korvane-update-tool.desktop
  local action=/usr/share/polkit-1/actions/com.korvane.update-tool.policy
  timeout 3 env QT_QPA_PLATFORM=offscreen /usr/bin/korvane-update-tool >/dev/null 2>&1 || started=$?
  [ "$started" -eq 124 ] || echo "  /usr/bin/korvane-update-tool ended with $started"
  man -w korvane-update-tool >/dev/null 2>&1 || echo "  the manual page"
  grep -qx 'Exec=korvane-update-tool' "$entry" 2>/dev/null || echo "  $entry"
  for side in $(icon_sides "$linux"); do
    icon=/usr/share/icons/hicolor/${side}x$side/apps/korvane-update-tool.png
    [ "$(png_size "$icon")" = "$(printf '%08x%08x' "$side" "$side")" ] || echo "  $icon"
  done
  grep -q '"org.freedesktop.policykit.exec.path">/usr/bin/korvane-update-tool<' "$action" \
    2>/dev/null || echo "  $action"
}

# korvane-fw as a user installs it, alone: it brings no Qt, and the installed program runs on a
# simulated enclosure.
try_fw() {
  local code=0
  sudo_if_needed dpkg -i "$fwdeb" >/dev/null || die "dpkg -i $fwdeb failed"
  local qt
  qt=$(qt_in_fw)
  /usr/bin/korvane-fw --simulate jms583-outdated check >/dev/null || code=$?
  /usr/bin/korvane-fw --version | grep -qx "korvane-fw $(version "$linux")" || code=99
  man -w korvane-fw >/dev/null 2>&1 || code=98
  [ -r /usr/share/bash-completion/completions/korvane-fw ] || code=97
  # This machine has no enclosure: a new user is told to plug one in, and Ctrl-C ends the wait.
  local said waited=0
  said=$(timeout --preserve-status -s INT 5 /usr/bin/korvane-fw check --wait 2>&1 >/dev/null) ||
    waited=$?
  [ -z "$qt" ] || removed_die "the package korvane-fw brings Qt:"$'\n'"$qt"
  [ "$code" -eq 3 ] || removed_die "the installed korvane-fw check ended with $code, not 3 (an offer)"
  [ "$waited" -eq 130 ] && grep -qx "Plug in the enclosure... (Ctrl-C to stop)" <<<"$said" ||
    removed_die "check --wait ended with $waited, saying: $said"
  echo "package: korvane-fw installed alone, without Qt; checked a simulated enclosure, waited" \
    "for a real one"
}

# The window's package over it, then both removed.
try_window() {
  local faults=""
  if [ "$window" = 1 ]; then
    sudo_if_needed dpkg -i "$windeb" >/dev/null || removed_die "dpkg -i $windeb failed"
    faults=$(window_faults)
  fi
  sudo_if_needed dpkg -r korvane-update-tool korvane-fw >/dev/null || die "dpkg -r failed"
  [ -z "$faults" ] || die "the installed window has faults:"$'\n'"$faults"
  echo "package: $([ "$window" = 0 ] || echo "installed the window, started it, found its files; ")removed"
}

zip() {
  local v dir
  v=$(version "$win32")
  dir=$out/korvane-update-tool-$v-win32
  cmake --build "$win32" --target KorvaneUpdateTool korvane-fw >/dev/null
  rm -rf "$dir" && mkdir -p "$dir"
  i686-w64-mingw32-strip -o "$dir/KorvaneUpdateTool.exe" "$win32/app/win32/KorvaneUpdateTool.exe"
  i686-w64-mingw32-strip -o "$dir/korvane-fw.exe" "$win32/cli/korvane-fw.exe"
  sed "s/@PROJECT_VERSION@/$v/" packaging/windows/README.txt | sed 's/$/\r/' >"$dir/README.txt"
  (cd "$dir" && sha256sum KorvaneUpdateTool.exe korvane-fw.exe >SHA256SUMS.txt)
  (cd "$out" && rm -f "${dir##*/}.zip" && cmake -E tar cf "${dir##*/}.zip" --format=zip "${dir##*/}")
  echo "package: $dir.zip"
  size_check "$dir/KorvaneUpdateTool.exe" "$max_windows_exe"
}

deb
if [ "$install" = 1 ]; then
  try_fw
  try_window
fi
zip
