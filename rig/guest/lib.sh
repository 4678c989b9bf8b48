# The kernel rig's case framework, for busybox sh in the guest.
# shellcheck shell=dash
#
# /init sources this file and calls rig_run_cases. Each case is a file in /rig/cases/ whose
# header declares the transports it runs under:
#
#   # drivers: bot uas      (bot: usb-storage binds; uas: uas binds)
#   # time: 90              (optional: seconds before the case is killed; default 60)
#   # sweep-time: 300       (optional: the bound instead of time: when the rig runs with
#                            --full-sweep, RIG_FULL_SWEEP=1, under which the case does more)
#   # needs: wine           (optional: the case runs the Windows programs, see wine.sh; the
#                            host then shares its root and /init starts Wine)
#
# The case runs once per transport, in a shell of its own with this file and every other .sh
# file of /rig/ sourced, and RIG_CASE, RIG_DRIVER and RIG_TMP (an empty scratch folder) set.
# XDG_STATE_HOME names $RIG_TMP/state, so the backups korvane-fw makes before an update stay
# with the case that made them, whatever HOME says.
# It ends with rig_pass or rig_fail "why"; both end the case. The expect_* helpers call rig_fail themselves; the other
# helpers return non-zero and say why on stderr, so a case writes `helper || rig_fail "..."`.
#
# After each case the runner turns off swap and removes device-mapper volumes, kills what the case
# left running, unmounts, removes every gadget and waits until no SCSI device is left, so one case
# cannot disturb the next.

RIG_ROOT=/rig
RIG_STATE=/tmp/rig
RIG_CONFIGFS=/sys/kernel/config/usb_gadget
RIG_DEFAULT_TIME=60

# ---- small tools ---------------------------------------------------------------------------

# Uptime in hundredths of a second: busybox date has no sub-second format.
rig_now_cs() {
  local up
  read -r up _ </proc/uptime
  echo "${up%.*}${up#*.}" | sed 's/^0*//;s/^$/0/'
}

# Hundredths of a second as "1.23".
rig_seconds() {
  printf '%d.%02d' $(($1 / 100)) $(($1 % 100))
}

# A process counts as gone once it is a zombie: orphans end up as children of /init, which does
# not reap them while a case runs.
rig_alive() {
  local state
  [ -r "/proc/$1/stat" ] || return 1
  state=$(sed 's/.*) \(.\).*/\1/' "/proc/$1/stat" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "$state" != Z ]
}

# wait_for PATH SECONDS: until PATH exists. Polls every 0.1 s: there is no udev to tell us.
wait_for() {
  local left=$(($2 * 10))
  while [ ! -e "$1" ]; do
    [ "$left" -gt 0 ] || return 1
    left=$((left - 1))
    usleep 100000
  done
}

# wait_gone PATH SECONDS: until PATH no longer exists.
wait_gone() {
  local left=$(($2 * 10))
  while [ -e "$1" ]; do
    [ "$left" -gt 0 ] || return 1
    left=$((left - 1))
    usleep 100000
  done
}

# ---- verdicts ------------------------------------------------------------------------------

# rig_case NAME DRIVER: starts the bookkeeping of one case; the runner calls it.
rig_case() {
  RIG_CASE=$1
  RIG_DRIVER=$2
  RIG_RESULT=$RIG_STATE/result
  RIG_TMP=$RIG_STATE/case
  XDG_STATE_HOME=$RIG_TMP/state
  export RIG_CASE RIG_DRIVER RIG_RESULT RIG_TMP XDG_STATE_HOME
}

# The first verdict stands: a failure recorded in a subshell is not undone by a later pass.
rig_verdict() {
  [ -s "$RIG_RESULT" ] || echo "$1" >"$RIG_RESULT"
}

rig_pass() {
  rig_verdict pass
  exit 0
}

# rig_say LINE: a line for the console, after the case's verdict whatever it is: what a case
# measured, for the run's account. It goes to the case's log too.
rig_say() {
  echo "$*"
  echo "$*" >>"$RIG_STATE/said"
}

# rig_fail WHY: records the failure and ends the case.
rig_fail() {
  echo "rig_fail: $*" >&2
  rig_verdict "fail: $*"
  exit 1
}

# ---- assertions ----------------------------------------------------------------------------

