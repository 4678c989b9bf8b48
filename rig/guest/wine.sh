# The Windows programs in the guest, beside the runner's lib.sh. The host's root is mounted
# read-only over 9p at /host; Wine's prefix, prepared on the host, gets a writable layer of its
# own; /dev, /proc, /sys and the runner's /tmp/rig are the guest's own, so a case hands a
# Windows program the same paths it uses itself. Wine runs there in a chroot, served by one
# wineserver that outlives the cases, with one virtual display for the windows.
#
# Starting Wine under emulation takes half a minute, so /init starts it in the background
# (wine_start) while the other cases run, and a case that needs it waits (wine_ready).
#
# The host names its folders on the kernel's command line: korvane.prefix (the Wine prefix) and
# korvane.windows (the build folder of the Windows programs).

WINE_ROOT=/host
# The host's own /tmp, which the chroot's covers.
WINE_HOST_TMP=/host-tmp
# Inside the chroot.
WINE_PREFIX=/tmp/prefix
WINE_DISPLAY=:7
# The display's frame buffer, an XWD file that Xvfb keeps current: a screenshot is a copy of it.
WINE_FRAME_BUFFER_DIR=/tmp/xvfb
# SetupAPI's class of disk interfaces, and the device class of disk drives.
WINE_DISK_INTERFACES='{53f56307-b6bf-11d0-94f2-00a0c91efb8b}'
WINE_DISK_CLASS='{4d36e967-e325-11ce-bfc1-08002be10318}'

wine_cmdline_value() {
  sed -n "s/.*korvane\.$1=\([^ ]*\).*/\1/p" /proc/cmdline
}

# The host's folder of the Windows programs, as seen inside the chroot.
wine_programs() {
  wine_cmdline_value windows
}

# wine_start: the chroot, the wineserver and the display, made in the background in a session
# of their own, so that the runner's cleanup after a case leaves them alone. Its log is
# $RIG_STATE/wine-start.log; it ends with the file wine-ready or wine-failed there.
wine_start() {
  rm -f "$RIG_STATE/wine-ready" "$RIG_STATE/wine-failed"
  setsid sh -c '. /rig/lib.sh && . /rig/wine.sh && wine_setup' \
    >"$RIG_STATE/wine-start.log" 2>&1 </dev/null &
}

wine_setup() {
  local start
  start=$(rig_now_cs)
  if wine_mount_root && wine_mount_prefix && wine_start_server && wine_start_display; then
    echo "Wine ready in $(rig_seconds $(($(rig_now_cs) - start))) s"
    : >"$RIG_STATE/wine-ready"
  else
    : >"$RIG_STATE/wine-failed"
  fi
}

# wine_ready: waits for wine_start to finish; non-zero, with its log, if it failed.
wine_ready() {
  local left=1200
  while [ ! -e "$RIG_STATE/wine-ready" ]; do
    if [ -e "$RIG_STATE/wine-failed" ] || [ "$left" -le 0 ]; then
      echo "Wine did not start; its log:" >&2
      cat "$RIG_STATE/wine-start.log" >&2
      return 1
    fi
    left=$((left - 1))
    usleep 100000
  done
}

wine_mount_root() {
  local prefix
  prefix=$(wine_cmdline_value prefix)
  [ -n "$prefix" ] || {
    echo "the host named no Wine prefix (korvane.prefix)" >&2
    return 1
  }
  mkdir -p "$WINE_ROOT"
  mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=524288,cache=loose hostroot "$WINE_ROOT" || {
    echo "cannot mount the host's root over 9p" >&2
    return 1
  }
  # The chroot's /tmp is the guest's own, writable; the host's /tmp stays reachable at
  # $WINE_HOST_TMP, for a checkout that lies there.
  mkdir -p "$WINE_HOST_TMP" &&
    mount -o bind "$WINE_ROOT/tmp" "$WINE_HOST_TMP" &&
    mount -t tmpfs tmpfs "$WINE_ROOT/tmp" &&
    wine_bind_back "$prefix" && wine_bind_back "$(wine_programs)" || {
    echo "cannot give the chroot a /tmp of its own" >&2
    return 1
  }
  [ -f "$WINE_ROOT$prefix/system.reg" ] || {
    echo "no Wine prefix at $prefix on the host" >&2
    return 1
  }
  mount -o bind /dev "$WINE_ROOT/dev" &&
    mount -t proc proc "$WINE_ROOT/proc" &&
    mount -t sysfs sysfs "$WINE_ROOT/sys" &&
    mkdir -p "$WINE_ROOT$RIG_STATE" &&
    mount -o bind "$RIG_STATE" "$WINE_ROOT$RIG_STATE" || {
    echo "cannot lay the guest's file systems into the chroot" >&2
    return 1
  }
  # Xvfb compiles its keymap into this folder.
  mount -t tmpfs tmpfs "$WINE_ROOT/var/lib/xkb" 2>/dev/null || true
}

