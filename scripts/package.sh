#!/usr/bin/env bash
# Builds what a user installs and checks it: the .deb from the linux preset (lintian, then
# installed, run and removed again with --install; the window is in it where the build has it)
# and the Windows zip from the win32 preset (stripped programs, a short text, their SHA-256
# list). Both presets must have been built.
# usage: scripts/package.sh [--install]
set -euo pipefail
cd "$(dirname "$0")/.."

readonly linux=build/linux win32=build/win32 out=build/packages
readonly max_linux_fw=2000000 max_windows_exe=3000000
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
  debfile=$(ls "$out"/deb/korvane-update-tool_*.deb)
  echo "package: $debfile"
  local contents
  contents=$(dpkg-deb --contents "$debfile")
  awk '{ print "package:   " $6 }' <<<"$contents"
  # The window is in the package where the build has it.
  window=0
  grep -q ' \./usr/bin/korvane-update-tool$' <<<"$contents" && window=1
  # Errors fail; warnings are shown.
  lintian --fail-on error --tag-display-limit 0 "$debfile" || die "lintian finds errors in $debfile"
  strip -o "$out/korvane-fw.stripped" "$linux/cli/korvane-fw"
  size_check "$out/korvane-fw.stripped" "$max_linux_fw"
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

# The package as a user installs it: the installed program runs on a simulated enclosure.
try_deb() {
  local code=0
  sudo_if_needed dpkg -i "$debfile" >/dev/null || die "dpkg -i $debfile failed"
  /usr/bin/korvane-fw --simulate jms583-outdated check >/dev/null || code=$?
  /usr/bin/korvane-fw --version | grep -qx "korvane-fw $(version "$linux")" || code=99
  man -w korvane-fw >/dev/null 2>&1 || code=98
  # This machine has no enclosure: a new user is told to plug one in, and Ctrl-C ends the wait.
  local said waited=0
  said=$(timeout --preserve-status -s INT 5 /usr/bin/korvane-fw check --wait 2>&1 >/dev/null) ||
    waited=$?
  local faults=""
  [ "$window" = 0 ] || faults=$(window_faults)
  sudo_if_needed dpkg -r korvane-update-tool >/dev/null || die "dpkg -r failed"
  [ "$code" -eq 3 ] || die "the installed korvane-fw check ended with $code, not 3 (an offer)"
  [ "$waited" -eq 130 ] && grep -qx "Plug in the enclosure... (Ctrl-C to stop)" <<<"$said" ||
    die "check --wait ended with $waited, saying: $said"
  [ -z "$faults" ] || die "the installed window has faults:"$'\n'"$faults"
  echo "package: installed, checked a simulated enclosure, waited for a real one," \
    "$([ "$window" = 0 ] || echo "started the window, found its files, ")removed"
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
[ "$install" = 0 ] || try_deb
zip