# Runs a command with its output in $RIG_TMP/output and copied to the case's log.
rig_capture() {
  local rc=0
  echo "+ $*"
  "$@" >"$RIG_TMP/output" 2>&1 || rc=$?
  cat "$RIG_TMP/output"
  return "$rc"
}

# expect_exit CODE CMD...: the command must end with exit code CODE.
expect_exit() {
  local want=$1 rc=0
  shift
  rig_capture "$@" || rc=$?
  [ "$rc" -eq "$want" ] || rig_fail "'$*' exited with $rc, expected $want"
}

# expect_output REGEX CMD...: the command's output (stdout and stderr) must match the
# extended regular expression; its exit code does not count.
expect_output() {
  local regex=$1
  shift
  rig_capture "$@" || true
  grep -Eq -- "$regex" "$RIG_TMP/output" ||
    rig_fail "'$*' printed nothing that matches /$regex/ (output above)"
}

# expect_last REGEX: the output of the last expect_exit or expect_output must also match, so
# one run of a command can be checked for both its code and its words.
expect_last() {
  grep -Eq -- "$1" "$RIG_TMP/output" ||
    rig_fail "the last command printed nothing that matches /$1/ (output above)"
}

# run_as USER CMD...: runs the command as USER, who must be in /etc/passwd, with this
# environment kept (PATH included) but for the state folder: USER gets one of their own,
# $RIG_TMP/state-USER, as they would have in their own home. Debian's busybox has su but neither
# chpst nor setpriv --reuid. su would take a -c among the command's own arguments for its own:
# "--" stops it.
run_as() {
  local user=$1 state=$RIG_TMP/state-$1
  shift
  mkdir -p "$state" && chown "$user" "$state" || return 1
  XDG_STATE_HOME=$state su -p -s /bin/sh -c 'exec "$0" "$@"' -- "$user" "$@"
}

# ---- where a gadget's disk appears -----------------------------------------------------------

# dummy_udc.N is the gadget side of dummy_hcd.N, whose USB bus the disk appears on.
rig_hcd_of() {
  case $1 in
  dummy_udc.*) echo "dummy_hcd.${1#dummy_udc.}" ;;
  *)
    echo "not a dummy_hcd gadget controller: $1" >&2
    return 1
    ;;
  esac
}

# Prints the sgN names whose device lies on the USB bus of the given UDC.
rig_sg_names_of() {
  local hcd sg
  hcd=$(rig_hcd_of "$1") || return 1
  for sg in /sys/class/scsi_generic/*; do
    [ -e "$sg/device" ] || continue
    case $(readlink -f "$sg/device") in
    /sys/devices/platform/"$hcd"/*) echo "${sg##*/}" ;;
    esac
  done
}

# sg_of_gadget UDC [SECONDS]: prints /dev/sgN of the disk behind that gadget controller, waiting
# up to SECONDS (default 10) for it to appear. korvane-fw lists disks by their block devices, which
# the kernel attaches after the sg node: the wait also covers the block device, and when none comes
# in time the sg node is printed all the same.
sg_of_gadget() {
  local left=$((${2:-10} * 10)) name
  while :; do
    name=$(rig_sg_names_of "$1" | head -n 1)
    if [ -n "$name" ] && [ -e "/dev/$name" ] &&
      { [ -n "$(ls "/sys/class/scsi_generic/$name/device/block" 2>/dev/null)" ] ||
        [ "$left" -le 0 ]; }; then
      echo "/dev/$name"
      return 0
    fi
    if [ "$left" -le 0 ]; then
      echo "no SCSI device appeared on $1" >&2
      return 1
    fi
    left=$((left - 1))
    usleep 100000
  done
}

# disk_of_sg /dev/sgN: prints the block device (/dev/sdX) of the same SCSI device.
disk_of_sg() {
  local block
  block=$(ls "/sys/class/scsi_generic/${1##*/}/device/block" 2>/dev/null | head -n 1)
  [ -n "$block" ] || {
    echo "no block device beside $1" >&2
    return 1
  }
  echo "/dev/$block"
}

