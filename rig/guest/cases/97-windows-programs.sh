# korvane-fw.exe under Wine finds the enclosure through SetupAPI, opens it with CreateFileA and
# sends every command as SCSI_PASS_THROUGH_DIRECT, which Wine turns into SG_IO on the disk's
# node. On a fresh enclosure of the same scenario each time, list, check and update --yes give
# the Linux korvane-fw's exit codes and words, and its trace command for command: on
# usb-storage for a JMS583 that is busy after power-on and is updated, on uas for a JMS578 that
# refuses its NVRAM write, where the words carry the sense data the bridge gave. After the
# replug the bridge runs the new firmware and the Windows program offers nothing more.
# drivers: bot uas
# needs: wine
# time: 240

# korvane_fw_on SIDE ARG...: the Linux program (linux) or the Windows one under Wine (windows).
korvane_fw_on() {
  local side=$1
  shift
  if [ "$side" = linux ]; then korvane-fw "$@"; else win korvane-fw.exe "$@"; fi
}

# run_side SIDE NAME ARG...: one run, kept as SIDE-NAME.rc, .out (with the device's path as
# DEVICE, the path of the update's backup as BACKUP, and no carriage returns) and .trace (its
# commands only).
run_side() {
  local side=$1 name=$2 base rc=0
  shift 2
  base=$RIG_TMP/$side-$name
  echo "+ $side: $*"
  korvane_fw_on "$side" --trace "$base.trace.raw" "$@" >"$base.raw" 2>&1 || rc=$?
  cat "$base.raw"
  echo "$rc" >"$base.rc"
  DEVICE=$device awk '{ sub(/\r$/, ""); while ((i = index($0, ENVIRON["DEVICE"])) > 0)
    $0 = substr($0, 1, i - 1) "DEVICE" substr($0, i + length(ENVIRON["DEVICE"])); print }' \
    "$base.raw" | sed 's/^Backup written to .*/Backup written to BACKUP/' >"$base.out"
  tr -d '\r' <"$base.trace.raw" >"$base.trace.lines"
  trace_commands "$base.trace.lines" >"$base.trace"
}

# run_three SIDE SCENARIO: the three commands, on a fresh enclosure.
run_three() {
  local side=$1 scenario=$2
  start_gadget "$RIG_DRIVER" dummy_udc.0 "$scenario" || rig_fail "the enclosure did not plug in"
  sg=$(sg_of_gadget dummy_udc.0) || rig_fail "no node for the enclosure"
  device=$sg
  [ "$side" = linux ] || device=$(wine_register_disk "$RIG_DRIVER" "$sg") ||
    rig_fail "the disk could not be made known to Wine"
  run_side "$side" list list
  run_side "$side" check check
  run_side "$side" update update --yes
}

same_on_both() {
  local what
  for what in "$1.rc" "$1.out" "$1.trace"; do
    cmp -s "$RIG_TMP/linux-$what" "$RIG_TMP/windows-$what" && continue
    diff "$RIG_TMP/linux-$what" "$RIG_TMP/windows-$what" | head -n 8 | cut -c1-160
    rig_fail "korvane-fw.exe $1 differs from korvane-fw $1 in its ${what#*.}"
  done
}

# both_sides SCENARIO: the three commands from each side, and the comparison.
both_sides() {
  run_three linux "$1"
  stop_gadget dummy_udc.0 || rig_fail "the enclosure did not unplug"
  run_three windows "$1"
  for name in list check update; do same_on_both "$name"; done
}

# The backup each side's update made first: where its platform keeps a user's state, and the
# same bytes on both.
same_backups() {
  local linux windows
  linux=$(sed -n 's/^Backup written to //p' "$RIG_TMP/linux-update.raw")
  windows=$(tr -d '\r' <"$RIG_TMP/windows-update.raw" | sed -n 's/^Backup written to //p')
  case $linux in
  "$XDG_STATE_HOME"/korvane/backups/*.bin) ;;
  *) rig_fail "korvane-fw's backup went to '$linux', not to $XDG_STATE_HOME/korvane/backups" ;;
  esac
  case $windows in
  'C:\users\'*'\AppData\Local\Korvane\Backups\'*.bin) ;;
  *) rig_fail "korvane-fw.exe's backup went to '$windows', not to %LOCALAPPDATA%\\Korvane\\Backups" ;;
  esac
  cmp "$linux" "$(wine_unix_path "$windows")" ||
    rig_fail "korvane-fw.exe's backup differs from korvane-fw's"
}

case $RIG_DRIVER in
bot)
  scenario=/rig/scenarios/jms583-busy.json
  outcome='^Update complete$'
  ;;
*)
  scenario=/rig/scenarios/jms578-nvram-refused.json
  outcome='^korvane-fw: Reason: the device rejected command 0xdf \(SCSI status 0x02\): ILLEGAL REQUEST'
  ;;
esac

wine_ready || rig_fail "Wine did not start"
both_sides "$scenario"
same_backups
grep -Eq "$outcome" "$RIG_TMP/windows-update.out" || rig_fail "the update did not end with /$outcome/"
[ "$(wc -l <"$RIG_TMP/windows-update.trace")" -gt 100 ] || rig_fail "the update's trace is short"

replug_gadget dummy_udc.0 || rig_fail "the enclosure did not come back after the replug"
sg=$(sg_of_gadget dummy_udc.0) || rig_fail "no node after the replug"
wine_relink_disk "$RIG_DRIVER" "$sg" || rig_fail "the disk's name could not follow its new node"
expect_exit 0 win korvane-fw.exe check
expect_last 'No update is offered|up to date'
rig_pass
