#!/usr/bin/env bash
# The kernel rig: Debian's kernel booted in QEMU from an initramfs made of Debian packages, where
# korvane-gadget serves simulated enclosures as real USB devices on dummy_hcd and korvane-fw
# reaches them through sysfs, SG_IO and the kernel's own usb-storage and uas drivers. The
# Windows programs reach the same devices from the guest through Wine: the guest mounts this
# machine's root read-only over 9p and runs them in a chroot of it.
#
# usage: scripts/kernel-rig.sh [--no-build] [--programs DIR] [--verbose] [--full-sweep] [CASE...]
#   CASE            a case of rig/guest/cases/, by file name without .sh (00-plain-disk) or
#                   without its number (plain-disk); none: every case
#   --no-build      use the programs as they were last built
#   --programs DIR  take the static korvane-fw (rig/korvane-fw, with the rig's images) and
#                   korvane-gadget (rig/gadget/korvane-gadget) from this build folder instead of
#                   building them in the linux preset's (default: build/linux)
#   --verbose       show the log of passing cases too
#   --full-sweep    unplug-sweep cuts the update at every position of its list, not at a few
#
# Exits 0 only if the guest announced as many cases as were asked for, ran them all and every
# one passed, and every run the guest recorded (guest-out/corpus) replays here as it was
# recorded. Guest packages are fetched with apt-get download and unpacked with dpkg-deb: nothing
# is installed on the host. The console goes to stdout and to build/rig/console.log; what the
# guest writes for the host (the window's screenshots, the recorded runs) to build/rig/guest-out.
set -euo pipefail
cd "$(dirname "$0")/.."

readonly CACHE=build/rig-cache
readonly OUT=build/rig
readonly IMAGE_DIR=build/rig/image
readonly GUEST_OUT=build/rig/guest-out
# The runs the guest recorded (rig/guest/enclosure.sh, record_exit), and their replays here.
readonly CORPUS=$GUEST_OUT/corpus
readonly REPLAYS=build/rig/replay
# The Windows programs: the 32-bit build's copies with the rig's images (in rig/) and the window
# probe of its tests; and the Wine prefix they run in, on which the guest lays a writable layer.
readonly WINDOWS_PROGRAMS=build/win32
readonly WINDOWS_TARGETS=(korvane-fw-rig KorvaneUpdateTool-rig korvane-window-probe)
readonly WINE_PREFIX=$CACHE/wineprefix
readonly CASES=rig/guest/cases
# Only a guest that hangs meets this bound: each case has its own. Under TCG the guest's time
# follows the host's load, and a whole run took close to 600 s while builds kept both cores busy.
readonly QEMU_SECONDS=900
# What --full-sweep may add: unplug-sweep's bound under it, on both drivers.
readonly FULL_SWEEP_SECONDS=600
# What the guest loads (rig/guest/init), and what mounting a FAT disk needs. The two CRC
# algorithms are not in sd_mod's modules.dep: the kernel asks for them by name when sd_mod loads.
# dm_mod carries the linear target the cases build device-mapper volumes with.
readonly MODULES=(
  dummy_hcd libcomposite usb_f_fs usb_f_mass_storage gadgetfs configfs
  usb-storage uas sd_mod sg crct10dif_generic crc64_rocksoft_generic
  vfat fat nls_ascii nls_cp437 nls_iso8859-1 nls_utf8
  dm_mod
  virtio_pci 9pnet_virtio 9p overlay
)
# This machine's programs the guest runs where busybox has no applet, each with the libraries
# ldd names, at the same path in the guest. scripts/setup.sh installs their packages.
readonly HOST_PROGRAMS=(
  /usr/sbin/dmsetup
  /usr/bin/sg_raw /usr/bin/sg_inq /usr/bin/sg_requests /usr/bin/sg_turs /usr/bin/sg_write_buffer
  /usr/bin/udevadm
)

build=1
wine=0
all_cases=0
programs=build/linux
verbose=0
full_sweep=0
case_stems=()

log() { echo "rig: $*" >&2; }
die() {
  log "$*"
  exit 1
}
sudo_if_needed() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# ---- timing ------------------------------------------------------------------------------