# sysfs_above_sg /dev/sgN ATTRIBUTE: the nearest sysfs folder above the disk that has ATTRIBUTE
# (bInterfaceClass: the USB interface; idVendor: the USB device), or / when none has.
sysfs_above_sg() {
  local dir
  dir=$(readlink -f "/sys/class/scsi_generic/${1##*/}/device")
  while [ "$dir" != / ] && [ ! -e "$dir/$2" ]; do
    dir=${dir%/*}
    [ -n "$dir" ] || dir=/
  done
  echo "$dir"
}

# usb_driver_of_sg /dev/sgN: prints the driver bound to the USB interface the disk is behind
# (usb-storage or uas).
usb_driver_of_sg() {
  local dir
  dir=$(sysfs_above_sg "$1" bInterfaceClass)
  [ -e "$dir/driver" ] || {
    echo "no USB interface with a driver above $1" >&2
    return 1
  }
  basename "$(readlink "$dir/driver")"
}

# The kernel driver a transport binds.
kernel_driver_of() {
  case $1 in
  bot) echo usb-storage ;;
  uas) echo uas ;;
  *) echo "$1" ;;
  esac
}

# rig_wait_no_sg UDC SECONDS: until the gadget's disk has left.
rig_wait_no_sg() {
  local left=$(($2 * 10))
  while [ -n "$(rig_sg_names_of "$1")" ]; do
    [ "$left" -gt 0 ] || return 1
    left=$((left - 1))
    usleep 100000
  done
}

# ---- the kernel's own mass-storage gadget ------------------------------------------------------

# start_mass_storage UDC [IMAGE] [VENDOR:PRODUCT]: a plain disk through configfs and
# f_mass_storage, backed by IMAGE (default: a fresh 1 MiB file of zeros). The USB IDs default
# to the Linux Foundation's composite gadget, 1d6b:0104; give the bridges' maker's vendor ID to
# get a disk that korvane-fw will probe.
start_mass_storage() {
  local udc=$1 image=${2:-} id=${3:-1d6b:0104} g
  g=$RIG_CONFIGFS/ms-$udc
  [ -n "$image" ] || {
    image=$RIG_STATE/ms-$udc.img
    dd if=/dev/zero of="$image" bs=1024 count=1024 2>/dev/null || return 1
  }
  mkdir "$g" || return 1
  echo "0x${id%:*}" >"$g/idVendor"
  echo "0x${id#*:}" >"$g/idProduct"
  mkdir "$g/strings/0x409"
  echo "RIG-$udc" >"$g/strings/0x409/serialnumber"
  echo "Korvane rig" >"$g/strings/0x409/manufacturer"
  echo "Plain disk" >"$g/strings/0x409/product"
  mkdir "$g/configs/c.1" "$g/functions/mass_storage.0" || return 1
  echo "$image" >"$g/functions/mass_storage.0/lun.0/file" || return 1
  ln -s "$g/functions/mass_storage.0" "$g/configs/c.1/"
  echo "$udc" >"$g/UDC" || {
    echo "cannot bind the mass-storage gadget to $udc" >&2
    return 1
  }
}

# stop_mass_storage UDC: unplugs the plain disk and waits until it has left.
stop_mass_storage() {
  rig_remove_configfs_gadget "$RIG_CONFIGFS/ms-$1"
  rig_wait_no_sg "$1" 10 || {
    echo "the disk on $1 did not leave" >&2
    return 1
  }
}

# Unbinding is the unplug; the folders go in the reverse order of their creation.
rig_remove_configfs_gadget() {
  local g=$1 c
  [ -d "$g" ] || return 0
  [ -z "$(cat "$g/UDC" 2>/dev/null)" ] || echo "" >"$g/UDC"
  for c in "$g"/configs/*; do
    [ -d "$c" ] || continue
    find "$c" -maxdepth 1 -type l -exec rm -f {} \;
    rmdir "$c"/strings/* 2>/dev/null
    rmdir "$c"
  done
  rmdir "$g"/functions/* "$g"/strings/* 2>/dev/null
  rmdir "$g"
}

# ---- korvane-gadget ----------------------------------------------------------------------------

# start_gadget TRANSPORT UDC SCENARIO [OPTION...]: serves a simulated enclosure on UDC and
# waits until korvane-gadget says it is bound. Its log is $RIG_TMP/gadget-UDC.log.
start_gadget() {
  local transport=$1 udc=$2 scenario=$3 ready log
  shift 3
  command -v korvane-gadget >/dev/null || {
    echo "korvane-gadget is not in this image" >&2
    return 1
  }
  ready=$RIG_STATE/gadget-$udc.ready
  log=$RIG_TMP/gadget-$udc.log
  rm -f "$ready"
  korvane-gadget --transport "$transport" --udc "$udc" --ready "$ready" "$@" "$scenario" \
    >"$log" 2>&1 &
  echo $! >"$RIG_STATE/gadget-$udc.pid"
  rig_wait_ready "$!" "$ready" 10 && return 0
  echo "korvane-gadget on $udc did not get ready; its log:" >&2
  cat "$log" >&2
  stop_gadget "$udc"
  return 1
}

# Until the ready file appears; a gadget that exits first fails at once.
rig_wait_ready() {
  local left=$(($3 * 10))
  while [ ! -e "$2" ]; do
    rig_alive "$1" && [ "$left" -gt 0 ] || return 1
    left=$((left - 1))
    usleep 100000
  done
}

# The UDCs that have a korvane-gadget started by start_gadget.
rig_gadget_udcs() {
  local f
  for f in "$RIG_STATE"/gadget-*.pid; do
    [ -e "$f" ] || continue
    f=${f##*/gadget-}
    echo "${f%.pid}"
  done
}