# wine_bind_back PATH: where PATH lies under the host's /tmp, its top folder there is bound
# into the chroot's own /tmp, at the same path.
wine_bind_back() {
  local top
  case $1 in
  /tmp/*) top=${1#/tmp/} ;;
  *) return 0 ;;
  esac
  top=${top%%/*}
  grep -q " $WINE_ROOT/tmp/$top " /proc/mounts && return 0
  mkdir -p "$WINE_ROOT/tmp/$top" && mount -o bind "$WINE_HOST_TMP/$top" "$WINE_ROOT/tmp/$top"
}

# The overlay's upper layer is on the chroot's /tmp. Wine refuses a prefix that is not owned by
# the user running it; changing the owner of the top folder copies only that folder up.
wine_mount_prefix() {
  local prefix dir=$WINE_ROOT/tmp
  prefix=$(wine_cmdline_value prefix)
  mkdir -p "$dir/prefix-upper" "$dir/prefix-work" "$WINE_ROOT$WINE_PREFIX" "$dir/home"
  mount -t overlay overlay \
    -o "lowerdir=$WINE_ROOT$prefix,upperdir=$dir/prefix-upper,workdir=$dir/prefix-work" \
    "$WINE_ROOT$WINE_PREFIX" || {
    echo "cannot lay a writable layer on the Wine prefix" >&2
    return 1
  }
  chown 0:0 "$WINE_ROOT$WINE_PREFIX"
}

# Debian's wineserver wrapper would start a server for every run and stop it after; a
# persistent one makes a run take seconds instead of half a minute. The first run starts Wine's
# own services, which stay with the server.
wine_start_server() {
  wine_chroot wineserver -p && wine_chroot wine cmd /c exit || {
    echo "the wineserver did not start" >&2
    return 1
  }
}

# wine_chroot CMD...: runs a command of the host's in the chroot, with Wine's environment. Its
# output goes where the caller sends it: to a file, never to a pipe, since Wine's services
# inherit the pipe and its reader would never see the end.
wine_chroot() {
  chroot "$WINE_ROOT" /usr/bin/env -i PATH=/usr/bin:/bin:/usr/sbin:/sbin HOME=/tmp/home LANG=C \
    WINEPREFIX="$WINE_PREFIX" WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml=" \
    DISPLAY="$WINE_DISPLAY" "$@"
}

# win PROGRAM ARG...: runs one of the Windows programs (korvane-fw.exe, KorvaneUpdateTool.exe,
# korvane-window-probe.exe) under Wine and ends with its exit code.
win() {
  local program=$1 path
  shift
  path=$(wine_program_path "$program") || return 1
  wine_chroot wine "$path" "$@" </dev/null
}

# wine_unix_path 'C:\FOLDER\FILE': where a path on the prefix's drive C lies in the guest.
wine_unix_path() {
  echo "$WINE_ROOT$WINE_PREFIX/drive_c/$(printf '%s\n' "$1" | sed 's/^[Cc]:\\//; s/\\/\//g')"
}

wine_program_path() {
  local dir
  dir=$(wine_programs)
  case $1 in
  korvane-fw.exe | KorvaneUpdateTool.exe) echo "$dir/rig/$1" ;;
  korvane-window-probe.exe) echo "$dir/tests/app/win32/$1" ;;
  *)
    echo "no Windows program $1" >&2
    return 1
    ;;
  esac
}

# ---- the enclosure as Windows sees it --------------------------------------------------------

# A SCSI identity field as Windows writes it into a device name: blanks at the end dropped,
# those inside turned into underscores.
wine_name_field() {
  sed 's/ *$//; s/ /_/g' "$1"
}

# wine_interface_name TRANSPORT /dev/sgN: the interface name Windows gives that disk, without
# the \\?\ in front: USBSTOR's for a disk on usb-storage, the SCSI port's for a UASP disk.
wine_interface_name() {
  local dev=/sys/class/scsi_generic/${2##*/}/device vendor product rev serial usb
  vendor=$(wine_name_field "$dev/vendor")
  product=$(wine_name_field "$dev/model")
  rev=$(wine_name_field "$dev/rev")
  usb=$(usb_device_of_sg "$2") || return 1
  serial=$(cat "$usb/serial")
  case $1 in
  bot) echo "usbstor#disk&ven_${vendor}&prod_${product}&rev_${rev}#${serial}&0#$WINE_DISK_INTERFACES" ;;
  uas) echo "scsi#disk&ven_${vendor}&prod_${product}#5&${serial}&0&000000#$WINE_DISK_INTERFACES" ;;
  *)
    echo "no interface name for $1" >&2
    return 1
    ;;
  esac | tr 'A-Z' 'a-z'
}

