# The plug pulled at one position after another of an update of an outdated JMS583 and JMS578
# (the gadget unbinds at the nth command of one operation): in the backup's reads, at the identity
# read before the write, in the write, in the read-back and around the NVRAM record. Each cut run
# fails with exit 5 and never says "Update complete"; it sends nothing to be written before the
# write and no NVRAM record after a cut firmware write; its history event is a failure and names
# only the backup it said it wrote, which exists with its record. After the power cycle a second
# update recovers the enclosure: it completes where the flash still held the old firmware and,
# through the loader, where a JMS583 runs its boot ROM; it offers nothing where the flash already
# held the new image; on a JMS578 left in its boot ROM it says why it cannot.
# By default a few positions are cut (the backup, the write, the NVRAM write); with the kernel rig's
# --full-sweep (RIG_FULL_SWEEP=1) every position below.
# drivers: bot uas
# time: 60
# sweep-time: 300

# CHIP OPERATION NTH SENT AFTER, one a line: the command cut (the NTH of its OPERATION since the
# plug-in, a name of the scenario's faults), what the run has sent to be written by then (none;
# firmware; nvram: the NVRAM record too) and what the bridge boots at the replug (old: the firmware
# it ran; rom: its boot ROM, the flash holding part of the image; new: the image written).
# An update of the JMS583 sends READ BUFFER 1-66 and 67-132 (the backup, read twice: the buffer
# descriptor, then 65 blocks) with the NVRAM record's reads 2 and 3, identity read 4, READ BUFFER
# 133 (the write's descriptor), WRITE BUFFER 1-65, READ BUFFER 134-199 (the read-back), NVRAM read
# 4, the NVRAM write and NVRAM read 5, its check. The JMS578 the same with 49 blocks (READ BUFFER
# 1-100, 101, 102-151) and two identity reads more before (the backup's is 5, the write's 6). A
# cut WRITE BUFFER stores nothing: the first leaves the old firmware whole.
sweep_positions() {
  if [ "${RIG_FULL_SWEEP:-0}" = 1 ]; then
    sweep_all_positions
    return
  fi
  cat <<'EOF'
jms583 ReadBuffer 40 none old
jms583 WriteBuffer 33 firmware rom
jms583 WriteNvram 1 nvram new
jms578 WriteBuffer 25 firmware rom
EOF
}

sweep_all_positions() {
  cat <<'EOF'
jms583 ReadBuffer 1 none old
jms583 ReadBuffer 40 none old
jms583 ReadNvram 2 none old
jms583 ReadBuffer 100 none old
jms583 ReadBuffer 132 none old
jms583 ReadNvram 3 none old
jms583 ReadIdentity 4 none old
jms583 ReadBuffer 133 none old
jms583 WriteBuffer 1 firmware old
jms583 WriteBuffer 33 firmware rom
jms583 WriteBuffer 65 firmware rom
jms583 ReadBuffer 134 firmware new
jms583 ReadBuffer 199 firmware new
jms583 ReadNvram 4 firmware new
jms583 WriteNvram 1 nvram new
jms583 ReadNvram 5 nvram new
jms578 ReadBuffer 25 none old
jms578 WriteBuffer 2 firmware rom
jms578 WriteBuffer 25 firmware rom
jms578 ReadBuffer 120 firmware new
jms578 WriteNvram 1 nvram new
EOF
}

# sweep_scenario CHIP OPERATION NTH: the outdated enclosure that vanishes at that command.
sweep_scenario() {
  local firmware=0.0.0.8 product="NVMe Enclosure  "
  [ "$1" = jms583 ] || {
    firmware=0.1.0.3
    product="SATA Enclosure  "
  }
  cat <<EOF
{"disks": [
  {"path": "usbstor#disk&ven_korvane&prod_$1-sweep", "bridge": "$1", "firmware": "$firmware",
   "inquiry": {"vendor": "Korvane ", "product": "$product"},
   "faults": [{"command": "$2", "nth": $3, "effect": "vanish"}]}
]}
EOF
}

# sweep_cut_run SENT: the update that is cut; its exit code goes to SWEEP_CODES.
sweep_cut_run() {
  local rc=0
  rig_capture korvane-fw --trace "$RIG_TMP/trace" update --yes || rc=$?
  SWEEP_CODES="$SWEEP_CODES $rc"
  ! grep -q '^Update complete$' "$RIG_TMP/output" ||
    rig_fail "$SWEEP_AT: the cut update says it completed"
  [ "$rc" -eq 5 ] || rig_fail "$SWEEP_AT: the cut update exited with $rc, expected 5"
  case $1 in
  none)
    ! trace_writes "$RIG_TMP/trace" || rig_fail "$SWEEP_AT: a write went out before the write"
    ;;
  firmware)
    ! trace_writes_nvram "$RIG_TMP/trace" ||
      rig_fail "$SWEEP_AT: the NVRAM record was written after the firmware write was cut"
    ;;
  esac
}