# stop_gadget [UDC]: SIGTERM (unplug and exit) to the gadget on UDC, or to every one; waits
# until it has exited and its disk has left. Non-zero if either takes too long or the gadget
# exited with an error.
stop_gadget() {
  local udc rc=0
  for udc in ${1:-$(rig_gadget_udcs)}; do
    rig_stop_one_gadget "$udc" || rc=1
  done
  return "$rc"
}

rig_stop_one_gadget() {
  local udc=$1 pidfile pid status=0
  pidfile=$RIG_STATE/gadget-$udc.pid
  [ -e "$pidfile" ] || return 0
  pid=$(cat "$pidfile")
  rm -f "$pidfile"
  kill -TERM "$pid" 2>/dev/null
  rig_wait_exit "$pid" 10 || {
    echo "korvane-gadget on $udc ignored SIGTERM; killed" >&2
    kill -KILL "$pid" 2>/dev/null
    status=1
  }
  # Only the case's own shell can collect the exit code; the runner's cleanup cannot.
  if wait "$pid" 2>/dev/null; then :; else
    local rc=$?
    [ "$rc" -eq 127 ] || [ "$rc" -eq 0 ] || {
      echo "korvane-gadget on $udc exited with $rc" >&2
      status=1
    }
  fi
  rig_wait_no_sg "$udc" 10 || {
    echo "the disk on $udc did not leave after korvane-gadget exited" >&2
    status=1
  }
  return "$status"
}

rig_wait_exit() {
  local left=$(($2 * 10))
  while rig_alive "$1"; do
    [ "$left" -gt 0 ] || return 1
    left=$((left - 1))
    usleep 100000
  done
}

# An identity of the gadget's SCSI device that a replug changes: kernfs gives every new sysfs
# node a new inode number, while SCSI host numbers and sg names are reused at once.
rig_device_identity_of() {
  local name
  name=$(rig_sg_names_of "$1" | head -n 1)
  [ -n "$name" ] || return 0
  stat -L -c %i "/sys/class/scsi_generic/$name/device" 2>/dev/null
}

# replug_gadget UDC [SECONDS]: SIGHUP asks korvane-gadget to unplug and plug in again; returns
# once a new disk is on that controller (default: within 15 s). The node may get another
# number: ask sg_of_gadget again.
replug_gadget() {
  local udc=$1 left=$((${2:-15} * 10)) before now pid
  pid=$(cat "$RIG_STATE/gadget-$udc.pid" 2>/dev/null) || {
    echo "no korvane-gadget runs on $udc" >&2
    return 1
  }
  before=$(rig_device_identity_of "$udc")
  kill -HUP "$pid" || return 1
  while :; do
    now=$(rig_device_identity_of "$udc")
    if [ -n "$now" ] && [ "$now" != "$before" ] && sg_of_gadget "$udc" 1 >/dev/null; then
      return 0
    fi
    [ "$left" -gt 0 ] || {
      echo "the disk on $udc did not come back after the replug" >&2
      return 1
    }
    left=$((left - 1))
    usleep 100000
  done
}

# ---- what the guest hands to the host -----------------------------------------------------------

# The host's build/rig/guest-out, shared over 9p: window screenshots and recorded runs.
RIG_GUEST_OUT=/guest-out

