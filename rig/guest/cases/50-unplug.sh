# The plug is pulled in the middle of the firmware write (the gadget unbinds at the 20th WRITE
# BUFFER). korvane-fw says the update failed because the enclosure went away, exits 5 and writes
# no NVRAM. After the power cycle the JMS583 runs its boot ROM and a second update recovers it;
# a JMS578 left that way is refused with what happened. The interrupted updates are recorded for
# the host to replay.
# drivers: bot uas
# time: 120

start_gadget "$RIG_DRIVER" dummy_udc.0 /rig/scenarios/jms583-unplug.json ||
  rig_fail "the JMS583 did not plug in"
sg_of_gadget dummy_udc.0 >/dev/null || rig_fail "no node for the JMS583"
record_exit 5 jms583-unplug update --yes
expect_last '^korvane-fw: Update Fail$'
expect_last 'went away|no longer attached'
! trace_writes_nvram "$RIG_TMP/trace" || rig_fail "the NVRAM was written after a failed write"
rig_wait_no_sg dummy_udc.0 5 || rig_fail "the disk is still there after the unplug"
replug_gadget dummy_udc.0 || rig_fail "no disk after the replug"
expect_exit 0 korvane-fw list
expect_last '\| boot ROM running, no firmware \|'
expect_exit 0 korvane-fw update --yes
expect_last '^Update complete$'
replug_gadget dummy_udc.0 || rig_fail "no disk after the second replug"
expect_exit 0 korvane-fw check
stop_gadget dummy_udc.0 || rig_fail "the JMS583 did not unplug"

start_gadget "$RIG_DRIVER" dummy_udc.0 /rig/scenarios/jms578-unplug.json ||
  rig_fail "the JMS578 did not plug in"
sg_of_gadget dummy_udc.0 >/dev/null || rig_fail "no node for the JMS578"
record_exit 5 jms578-unplug update --yes
! trace_writes_nvram "$RIG_TMP/trace" || rig_fail "the NVRAM was written after a failed write"
replug_gadget dummy_udc.0 || rig_fail "no JMS578 after the replug"
expect_exit 5 korvane-fw update --yes
expect_last 'boot ROM: its flash holds no complete firmware, as after an interrupted update'
expect_last '^Nothing was written'
rig_pass
