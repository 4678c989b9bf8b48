# The plug is pulled under the window: the gadget unbinds at the 20th WRITE BUFFER of the
# update KorvaneUpdateTool.exe started on a click. The window ends with "Update Fail" and the
# cross, no NVRAM write reached the bridge, and the window closes cleanly. After the power cycle
# the JMS583 runs its boot ROM, as a half-written flash leaves it.
# drivers: bot uas
# needs: wine
# time: 240

offer="Click here to download and update the Korvane NVMe Bridge 234.01.00.02"

start_gadget "$RIG_DRIVER" dummy_udc.0 /rig/scenarios/jms583-unplug.json --verbose ||
  rig_fail "the JMS583 did not plug in"
sg=$(sg_of_gadget dummy_udc.0) || rig_fail "no node for the JMS583"
wine_register_disk "$RIG_DRIVER" "$sg" >/dev/null || rig_fail "the disk could not be made known to Wine"
start_window
point=$(probe wait-status "$offer" 120000 -- status-point) ||
  rig_fail "the window did not offer the update"
# shellcheck disable=SC2086  # "X Y" are two arguments
wine_click $point || rig_fail "the status text could not be clicked"
probe wait-status "Update Fail" 120000 -- expect Image3 text=CROSS -- close ||
  rig_fail "the window did not report the failed update with the cross"
window_ends_cleanly
rig_wait_no_sg dummy_udc.0 5 || rig_fail "the disk is still there after the unplug"
! grep -Eq 'bridge DF( ..){10} FB' "$RIG_TMP/gadget-dummy_udc.0.log" ||
  rig_fail "the NVRAM was written after the write failed"
grep -q 'bridge 3B' "$RIG_TMP/gadget-dummy_udc.0.log" || rig_fail "no firmware write reached the bridge"

replug_gadget dummy_udc.0 || rig_fail "the JMS583 did not come back after the replug"
expect_exit 0 korvane-fw list
expect_last '\| boot ROM running, no firmware \|'
rig_pass