# rig_guest_out: mounts the host's folder at $RIG_GUEST_OUT, once per boot.
rig_guest_out() {
  grep -q " $RIG_GUEST_OUT 9p " /proc/mounts && return 0
  mkdir -p "$RIG_GUEST_OUT"
  mount -t 9p -o trans=virtio,version=9p2000.L,msize=524288 guestout "$RIG_GUEST_OUT" || {
    echo "cannot mount the host's folder for what the guest hands back" >&2
    return 1
  }
}

# ---- the runner ----------------------------------------------------------------------------

# A header field of a case file: "# drivers: bot uas" -> "bot uas".
rig_header() {
  sed -n "s/^# $2: *//p" "$1" | head -n 1
}

# The selected case files, one a line: every case, or those named (comma-separated) in $1.
rig_selected_cases() {
  local name
  if [ -z "$1" ] || [ "$1" = all ]; then
    ls "$RIG_ROOT"/cases/*.sh 2>/dev/null
    return 0
  fi
  for name in $(echo "$1" | tr ',' ' '); do
    echo "$RIG_ROOT/cases/$name.sh"
  done
}

# rig_dmsetup ARG...: dmsetup without udev. The guest has no udevd: libdevmapper makes the
# /dev/mapper nodes itself and waits for no udev event.
rig_dmsetup() {
  DM_DISABLE_UDEV=1 dmsetup --noudevsync "$@"
}

# Swap and device-mapper volumes on a disk keep it open: they go while the disk is still there.
# The guest has neither of its own.
rig_release_volumes() {
  local swap
  for swap in $(awk 'NR > 1 { print $1 }' /proc/swaps 2>/dev/null); do
    swapoff "$swap" || echo "rig: warning: cannot swapoff $swap"
  done
  ! ls /sys/class/block/dm-* >/dev/null 2>&1 || rig_dmsetup remove_all ||
    echo "rig: warning: device-mapper volumes are left after the cleanup"
}

# Undoes whatever a case left behind: processes, mounts, swaps, volumes, gadgets, disks.
rig_cleanup() {
  local pgid=$1 g m
  rig_release_volumes
  stop_gadget >/dev/null 2>&1
  kill -KILL -- "-$pgid" 2>/dev/null
  for m in $(awk '$3 == "vfat" || $3 == "functionfs" || $3 == "gadgetfs" { print $2 }' /proc/mounts); do
    umount "$m" 2>/dev/null || umount -l "$m"
  done
  for g in "$RIG_CONFIGFS"/*; do
    [ -d "$g" ] && rig_remove_configfs_gadget "$g" 2>/dev/null
  done
  wait_gone_all_sg 10 || echo "rig: warning: SCSI devices are still present after the cleanup"
  rm -rf "$RIG_STATE"/gadget-*
  rig_restore_modules
}

# Loads again, with /init's parameters, any module a case unloaded.
rig_restore_modules() {
  local line name
  while read -r line; do
    name=$(echo "${line%% *}" | tr - _)
    grep -q "^$name " /proc/modules || modprobe $line ||
      echo "rig: warning: cannot load $line again"
  done <"$RIG_STATE/modules"
}

wait_gone_all_sg() {
  local left=$(($1 * 10))
  while [ -n "$(ls /sys/class/scsi_generic 2>/dev/null)" ]; do
    [ "$left" -gt 0 ] || return 1
    left=$((left - 1))
    usleep 100000
  done
}

# Every other .sh file beside this one holds helpers the cases share.
rig_source_helpers() {
  local helper
  for helper in "$RIG_ROOT"/*.sh; do
    # shellcheck source=/dev/null
    [ "$helper" = "$RIG_ROOT/lib.sh" ] || . "$helper" || return 1
  done
}

# rig_watchdog PGID SECONDS: after SECONDS, TERM and then KILL to the case's process group.
# busybox timeout is no use here: its watcher leaves for a session of its own, outlives the case
# and may later signal whatever process has been given the case's number.
rig_watchdog() {
  local pgid=$1 ticks=$(($2 * 4))
  while kill -0 "$pgid" 2>/dev/null; do
    if [ "$ticks" -le 0 ]; then
      : >"$RIG_STATE/timed-out"
      kill -TERM -- "-$pgid" 2>/dev/null
      usleep 500000
      kill -KILL -- "-$pgid" 2>/dev/null
      return 0
    fi
    ticks=$((ticks - 1))
    usleep 250000
  done
}

# The seconds a case may take: its sweep-time under the full sweep, where it has one, else its time.
rig_time_bound() {
  local limit=
  [ "${RIG_FULL_SWEEP:-0}" = 0 ] || limit=$(rig_header "$1" sweep-time)
  [ -n "$limit" ] || limit=$(rig_header "$1" time)
  echo "${limit:-$RIG_DEFAULT_TIME}"
}

# rig_run_one FILE DRIVER: runs one case under its time bound and prints its verdict line.
# Returns 0 if it passed.
rig_run_one() {
  local file=$1 driver=$2 name limit start pid dog rc=0 took verdict
  name=${file##*/}
  name=${name%.sh}
  limit=$(rig_time_bound "$file")
  rig_case "$name" "$driver"
  rm -rf "$RIG_TMP" "$RIG_RESULT" "$RIG_STATE/timed-out" "$RIG_STATE/said"
  mkdir -p "$RIG_TMP"
  dmesg -c >/dev/null
  start=$(rig_now_cs)
  # A session of its own, so that what the case started can be killed with it.
  setsid sh -c '. /rig/lib.sh && rig_source_helpers && rig_case "$1" "$2" && . "$3"
    rig_fail "the case ended without a verdict"' sh "$name" "$driver" "$file" \
    >"$RIG_STATE/log" 2>&1 </dev/null &
  pid=$!
  rig_watchdog "$pid" "$limit" &
  dog=$!
  wait "$pid" 2>/dev/null || rc=$?
  kill "$dog" 2>/dev/null
  wait "$dog" 2>/dev/null
  took=$(($(rig_now_cs) - start))
  rig_cleanup "$pid"
  verdict=$(cat "$RIG_RESULT" 2>/dev/null)
  if [ -e "$RIG_STATE/timed-out" ]; then
    verdict="fail: killed after the case's time bound of $limit s"
  elif [ -z "$verdict" ]; then
    verdict="fail: the case's shell died (exit $rc) without a verdict"
  elif [ "$verdict" = pass ] && [ "$rc" -ne 0 ]; then
    verdict="fail: the case passed but its shell exited with $rc"
  fi
  rig_report "$name" "$driver" "$verdict" "$took"
  [ ! -s "$RIG_STATE/said" ] || cat "$RIG_STATE/said"
  [ "$verdict" = pass ]
}