# sweep_check_history SENT: the cut run's history event, the only one in this state folder, is a
# failure, and the backup it names is the one the run said it wrote, there with its record. A
# run that sent a write must have backed up first.
sweep_check_history() {
  local history=$RIG_TMP/history.json events result backup said
  korvane-fw --json history >"$history" 2>&1 || rig_fail "$SWEEP_AT: korvane-fw history failed"
  events=$(grep -c '^      "event": ' "$history")
  [ "$events" -eq 1 ] || rig_fail "$SWEEP_AT: the cut update left $events history events, not 1"
  result=$(sed -n 's/^      "result": "\([^"]*\)".*/\1/p' "$history")
  [ "$result" = fail ] || rig_fail "$SWEEP_AT: the history says the cut update ended '$result'"
  backup=$(sed -n 's/^      "backup": "\([^"]*\)".*/\1/p' "$history")
  said=$(sed -n 's/^Backup written to //p' "$RIG_TMP/output")
  [ "$backup" = "$said" ] ||
    rig_fail "$SWEEP_AT: the history names the backup '$backup', the run said '$said'"
  [ -z "$backup" ] || { [ -s "$backup" ] && [ -s "$backup.json" ]; } ||
    rig_fail "$SWEEP_AT: the backup $backup or its record is missing"
  [ "$1" = none ] || [ -n "$backup" ] || rig_fail "$SWEEP_AT: a write went out with no backup"
}

# sweep_recover CHIP AFTER: the update after the power cycle.
sweep_recover() {
  case $2 in
  old)
    expect_exit 0 korvane-fw update --yes
    expect_last '^Update complete$'
    ;;
  new)
    expect_exit 0 korvane-fw update --yes
    expect_last 'up to date'
    ;;
  rom) sweep_recover_boot_rom "$1" ;;
  esac
}

# A JMS583 in its boot ROM takes the firmware through the loader; this tool writes no JMS578 so.
sweep_recover_boot_rom() {
  if [ "$1" = jms583 ]; then
    expect_exit 0 korvane-fw list
    expect_last '\| boot ROM running, no firmware \|'
    expect_exit 0 korvane-fw update --yes
    expect_last '^Update complete$'
    return
  fi
  expect_exit 5 korvane-fw update --yes
  expect_last 'boot ROM: its flash holds no complete firmware, as after an interrupted update'
  expect_last '^Nothing was written'
}

# sweep_cut CHIP OPERATION NTH SENT AFTER: one position, on a fresh gadget and state folder.
sweep_cut() {
  local scenario=$RIG_TMP/$1-sweep.json
  SWEEP_AT="$1 cut at $2 $3"
  echo "== $SWEEP_AT"
  sweep_scenario "$1" "$2" "$3" >"$scenario"
  rm -rf "$XDG_STATE_HOME"
  start_gadget "$RIG_DRIVER" dummy_udc.0 "$scenario" || rig_fail "$SWEEP_AT: no plug-in"
  sg_of_gadget dummy_udc.0 >/dev/null || rig_fail "$SWEEP_AT: no node"
  sweep_cut_run "$4"
  sweep_check_history "$4"
  rig_wait_no_sg dummy_udc.0 5 || rig_fail "$SWEEP_AT: the disk is still there after the cut"
  replug_gadget dummy_udc.0 || rig_fail "$SWEEP_AT: no disk after the replug"
  sweep_recover "$1" "$5"
  stop_gadget dummy_udc.0 || rig_fail "$SWEEP_AT: the gadget did not unplug"
}

# "5×3 0×1": how many cut runs ended with each exit code, the commonest first.
sweep_code_counts() {
  echo "$SWEEP_CODES" | tr ' ' '\n' | grep . | sort -n | uniq -c | sort -k1,1nr -k2,2n |
    awk '{ printf "%s%s×%s", (NR > 1 ? " " : ""), $2, $1 }'
}

SWEEP_CODES=
positions=0
# The list on descriptor 3, so that nothing the cuts run can read it.
while read -r chip operation nth sent after <&3; do
  sweep_cut "$chip" "$operation" "$nth" "$sent" "$after"
  positions=$((positions + 1))
done 3<<EOF
$(sweep_positions)
EOF
rig_say "rig: sweep [$RIG_DRIVER] $positions positions, exit codes: $(sweep_code_counts)"
rig_pass
