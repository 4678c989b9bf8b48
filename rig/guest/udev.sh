# udev's own rule engine over the guest's real devices, beside the runner's lib.sh.
# shellcheck shell=dash
#
# The guest runs no udevd. `udevadm test SYSPATH` (this machine's udevadm, which
# scripts/kernel-rig.sh puts in the base image) runs every rule file for that device's "add"
# event as udevd would, and prints the properties the device ends with, one KEY=VALUE a line on
# standard output (TAGS=:a:b: among them); its log, rule files read and complaints included, goes
# to standard error.

# The package's rule, where the package installs it; scripts/kernel-rig.sh puts it there.
RIG_UDEV_RULE=/usr/lib/udev/rules.d/70-korvane-update-tool.rules

# udev_test SYSPATH [--without-rule]: `udevadm test` of SYSPATH's add event. The properties go
# to $RIG_TMP/udev.out, the log to $RIG_TMP/udev.log; non-zero when udevadm fails or printed the
# properties of another device than SYSPATH. It runs in a mount namespace of its own on an empty
# /run, where it writes its database; --without-rule lays an empty folder over the rule's. Like
# udevd it links /dev/char/MAJOR:MINOR or /dev/block/MAJOR:MINOR to the node: the guest has no
# such folders, and they go again.
udev_test() {
  local syspath=$1 without=0 devpath new_links="" d rc=0
  [ "${2:-}" != --without-rule ] || without=1
  devpath=$(readlink -f "$syspath") && [ -d "$devpath" ] || {
    echo "no device at $syspath" >&2
    return 1
  }
  for d in /dev/char /dev/block; do
    [ -e "$d" ] || new_links="$new_links $d"
  done
  echo "+ udevadm test $syspath${2:+ $2}"
  unshare -m --propagation private sh -c '
    mount -t tmpfs none /run || exit 1
    [ "$1" = 0 ] || mount -t tmpfs none "$2" || exit 1
    exec udevadm test "$0"' "$syspath" "$without" "${RIG_UDEV_RULE%/*}" \
    >"$RIG_TMP/udev.out" 2>"$RIG_TMP/udev.log" || rc=$?
  # shellcheck disable=SC2086
  [ -z "$new_links" ] || rm -rf $new_links
  grep -E '^(DEVPATH|SUBSYSTEM|TAGS|CURRENT_TAGS)=' "$RIG_TMP/udev.out"
  if [ "$rc" -ne 0 ]; then
    echo "udevadm test $syspath exited with $rc; the end of its log:" >&2
    tail -n 15 "$RIG_TMP/udev.log" >&2
    return 1
  fi
  # A run that printed no properties, or another device's, must not read as "no tag".
  grep -qx "DEVPATH=${devpath#/sys}" "$RIG_TMP/udev.out" || {
    echo "udevadm test $syspath printed no DEVPATH=${devpath#/sys}; its output:" >&2
    cat "$RIG_TMP/udev.out" >&2
    return 1
  }
}

# True when the last udev_test read the package's rule.
udev_read_rule() {
  grep -qxF "Reading rules file: $RIG_UDEV_RULE" "$RIG_TMP/udev.log"
}

# udev_has_tag PROPERTY TAG: true when the last udev_test's PROPERTY (TAGS or CURRENT_TAGS, a
# list written :a:b:) holds TAG. A device without tags has no such line.
udev_has_tag() {
  sed -n "s/^$1=//p" "$RIG_TMP/udev.out" | tr ':' '\n' | grep -qxF "$2"
}

# expect_udev_tag SYSPATH TAG yes|no: with the package's rule, udevadm test of SYSPATH reads that
# rule without a complaint about any of its lines, and the device ends with TAG in both TAGS and
# CURRENT_TAGS (yes) or in neither (no).
expect_udev_tag() {
  local syspath=$1 tag=$2 want=$3 property
  udev_test "$syspath" || rig_fail "udevadm test of $syspath failed"
  udev_read_rule || rig_fail "udevadm test of $syspath never read $RIG_UDEV_RULE"
  ! grep -F "$RIG_UDEV_RULE:" "$RIG_TMP/udev.log" ||
    rig_fail "udevadm complained about $RIG_UDEV_RULE (above)"
  for property in TAGS CURRENT_TAGS; do
    if udev_has_tag "$property" "$tag"; then
      [ "$want" = yes ] || rig_fail "$syspath: $property has $tag"
    else
      [ "$want" = no ] || rig_fail "$syspath: $property lacks $tag"
    fi
  done
}

# The block devices of the disk behind /dev/sgN, as /sys/class/block paths: the disk and each of
# its partitions.
block_syspaths_of_sg() {
  local disk part
  for disk in "/sys/class/scsi_generic/${1##*/}/device/block"/*; do
    [ -e "$disk/dev" ] || continue
    echo "/sys/class/block/${disk##*/}"
    for part in "$disk/${disk##*/}"*; do
      if [ -e "$part/partition" ]; then echo "/sys/class/block/${part##*/}"; fi
    done
  done
}