# The verdict line; a failure comes with the case's log and the kernel's messages.
rig_report() {
  local took
  took=$(rig_seconds "$4")
  if [ "$3" = pass ]; then
    echo "PASS $1 [$2] ${took} s"
    [ "${RIG_VERBOSE:-0}" = 0 ] || sed 's/^/    | /' "$RIG_STATE/log"
    return 0
  fi
  echo "FAIL $1 [$2] ${took} s: ${3#fail: }"
  sed 's/^/    | /' "$RIG_STATE/log"
  rig_report_gadget_logs
  dmesg | tail -n 30 | sed 's/^/    kernel: /'
}

rig_report_gadget_logs() {
  local log udc
  for log in "$RIG_TMP"/gadget-*.log; do
    [ -s "$log" ] || continue
    udc=${log##*/gadget-}
    sed "s/^/    ${udc%.log}: /" "$log"
  done
}

# rig_run_cases SELECTION: runs the selected cases once per declared transport and prints
# "rig: running N cases" first and "P passed, F failed" last.
rig_run_cases() {
  local files file drivers driver total=0 passed=0 failed=0
  mkdir -p "$RIG_STATE"
  files=$(rig_selected_cases "$1")
  for file in $files; do
    drivers=$(rig_header "$file" drivers 2>/dev/null)
    set -- ${drivers:-missing}
    total=$((total + $#))
  done
  echo "rig: running $total cases"
  for file in $files; do
    drivers=$(rig_header "$file" drivers 2>/dev/null)
    if [ ! -f "$file" ] || [ -z "$drivers" ]; then
      echo "FAIL ${file##*/} [-]: no such case, or no '# drivers:' line"
      failed=$((failed + 1))
      continue
    fi
    for driver in $drivers; do
      if rig_run_one "$file" "$driver"; then
        passed=$((passed + 1))
      else
        failed=$((failed + 1))
      fi
    done
  done
  echo "$passed passed, $failed failed"
}