# wine_register_disk TRANSPORT /dev/sgN: makes that disk the one present disk interface SetupAPI
# lists, under the name Windows gives it, and points the name at the node. Prints the path a
# Windows program opens (\\?\NAME). Wine maps \\?\NAME, with no further backslash, to the
# prefix's dosdevices/NAME.
wine_register_disk() {
  local name instance dosdevices=$WINE_ROOT$WINE_PREFIX/dosdevices
  wine_ready || return 1
  name=$(wine_interface_name "$1" "$2") || return 1
  instance=$(echo "${name%#*}" | sed 's/#/\\/g' | tr 'a-z' 'A-Z')
  wine_disk_registry "$name" "$instance" >"$WINE_ROOT/tmp/disk.reg"
  wine_chroot wine regedit /S 'Z:\tmp\disk.reg' >"$RIG_STATE/regedit.log" 2>&1 || {
    echo "regedit refused the disk's keys:" >&2
    cat "$RIG_STATE/regedit.log" >&2
    return 1
  }
  find "$dosdevices" -maxdepth 1 -name "*#$WINE_DISK_INTERFACES" -exec rm -f {} +
  ln -s "$2" "$dosdevices/$name"
  echo "\\\\?\\$name"
}

# wine_relink_disk TRANSPORT /dev/sgN: after a replug, the same name on the disk's new node.
wine_relink_disk() {
  local name
  name=$(wine_interface_name "$1" "$2") || return 1
  ln -sfn "$2" "$WINE_ROOT$WINE_PREFIX/dosdevices/$name"
}

# The registry keys of one present disk interface, replacing any other: the device's Enum key
# with its class, and under the interface class the interface with its instance, its symbolic
# link and Linked=1. regedit takes doubled backslashes inside values.
wine_disk_registry() {
  local name=$1 instance=$2 key classes
  key=$(echo "##?#$name" | tr 'a-z' 'A-Z' | sed "s/$(echo "$WINE_DISK_INTERFACES" | tr 'a-z' 'A-Z')\$/$WINE_DISK_INTERFACES/")
  classes='HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\DeviceClasses'
  cat <<REG
REGEDIT4

[-$classes\\$WINE_DISK_INTERFACES]

[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\$instance]
"ClassGUID"="$WINE_DISK_CLASS"

[$classes\\$WINE_DISK_INTERFACES\\$key]
"DeviceInstance"="$(echo "$instance" | sed 's/\\/\\\\/g')"

[$classes\\$WINE_DISK_INTERFACES\\$key\\#]
"SymbolicLink"="\\\\\\\\?\\\\$name"

[$classes\\$WINE_DISK_INTERFACES\\$key\\#\\Control]
"Linked"=dword:00000001
REG
}

# ---- the window ------------------------------------------------------------------------------

# The virtual display, and Wine's desktop on it: the first window a process opens starts the
# desktop, which a probe that finds no window does too. Both stay for all cases.
wine_start_display() {
  mkdir -p "$WINE_ROOT$WINE_FRAME_BUFFER_DIR"
  wine_chroot Xvfb "$WINE_DISPLAY" -screen 0 1280x1024x24 -br -nocursor -nolisten tcp \
    -fbdir "$WINE_FRAME_BUFFER_DIR" >"$RIG_STATE/xvfb.log" 2>&1 </dev/null &
  wait_for "$WINE_ROOT/tmp/.X11-unix/X${WINE_DISPLAY#:}" 30 || {
    echo "Xvfb did not start; its log:" >&2
    cat "$RIG_STATE/xvfb.log" >&2
    return 1
  }
  win korvane-window-probe.exe state >/dev/null 2>&1 || true
}

# probe COMMAND...: what the window shows, from korvane-window-probe.exe. Its output passes
# through files: a program Wine starts for the window could inherit a pipe and hold it open.
probe() {
  local rc=0
  win korvane-window-probe.exe "$@" >"$RIG_TMP/probe.out" 2>"$RIG_TMP/probe.err" || rc=$?
  cat "$RIG_TMP/probe.out"
  cat "$RIG_TMP/probe.err" >&2
  return "$rc"
}

# wine_screenshot NAME "W H X Y": the display as it is now, as guest-out/NAME.xwd on the host,
# and the window's rectangle on it as NAME.rect; the host cuts the window out into NAME.png.
wine_screenshot() {
  rig_guest_out || return 1
  cp "$WINE_ROOT$WINE_FRAME_BUFFER_DIR/Xvfb_screen0" "$RIG_GUEST_OUT/$1.xwd" &&
    echo "$2" >"$RIG_GUEST_OUT/$1.rect"
}

# wine_click X Y: a click of the display's mouse at that point of the screen.
wine_click() {
  wine_chroot xdotool mousemove "$1" "$2" click 1
}

# start_window: KorvaneUpdateTool.exe on the guest's display, in the background; its debug
# output goes to $RIG_TMP/window.log.
start_window() {
  WINEDEBUG=-all,+debugstr win KorvaneUpdateTool.exe >"$RIG_TMP/window.log" 2>&1 &
  echo $! >"$RIG_TMP/window.pid"
}

# window_ends_cleanly: after the probe's close (WM_CLOSE), the program must end with exit code 0.
window_ends_cleanly() {
  local pid rc=0
  pid=$(cat "$RIG_TMP/window.pid")
  rig_wait_exit "$pid" 30 || rig_fail "the program did not end after WM_CLOSE"
  wait "$pid" || rc=$?
  [ "$rc" -eq 0 ] || rig_fail "the program ended with exit code $rc after WM_CLOSE"
}
