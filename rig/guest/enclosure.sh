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

# ---- korvane-fw --trace files -----------------------------------------------------------------
# A header line ({"trace":...}), then one JSON object a line: a command ({"path":...}, with what
# was sent and then what came back), a later listing ({"disks":...}), a mount check
# ({"mounts":...}) and the exit code ({"exit":N}) last. The commands' fields come in a fixed
# order, so plain sed can take them apart.

# The device paths that received a command, once each, as JSON writes them (a backslash or a quote
# comes escaped). The header's and the listings' disks do not count: their lines begin otherwise.
trace_paths() {
  sed -En 's/^[{]"path":"(([^"\\]|\\.)*)".*/\1/p' "$1" | sort -u
}

# What each command sent, one a line: CDB, direction, length, verdict and the data out, without
# the path and the answer, so that traces of different disks, platforms and drivers compare. A
# command line of another shape is kept whole and marked, so that no comparison passes over it.
trace_commands() {
  sed -En '/^[{]"path":/{
    s/^[{]"path":"([^"\\]|\\.)*",("cdb":"[0-9a-f]*","dir":"(in|out)","len":-?[0-9]+,"ok":(true|false)(,"data":"[0-9a-f]*")?)[,}].*/\2/p
    t
    s/^/unreadable command: /p
  }' "$1"
}

# True when any data-out command went out: WRITE BUFFER or an NVRAM write.
trace_writes() {
  trace_commands "$1" | grep -q '"dir":"out"'
}

# True when a WRITE BUFFER (opcode 0x3B) went out: the firmware or the loader was written.
trace_writes_firmware() {
  trace_commands "$1" | grep -q '^"cdb":"3b'
}

# True when an NVRAM write (0xDF with 0xFB in byte 11) went out.
trace_writes_nvram() {
  trace_commands "$1" | grep -q '^"cdb":"df[0-9a-f]\{20\}fb"'
}

# ---- recorded runs, for the host to replay ------------------------------------------------------

# hand_to_host corpus/NAME TRACE STDOUT: gives a recorded run to the host, which replays it.
hand_to_host() {
  rig_guest_out && mkdir -p "$RIG_GUEST_OUT/corpus" ||
    rig_fail "no folder to hand $1 to the host"
  [ ! -e "$RIG_GUEST_OUT/$1.trace" ] || rig_fail "$1 was recorded twice"
  cp "$2" "$RIG_GUEST_OUT/$1.trace" && cp "$3" "$RIG_GUEST_OUT/$1.out" ||
    rig_fail "$1 could not be handed to the host"
}

# record_exit CODE SCENARIO ARG...: `expect_exit CODE korvane-fw ARG...` with the run's trace in
# $RIG_TMP/trace. The trace and the program's standard output as printed go to the host as
# guest-out/corpus/DRIVER-SCENARIO-COMMAND.trace and .out (SCENARIO: a built-in name or a
# scenario file), and the host replays each one after the run.
record_exit() {
  local want=$1 name=${2##*/} command rc=0
  shift 2
  for command in "$@"; do
    case $command in -*) ;; *) break ;; esac
  done
  name=corpus/$RIG_DRIVER-${name%.json}-$command
  echo "+ korvane-fw --trace $RIG_TMP/trace $*"
  korvane-fw --trace "$RIG_TMP/trace" "$@" >"$RIG_TMP/stdout" 2>"$RIG_TMP/stderr" || rc=$?
  cat "$RIG_TMP/stdout" "$RIG_TMP/stderr" >"$RIG_TMP/output"
  cat "$RIG_TMP/output"
  hand_to_host "$name" "$RIG_TMP/trace" "$RIG_TMP/stdout"
  [ "$rc" -eq "$want" ] || rig_fail "'korvane-fw $*' exited with $rc, expected $want"
}

# ---- korvane-gadget --command-times files -------------------------------------------------------
# One line per command as it arrived at the gadget: CLOCK_MONOTONIC seconds, then the CDB in hex.

# write_buffer_gaps FILE: the times, in milliseconds, from one WRITE BUFFER to the next where
# nothing came between them, one a line.
write_buffer_gaps() {
  awk '{ wb = substr($2, 1, 2) == "3b" } wb && last { printf "%.3f\n", ($1 - then) * 1000 }
       { last = wb; then = $1 }' "$1"
}

# median: the median of the numbers on standard input, one a line; non-zero when there are none.
median() {
  sort -n | awk '{ v[NR] = $1 }
    END {
      if (NR == 0) exit 1
      if (NR % 2) printf "%.3f\n", v[(NR + 1) / 2]
      else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2
    }'
}
