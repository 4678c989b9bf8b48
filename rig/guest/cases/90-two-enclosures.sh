# Two enclosures on two gadget controllers, one on usb-storage and one on uas: check reports
# "multiple" and writes to neither. The check is recorded for the host to replay.
# drivers: mixed
# time: 40

start_gadget bot dummy_udc.0 jms583-outdated || rig_fail "the first enclosure did not plug in"
start_gadget uas dummy_udc.1 jms578-outdated || rig_fail "the second enclosure did not plug in"
sg_of_gadget dummy_udc.0 >/dev/null || rig_fail "no node for the first enclosure"
sg_of_gadget dummy_udc.1 >/dev/null || rig_fail "no node for the second enclosure"
record_exit 4 two-enclosures check
expect_last '^Several enclosures are attached:$'
expect_last '^  <<USB>> Korvane NVMe Enclosure'
expect_last '^  <<UASP>> Korvane SATA Enclosure'
expect_exit 4 korvane-fw --json update --yes
expect_last '"verdict": "multiple"'
! trace_writes "$RIG_TMP/trace" || rig_fail "a write command went out"
rig_pass
