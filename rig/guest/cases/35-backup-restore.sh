# A backup taken through the kernel puts the enclosure back as it was. An outdated JMS583 is
# backed up, updated and power-cycled: it runs the new firmware under the rewritten identity.
# Its backup written back with the saved NVRAM record and power-cycled again, it runs the old
# firmware, shows its old USB manufacturer, and a second backup reads back the first one, byte
# for byte but for the second block, which the bridge rewrites itself. A JMS578 image and a
# backup cut short are refused before anything is written.
# drivers: bot uas
# time: 60

# JMS583: the 66560-byte firmware area, then the 512-byte NVRAM record.
image_size=67072
firmware_area=66560

# same_but_second_block A B: the two files have the same size and the same bytes, but for those
# at 512 to 1023.
same_but_second_block() {
  [ "$(wc -c <"$1")" -eq "$(wc -c <"$2")" ] || return 1
  head -c 512 "$1" >"$RIG_TMP/first-a" && head -c 512 "$2" >"$RIG_TMP/first-b" &&
    tail -c +1025 "$1" >"$RIG_TMP/rest-a" && tail -c +1025 "$2" >"$RIG_TMP/rest-b" &&
    cmp "$RIG_TMP/first-a" "$RIG_TMP/first-b" && cmp "$RIG_TMP/rest-a" "$RIG_TMP/rest-b"
}

# refused_unwritten NAME FILE: update --image FILE exits 2 with the refusal, and its trace shows
# the enclosure identified and nothing sent to it with data, no WRITE BUFFER above all. Any
# version is allowed: only the file's own judgement may refuse it.
refused_unwritten() {
  local trace=$RIG_TMP/$1.trace
  expect_exit 2 korvane-fw --trace "$trace" update --image "$2" --yes --allow-older \
    --allow-reinstall
  expect_last '^korvane-fw: Refused: '
  expect_last '^korvane-fw: Nothing was written\.$'
  [ -n "$(trace_commands "$trace")" ] || rig_fail "$1: the trace holds no command"
  ! trace_writes_firmware "$trace" || rig_fail "$1: a WRITE BUFFER went out"
  ! trace_writes "$trace" || rig_fail "$1: a command with data went out"
}

# runs VERSION: after a power cycle the bridge runs VERSION, as korvane-fw and USB tell.
runs() {
  sg=$(sg_of_gadget dummy_udc.0) || rig_fail "no node for the enclosure"
  expect_exit 0 korvane-fw list
  expect_last "\| firmware $(echo "$1" | sed 's/\./\\./g')(, release [^|]+)? \| $sg\$"
  usb=$(usb_device_of_sg "$sg") || rig_fail "no USB device above $sg"
  [ "$(cat "$usb/bcdDevice")" = "$(bcd_of "$1")" ] ||
    rig_fail "bcdDevice is $(cat "$usb/bcdDevice"), not that of $1"
}

start_gadget "$RIG_DRIVER" dummy_udc.0 jms583-outdated || rig_fail "the enclosure did not plug in"
runs 0.0.0.8
maker=$(cat "$usb/manufacturer")
before=$RIG_TMP/before.bin
expect_exit 0 korvane-fw backup --output "$before"
expect_last "^Backup written to $before\$"
[ "$(wc -c <"$before")" -eq "$image_size" ] || rig_fail "the backup holds $(wc -c <"$before") bytes"
[ -s "$before.json" ] || rig_fail "no record beside the backup"

refused_unwritten wrong-chip /rig/images/JMS578_FW.bin
expect_last 'is an image for a JMS578'
head -c "$firmware_area" "$before" >"$RIG_TMP/short.bin"
refused_unwritten short "$RIG_TMP/short.bin"
expect_last "the image has $firmware_area bytes"

# The update's own backup goes to the case's state folder and holds what the first one does.
expect_exit 0 korvane-fw update --yes
expect_last '^Update complete$'
kept=$(sed -n 's/^Backup written to //p' "$RIG_TMP/output")
case $kept in
"$XDG_STATE_HOME"/korvane/backups/JMS583-0.0.0.8-*.bin) ;;
*) rig_fail "the update's backup went to '$kept', not to the state folder $XDG_STATE_HOME" ;;
esac
cmp "$before" "$kept" || rig_fail "the update's backup differs from the one taken before it"
replug_gadget dummy_udc.0 || rig_fail "the enclosure did not come back after the update"
runs 0.0.1.2
[ "$(cat "$usb/manufacturer")" != "$maker" ] ||
  rig_fail "the USB manufacturer still reads '$maker' after the identity rewrite"

expect_exit 0 korvane-fw update --image "$before" --yes --allow-older --restore-nvram
expect_last '^Update complete$'
replug_gadget dummy_udc.0 || rig_fail "the enclosure did not come back after the restore"
runs 0.0.0.8
[ "$(cat "$usb/manufacturer")" = "$maker" ] ||
  rig_fail "the USB manufacturer reads '$(cat "$usb/manufacturer")', not '$maker' as before"
expect_exit 0 korvane-fw backup --output "$RIG_TMP/after.bin"
same_but_second_block "$before" "$RIG_TMP/after.bin" ||
  rig_fail "the flash and the NVRAM record read back otherwise than before the update"
stop_gadget dummy_udc.0 || rig_fail "the enclosure did not unplug"
rig_pass