phase_started=0
phase_begin() { phase_started=$EPOCHREALTIME; }
# phase_end NAME [NOTE]: "rig: NAME 2.4 s" on stderr.
phase_end() {
  local took
  took=$(awk -v a="$phase_started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
  log "$1 $took s${2:+ ($2)}"
}

# ---- arguments ---------------------------------------------------------------------------

parse_arguments() {
  while [ $# -gt 0 ]; do
    case $1 in
    --no-build) build=0 ;;
    --programs)
      [ $# -ge 2 ] || die "--programs needs a folder"
      programs=$2
      build=0
      shift
      ;;
    --verbose) verbose=1 ;;
    --full-sweep) full_sweep=1 ;;
    -h | --help)
      sed -n '8,16s/^# \{0,1\}//p' "$0"
      exit 0
      ;;
    -*) die "unknown option $1 (see --help)" ;;
    *) case_stems+=("$(case_stem "$1")") ;;
    esac
    shift
  done
}

# The file stem of a case named by its stem or by its stem without the number.
case_stem() {
  local matches
  if [ -f "$CASES/$1.sh" ]; then
    echo "$1"
    return
  fi
  matches=("$CASES"/[0-9]*-"$1".sh)
  [ -f "${matches[0]}" ] && [ ${#matches[@]} -eq 1 ] ||
    die "no case '$1'; the cases: $(all_case_stems | tr '\n' ' ')"
  basename "${matches[0]}" .sh
}

all_case_stems() {
  local f
  for f in "$CASES"/*.sh; do basename "$f" .sh; done
}

# Case names travel on the kernel's command line, comma-separated.
check_case_names() {
  local stem
  for stem in "$@"; do
    [[ $stem =~ ^[A-Za-z0-9._-]+$ ]] || die "case file name '$stem.sh' has characters other than letters, digits, . _ -"
  done
}

# True when a selected case runs the Windows programs: its header says "# needs: wine".
needs_wine() {
  local stem
  for stem in "$@"; do
    grep -q '^# needs: wine$' "$CASES/$stem.sh" && return 0
  done
  return 1
}

# How many verdicts the guest owes: each case runs once per transport its header names. The
# guest reads the same header line (rig_header in rig/guest/lib.sh).
expected_verdicts() {
  local stem drivers total=0
  for stem in "$@"; do
    drivers=$(sed -n 's/^# drivers: *//p' "$CASES/$stem.sh" | head -n 1)
    [ -n "$drivers" ] || die "$CASES/$stem.sh has no '# drivers:' line"
    set -- $drivers
    total=$((total + $#))
  done
  echo "$total"
}

# ---- programs ----------------------------------------------------------------------------

# Builds only the programs the guest runs, not the test suites. The compiler's output goes to
# build/rig-build.log and is shown only when the build fails.
build_programs() {
  local build_log=build/rig-build.log
  if ! build_programs_quietly >"$build_log" 2>&1; then
    tail -n 60 "$build_log" >&2
    die "building the programs failed (whole log: $build_log)"
  fi
}

# The linux preset builds them beside its own programs, from the same objects: korvane-fw-rig is
# korvane-fw with the rig's images, which carry no development marker, so it writes them to the
# emulated enclosures as it would the vendor's to real ones; both it and korvane-gadget are static.
build_programs_quietly() {
  [ -f build/linux/build.ninja ] || cmake --preset linux
  cmake --build --preset linux --parallel "$(nproc)" \
    --target korvane-fw korvane-fw-rig korvane-gadget korvane_rig_images
  [ "$wine" = 1 ] || return 0
  [ -f build/win32/build.ninja ] || cmake --preset win32
  cmake --build --preset win32 --parallel "$(nproc)" --target "${WINDOWS_TARGETS[@]}"
}

is_static() {
  ! ldd "$1" >/dev/null 2>&1
}

# ---- guest packages ----------------------------------------------------------------------

# The kernel package that linux-image-amd64 currently depends on: its name changes with
# Debian's point releases.
kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { print $2; exit }'
}

# "FILE SHA256" of each package's current version, from apt's lists alone.
package_files() {
  apt-get download --print-uris "$@" 2>/dev/null |
    awk '{ sub(/^SHA256:/, "", $4); print $2, $4 }'
}

apt_lists_refresh() {
  log "apt's package lists are missing or stale: apt-get update"
  sudo_if_needed apt-get update -qq
}

# Sets kernel_deb and busybox_deb to cached .deb files of the current versions, downloading
# those that are missing. apt-get update runs only when apt cannot name or fetch them.
fetch_packages() {
  if ! try_fetch_packages; then
    apt_lists_refresh
    try_fetch_packages || die "cannot download the guest's packages with apt-get download"
  fi
}

try_fetch_packages() {
  local files file sum
  files=$(current_package_files) || return 1
  mkdir -p "$CACHE/debs"
  while read -r file sum; do
    cached_deb_ok "$file" "$sum" || download_deb "${file%%_*}" "$file" "$sum" || return 1
  done <<<"$files"
  kernel_deb=$CACHE/debs/$(grep -o '^linux-image-[^ ]*' <<<"$files")
  busybox_deb=$CACHE/debs/$(grep -o '^busybox-static_[^ ]*' <<<"$files")
  prune_debs "$kernel_deb" "$busybox_deb"
}

# Each apt query takes seconds here, so the answer is kept until apt's lists change.
current_package_files() {
  local memo=$CACHE/apt-answer stamp kpkg files
  stamp=$(stat -c '%n %Y %s' /var/lib/apt/lists/* 2>/dev/null | sha256sum | cut -c1-16)
  if [ -f "$memo" ] && [ "$(head -n 1 "$memo")" = "$stamp" ]; then
    tail -n +2 "$memo"
    return 0
  fi
  kpkg=$(kernel_package)
  [ -n "$kpkg" ] || return 1
  files=$(package_files "$kpkg" busybox-static)
  [ "$(grep -c -e "^${kpkg}_" -e '^busybox-static_' <<<"$files")" -eq 2 ] || return 1
  printf '%s\n%s\n' "$stamp" "$files" >"$memo"
  echo "$files"
}

cached_deb_ok() {
  [ -f "$CACHE/debs/$1" ] && echo "$2  $CACHE/debs/$1" | sha256sum --status -c -
}

download_deb() {
  local sandbox=()
  # As root, apt would hand the download to the _apt user, who may not write here.
  [ "$(id -u)" -ne 0 ] || sandbox=(-o APT::Sandbox::User=root)
  (cd "$CACHE/debs" && apt-get download -qq "${sandbox[@]}" "$1" >/dev/null) &&
    cached_deb_ok "$2" "$3"
}

# Older kernels and busyboxes leave the cache once newer ones are in.
prune_debs() {
  local f
  for f in "$CACHE"/debs/*.deb; do
    [ "$f" = "$1" ] || [ "$f" = "$2" ] || rm -f "$f"
  done
}

# ---- kernel ------------------------------------------------------------------------------

# The kernel version, from the package name: linux-image-6.1.0-57-amd64_... -> 6.1.0-57-amd64.
kernel_version() {
  local name=${kernel_deb##*/}
  name=${name%%_*}
  echo "${name#linux-image-}"
}

# Everything built from one kernel package lives in a folder named after that .deb.
kernel_cache() {
  local name=${kernel_deb##*/}
  echo "$CACHE/${name%.deb}"
}

unpack_packages() {
  rm -rf "$CACHE/unpack"
  mkdir -p "$CACHE/unpack"
  dpkg-deb -x "$kernel_deb" "$CACHE/unpack"
  dpkg-deb -x "$busybox_deb" "$CACHE/unpack"
}

u8_at() { od -A n -t u1 -j "$2" -N 1 "$1" | tr -d ' '; }
u32_at() { od -A n -t u4 -j "$2" -N 4 "$1" | tr -d ' '; }

# The uncompressed kernel from vmlinuz, located through the x86 boot header rather than by
# searching for a magic number: the protected-mode code starts after (setup_sects + 1) sectors;
# payload_offset (0x248) and payload_length (0x24c) place the XZ stream in it, and its last four
# bytes give the uncompressed size, which the result must have. QEMU boots the ELF through its
# PVH entry, seconds faster under TCG than letting the kernel decompress itself.
extract_vmlinux() {
  local vmlinuz=$1 out=$2 start length size
  [ "$(od -A n -c -j 514 -N 4 "$vmlinuz" | tr -d ' ')" = HdrS ] || die "$vmlinuz: no x86 boot header"
  start=$((($(u8_at "$vmlinuz" 497) + 1) * 512 + $(u32_at "$vmlinuz" 584)))
  length=$(u32_at "$vmlinuz" 588)
  size=$(u32_at "$vmlinuz" $((start + length - 4)))
  dd if="$vmlinuz" iflag=skip_bytes,count_bytes skip="$start" count=$((length - 4)) bs=1M \
    status=none | xz -dc >"$out.part" ||
    die "$vmlinuz: the payload is not an XZ stream (was the kernel built with another compressor?)"
  [ "$(stat -c %s "$out.part")" -eq "$size" ] || die "$vmlinuz: the payload unpacked to the wrong size"
  mv "$out.part" "$out"
}

# ---- base initramfs: busybox, modules, /init ---------------------------------------------

# The module files (relative to lib/modules/KV) of MODULES and everything they depend on.
module_closure() {
  local moddir=$1 name
  declare -A seen=()
  for name in "${MODULES[@]}"; do add_module "$moddir" "$name"; done
  printf '%s\n' "${!seen[@]}" | LC_ALL=C sort
}

# modules.dep lines read "kernel/fs/fat/vfat.ko: kernel/fs/fat/fat.ko"; names may use - or _.
add_module() {
  local moddir=$1 pattern line dep
  pattern=$(sed 's/[-_]/[-_]/g' <<<"$2")
  line=$(grep -E "(^|/)$pattern\.ko(\.[a-z]+)?:" "$moddir/modules.dep" | head -n 1) || true
  if [ -z "$line" ]; then
    grep -Eq "/$pattern\.ko" "$moddir/modules.builtin" || die "module $2 is not in this kernel"
    return 0
  fi
  [ -z "${seen[${line%%:*}]:-}" ] || return 0
  seen[${line%%:*}]=1
  for dep in ${line#*:}; do add_module "$moddir" "$(basename "${dep%%.ko*}")"; done
}

stage_busybox() {
  local stage=$1 busybox=$CACHE/unpack/bin/busybox applet
  mkdir -p "$stage"/{bin,sbin,usr/bin,usr/sbin,proc,sys,dev,tmp}
  cp "$busybox" "$stage/bin/busybox"
  for applet in $("$busybox" --list-full); do
    [ -e "$stage/$applet" ] || ln -s /bin/busybox "$stage/$applet"
  done
}

stage_modules() {
  local stage=$1 kv=$2 src=$CACHE/unpack/lib/modules/$2 file
  "$CACHE/unpack/bin/busybox" depmod -b "$CACHE/unpack" "$kv"
  for file in $(module_closure "$src"); do
    mkdir -p "$stage/lib/modules/$kv/${file%/*}"
    cp "$src/$file" "$stage/lib/modules/$kv/$file"
  done
  cp "$src"/modules.{order,builtin,builtin.modinfo} "$stage/lib/modules/$kv/"
  "$CACHE/unpack/bin/busybox" depmod -b "$stage" "$kv"
}

# Same inputs, same bytes: fixed owners, modes and times, sorted names, no name or time in the
# gzip header.
pack_cpio() {
  local stage=$1 out=$2 level=$3
  chmod -R u=rwX,go=rX "$stage"
  find "$stage" -exec touch -h -d @0 {} +
  (cd "$stage" && find . -print0 | LC_ALL=C sort -z |
    cpio --null -o -H newc --reproducible -R 0:0 --quiet) | gzip -n "-$level" >"$out.part"
  mv "$out.part" "$out"
}

# HOST_PROGRAMS, at the paths they have here.
stage_host_programs() {
  local stage=$1 program
  for program in "${HOST_PROGRAMS[@]}"; do
    mkdir -p "$stage${program%/*}"
    # Not through a busybox applet's link of the same name.
    rm -f "$stage$program"
    stage_dynamic_program "$stage" "$program" "$program"
  done
}

# The bytes of HOST_PROGRAMS and of every library they load: an upgrade here rebuilds the base.
host_programs_digest() {
  local program
  for program in "${HOST_PROGRAMS[@]}"; do
    [ -x "$program" ] || die "no $program here: scripts/setup.sh installs it"
    ldd "$program" | grep -o '/[^ ]*' | xargs sha256sum "$program"
  done
}

build_base() {
  local out=$1 kv=$2 stage=$CACHE/stage
  rm -rf "$stage"
  stage_busybox "$stage"
  stage_modules "$stage" "$kv"
  stage_host_programs "$stage"
  cp rig/guest/init "$stage/init"
  chmod 755 "$stage/init"
  pack_cpio "$stage" "$out" 9
  rm -rf "$stage"
}

# The base image is rebuilt when the kernel, busybox, the module list, the host programs (their
# list or their bytes), /init or the code that builds it changes.
base_key() {
  {
    basename "$kernel_deb"
    basename "$busybox_deb"
    printf '%s\n' "${MODULES[@]}"
    host_programs_digest
    cat rig/guest/init
    declare -f module_closure add_module stage_busybox stage_modules pack_cpio build_base \
      stage_host_programs stage_dynamic_program
  } | sha256sum | cut -c1-16
}

# Sets vmlinux and base_image, building what the cache lacks.
prepare_kernel_and_base() {
  local dir kv key note=cached
  dir=$(kernel_cache)
  kv=$(kernel_version)
  key=$(base_key)
  vmlinux=$dir/vmlinux
  base_image=$dir/base-$key.cpio.gz
  if [ ! -f "$vmlinux" ] || [ ! -f "$base_image" ]; then
    note="built for $kv"
    mkdir -p "$dir"
    unpack_packages
    [ -d "$CACHE/unpack/lib/modules/$kv" ] || die "$kernel_deb holds no modules for $kv"
    [ -f "$vmlinux" ] || extract_vmlinux "$CACHE/unpack/boot/vmlinuz-$kv" "$vmlinux"
    find "$dir" -name 'base-*.cpio.gz' -delete
    # What was built for older kernels is of no more use.
    find "$CACHE" -mindepth 1 -maxdepth 1 -type d -name 'linux-image-*' ! -path "$dir" \
      -exec rm -rf {} +
    build_base "$base_image" "$kv"
    rm -rf "$CACHE/unpack"
  fi
  base_note=$note
}

# ---- this run's programs and cases -------------------------------------------------------

# stage_dynamic_program STAGE PROGRAM PATH: PROGRAM at PATH in the guest, with the libraries
# and loader ldd names, at the paths ldd names.
stage_dynamic_program() {
  local stage=$1 program=$2 path=$3 lib
  strip --strip-debug -o "$stage$path" "$program"
  for lib in $(ldd "$program" | grep -o '/[^ ]*'); do
    mkdir -p "$stage${lib%/*}"
    cp -L "$lib" "$stage$lib"
  done
}

stage_static_program() {
  local stage=$1 program=$2
  is_static "$program" || die "$program is linked dynamically; the linux preset builds it static"
  strip --strip-debug -o "$stage/opt/korvane/bin/${program##*/}" "$program"
}

build_overlay() {
  local out=$1 stage=$IMAGE_DIR/overlay fw gadget
  rm -rf "$stage"
  mkdir -p "$stage/opt/korvane/bin" "$stage/rig"
  fw=$programs/rig/korvane-fw
  gadget=$programs/rig/gadget/korvane-gadget
  [ -x "$fw" ] || die "no $fw"
  stage_static_program "$stage" "$fw"
  if [ -x "$gadget" ]; then
    stage_static_program "$stage" "$gadget"
  else
    log "warning: no $gadget; cases that start one will fail"
  fi
  [ -x build/linux/cli/korvane-fw ] || die "no build/linux/cli/korvane-fw: build the linux preset"
  stage_dynamic_program "$stage" build/linux/cli/korvane-fw /opt/korvane/bin/korvane-fw-devimages
  cp -r rig/guest/. "$stage/rig/"
  rm -f "$stage/rig/init"
  # The package's udev rule where the package installs it, for udevadm; /run for its database.
  mkdir -p "$stage/usr/lib/udev/rules.d" "$stage/run"
  cp packaging/linux/70-korvane-update-tool.rules "$stage/usr/lib/udev/rules.d/"
  # The images the rig's korvane-fw carries, as files, for cases that give it one to write.
  compgen -G "$programs/rig-images/*.bin" >/dev/null || die "no $programs/rig-images: build the programs"
  mkdir -p "$stage/rig/images"
  cp "$programs"/rig-images/*.bin "$stage/rig/images/"
  pack_cpio "$stage" "$out" 1
}

# Concatenated gzip'd cpio archives are one initramfs to the kernel: the cached base first, then
# this run's programs and cases.
build_initramfs() {
  local overlay=$IMAGE_DIR/overlay.cpio.gz
  mkdir -p "$IMAGE_DIR"
  build_overlay "$overlay"
  cat "$base_image" "$overlay" >"$IMAGE_DIR/initramfs.cpio.gz"
}

# ---- the Wine prefix ---------------------------------------------------------------------

# Made once and kept until Wine or the recipe below changes. The guest reads it through 9p and
# writes only to its own layer above it, so runs never change it.
prepare_wine_prefix() {
  local key note=cached
  key=$(wine_prefix_key)
  if [ "$(cat "$WINE_PREFIX/.rig-key" 2>/dev/null)" != "$key" ]; then
    note=built
    rm -rf "$WINE_PREFIX"
    build_wine_prefix >"$CACHE/wineprefix.log" 2>&1 || {
      tail -n 20 "$CACHE/wineprefix.log" >&2
      die "preparing the Wine prefix failed (whole log: $CACHE/wineprefix.log)"
    }
    echo "$key" >"$WINE_PREFIX/.rig-key"
  fi
  prefix_note=$note
}

wine_prefix_key() {
  {
    wine --version
    declare -f build_wine_prefix
  } | sha256sum | cut -c1-16
}

# No Mono or Gecko: their installers would ask on a screen. Windows are drawn by Wine, frame
# included, since the guest's display runs no window manager; the frame's buttons need Wine's
# own fonts in the prefix.
build_wine_prefix() (
  export WINEPREFIX=$PWD/$WINE_PREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX"
  wineboot --init
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
  wineserver --wait
  mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
  cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
)

# ---- the guest ---------------------------------------------------------------------------

kernel_arguments() {
  local selection=all
  [ "$all_cases" = 1 ] || selection=$(
    IFS=,
    echo "${case_stems[*]}"
  )
  echo "console=ttyS0 panic=-1 quiet korvane.cases=$selection korvane.verbose=$verbose korvane.full_sweep=$full_sweep"
  [ "$wine" = 0 ] || echo "korvane.prefix=$PWD/$WINE_PREFIX korvane.windows=$PWD/$WINDOWS_PROGRAMS"
}

# QEMU's arguments, one a line, for the folder the guest hands its recorded runs and
# screenshots back in, and, for the Windows programs, the host's root, read-only.
shares() {
  printf '%s\n' -virtfs "local,path=$GUEST_OUT,mount_tag=guestout,security_model=none"
  [ "$wine" = 1 ] || return 0
  printf '%s\n' \
    -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap
}

# The kernel's command line is split at blanks.
check_host_paths() {
  [[ $PWD != *[[:space:]]* ]] || die "the rig cannot run from a folder whose path has blanks: $PWD"
}

# The console without carriage returns and the firmware's terminal escapes, line by line as it
# comes; the first case's announcement marks the end of the boot.
watch_console() {
  local started=$1 line
  while IFS= read -r line; do
    echo "$line"
    case $line in
    "rig: running "*)
      awk -v a="$started" -v b="$EPOCHREALTIME" \
        'BEGIN { printf "rig: boot %.1f s (QEMU start to the first case)\n", b - a }' >&2
      ;;
    esac
  done
}

qemu_seconds() {
  echo $((QEMU_SECONDS + full_sweep * FULL_SWEEP_SECONDS))
}

# One bounded QEMU: TCG, no network, the serial console on stdout. Two CPUs, one thread each on
# the host, so that Wine starts while the first cases run.
run_guest() {
  local started=$EPOCHREALTIME statuses shared
  mapfile -t shared < <(shares)
  set +e
  timeout -k 10 "$(qemu_seconds)" qemu-system-x86_64 \
    -accel tcg -smp 2 -m 1536 -nodefaults -nographic -no-reboot -nic none -serial stdio \
    -kernel "$vmlinux" -initrd "$IMAGE_DIR/initramfs.cpio.gz" -append "$(kernel_arguments | paste -sd ' ')" \
    "${shared[@]}" \
    </dev/null 2>&1 |
    sed -u 's/\r//g; s/\x1b\[[0-9;?]*[a-zA-Z]//g; s/\x1bc//g' |
    tee "$OUT/console.log" | watch_console "$started"
  statuses=("${PIPESTATUS[@]}")
  set -e
  qemu_status=${statuses[0]}
}

# The guest hands back the whole display (NAME.xwd) with the window's rectangle on it (NAME.rect);
# the window is cut out into NAME.png.
save_screenshots() {
  local xwd base w h x y
  for xwd in "$GUEST_OUT"/*.xwd; do
    [ -f "$xwd" ] || continue
    base=${xwd%.xwd}
    if read -r w h x y <"$base.rect" &&
      convert "xwd:$xwd" -crop "${w}x${h}+${x}+${y}" +repage "$base.png"; then
      rm -f "$xwd" "$base.rect"
    else
      log "warning: no screenshot from $xwd"
    fi
  done
}

# ---- the recorded runs -------------------------------------------------------------------

# Replays each run the guest recorded (corpus/NAME.trace beside NAME.out) with the korvane-fw the
# guest ran: the command the trace's header names must print the recorded standard output byte
# for byte, but for the name of the file an update backed the bridge up to, and end with the
# trace's exit code. Says what differed for each run that does not; returns non-zero if any does.
# The replays keep their backups in a state folder of their own. Sets replay_note.
replay_corpus() {
  local fw=$programs/rig/korvane-fw file count=0 failed=0
  rm -rf "$REPLAYS"
  mkdir -p "$REPLAYS/state"
  # korvane-fw ignores a relative XDG_STATE_HOME.
  export XDG_STATE_HOME=$PWD/$REPLAYS/state
  command -v jq >/dev/null ||
    die "FAILED: no jq to read the recorded traces with (scripts/setup.sh installs it)"
  for file in "$CORPUS"/*.trace "$CORPUS"/*.out; do
    [ -f "$file" ] || continue
    case $file in
    *.out)
      [ -f "${file%.out}.trace" ] || {
        log "replay: ${file##*/} has no trace beside it"
        failed=$((failed + 1))
      }
      ;;
    *)
      count=$((count + 1))
      replay_one "$fw" "$file" || failed=$((failed + 1))
      ;;
    esac
  done
  replay_note="$count recorded runs, $failed failed"
  [ "$failed" -eq 0 ]
}

# replay_one KORVANE_FW TRACE: the replay of one recorded run; its output goes to $REPLAYS.
replay_one() {
  local fw=$1 trace=$2 name recorded words want rc=0
  name=${trace##*/}
  name=${name%.trace}
  recorded=${trace%.trace}.out
  [ -f "$recorded" ] || {
    log "replay: $name has no .out beside its trace"
    return 1
  }
  want=$(tail -n 1 "$trace" | jq -e 'select(type == "object") | .exit | numbers' 2>/dev/null) || {
    log "replay: $name: the trace does not end with {\"exit\":N}: the recording was cut short"
    return 1
  }
  mapfile -d '' -t words < <(head -n 1 "$trace" | jq -j 2>/dev/null \
    'select(type == "object" and has("trace")) | .command[] | strings | (., "\u0000")')
  [ ${#words[@]} -gt 0 ] || {
    log "replay: $name: the trace's first line is no header naming the command"
    return 1
  }
  "$fw" --replay "$trace" "${words[@]}" </dev/null >"$REPLAYS/$name.out" 2>"$REPLAYS/$name.err" ||
    rc=$?
  if [ "$rc" -ne "$want" ]; then
    log "replay: $name: 'korvane-fw --replay ${trace##*/} ${words[*]}' exited with $rc," \
      "the recording with $want"
    sed 's/^/rig:   | /' "$REPLAYS/$name.err" | head -n 5 >&2
    return 1
  fi
  without_backup_file "$recorded" >"$REPLAYS/$name.recorded.compared"
  without_backup_file "$REPLAYS/$name.out" >"$REPLAYS/$name.replayed.compared"
  cmp -s "$REPLAYS/$name.recorded.compared" "$REPLAYS/$name.replayed.compared" || {
    log "replay: $name: the replay's standard output differs from the recording's" \
      "(< recorded, > replayed):"
    diff "$REPLAYS/$name.recorded.compared" "$REPLAYS/$name.replayed.compared" | head -n 10 |
      cut -c1-160 | sed 's/^/rig:   /' >&2
    return 1
  }
}

# without_backup_file OUTPUT: a recorded or replayed standard output as it is compared. An update
# that backed the bridge up names the new file, where a replay, which keeps no backup, says so
# ("Backup read: ..."): both lines say "Backup written to BACKUP", and so does the JSON result's
# "backup"."file". Everything else stays byte for byte, the backup's SHA-256 included.
without_backup_file() {
  local file
  file=$(jq -c 'select(type == "object") | .backup | objects | .file | strings' "$1" 2>/dev/null |
    head -n 1) || true
  if [ -z "$file" ]; then
    sed -e 's/^Backup written to .*/Backup written to BACKUP/' \
      -e 's/^Backup read: .*/Backup written to BACKUP/' "$1"
    return
  fi
  # The file's name as JSON writes it, quotes included, wherever it stands.
  FILE=$file awk '{
    out = ""; rest = $0; f = ENVIRON["FILE"]
    while ((i = index(rest, f)) > 0) {
      out = out substr(rest, 1, i - 1) "\"BACKUP\""
      rest = substr(rest, i + length(f))
    }
    print out rest
  }' "$1"
}

# The run passes only with the guest's full account: the announced count as expected, then a
# summary with that many passes and no failure. A guest that dies halfway leaves no summary.
judge_run() {
  local expected=$1 console=$OUT/console.log announced summary passed failed
  [ "$qemu_status" -ne 124 ] && [ "$qemu_status" -ne 137 ] ||
    die "FAILED: the guest did not finish within $(qemu_seconds) s"
  [ "$qemu_status" -eq 0 ] || die "FAILED: QEMU exited with $qemu_status"
  ! grep -q 'Kernel panic' "$console" || die "FAILED: the guest's kernel panicked"
  announced=$(sed -n 's/^rig: running \([0-9]*\) cases$/\1/p' "$console" | tail -n 1)
  [ -n "$announced" ] || die "FAILED: the guest never started its cases"
  [ "$announced" -eq "$expected" ] ||
    die "FAILED: the guest announced $announced cases, $expected were asked for"
  summary=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$console" | tail -n 1) ||
    die "FAILED: the guest stopped before its summary"
  read -r passed _ failed _ <<<"$summary"
  [ "$failed" -eq 0 ] || die "FAILED: $failed of $expected cases failed"
  [ "$passed" -eq "$expected" ] || die "FAILED: $passed cases passed, $expected were expected"
  log "all $expected cases passed"
}

main() {
  local expected replayed
  parse_arguments "$@"
  if [ ${#case_stems[@]} -eq 0 ]; then
    all_cases=1
    mapfile -t case_stems < <(all_case_stems)
  fi
  check_case_names "${case_stems[@]}"
  check_host_paths
  expected=$(expected_verdicts "${case_stems[@]}")
  ! needs_wine "${case_stems[@]}" || wine=1
  mkdir -p "$CACHE" "$OUT"
  rm -rf "$GUEST_OUT"
  mkdir -p "$GUEST_OUT"

  if [ "$build" = 1 ]; then
    phase_begin
    build_programs
    phase_end build
  fi
  phase_begin
  fetch_packages
  phase_end download
  phase_begin
  prepare_kernel_and_base
  build_initramfs
  phase_end initramfs "base $base_note"
  if [ "$wine" = 1 ]; then
    phase_begin
    prepare_wine_prefix
    phase_end "Wine prefix" "$prefix_note"
  fi

  log "booting $(kernel_version) for $expected cases"
  phase_begin
  run_guest
  phase_end guest "QEMU start to power-off"
  save_screenshots
  phase_begin
  replayed=1
  replay_corpus || replayed=0
  phase_end replay "$replay_note"
  judge_run "$expected"
  [ "$replayed" = 1 ] ||
    die "FAILED: not every recorded run replayed as it was recorded (see 'replay:' above)"
}

main "$@"
