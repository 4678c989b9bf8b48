# What the cases ask of an enclosure and of korvane-fw's traces, beside the runner's lib.sh.

# The bus tag korvane-fw shows for a disk behind the driver a transport binds.
bus_tag_of() {
  case $1 in
  bot) echo '<<USB>>' ;;
  uas) echo '<<UASP>>' ;;
  *) echo "no bus tag for $1" >&2 && return 1 ;;
  esac
}

# usb_device_of_sg /dev/sgN: the sysfs folder of the USB device the disk is behind.
usb_device_of_sg() {
  local dir
  dir=$(sysfs_above_sg "$1" idVendor)
  [ -e "$dir/idVendor" ] || return 1
  echo "$dir"
}

# bcd_of a.b.c.d: the bcdDevice sysfs shows for a bridge running that firmware: c and d as two
# decimal digits each.
bcd_of() {
  local IFS=.
  set -- $1
  printf '%02d%02d\n' "$3" "$4"
}

# add_user NAME UID: a user with a group of the same number, for running as someone not root.
add_user() {
  mkdir -p /etc
  grep -q "^$1:" /etc/passwd 2>/dev/null || echo "$1:x:$2:$2:$1:/tmp:/bin/sh" >>/etc/passwd
  grep -q "^$1:" /etc/group 2>/dev/null || echo "$1:x:$2:" >>/etc/group
}

# ---- korvane-fw --trace files: one JSON object a line, "path" first ----------------------------

# The device paths that received a command, once each.
trace_paths() {
  sed -n 's/^{"path":"\([^"]*\)".*/\1/p' "$1" | sort -u
}

# Every command without its path, so that traces of different disks compare.
trace_commands() {
  sed 's/^{"path":"[^"]*",//' "$1"
}

# True when any data-out command went out: WRITE BUFFER or an NVRAM write.
trace_writes() {
  grep -q '"dir":"out"' "$1"
}

# True when an NVRAM write (0xDF with 0xFB in byte 11) went out.
trace_writes_nvram() {
  grep -q '"cdb":"df[0-9a-f]\{20\}fb"' "$1"
}
