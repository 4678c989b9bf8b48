# Sense is served once. A vendor command with an unknown item fails with ILLEGAL REQUEST, invalid
# field in CDB, which sg_raw gets with the failure (usb-storage's automatic REQUEST SENSE, the
# uas sense IU); an explicit REQUEST SENSE (sg_requests) after it, and after a failure followed
# by a TEST UNIT READY that passed (sg_turs), reports no sense.
# drivers: bot uas
# time: 40

start_gadget "$RIG_DRIVER" dummy_udc.0 jms583-outdated || rig_fail "the enclosure did not plug in"
sg=$(sg_of_gadget dummy_udc.0) || rig_fail "no node for the enclosure"

raw_in 5 "$sg" 8 ff 04 99 00 00 00 00 00 00 00 00 00
expect_last "$RIG_INVALID_FIELD"
expect_exit 0 sg_requests --status "$sg"
expect_last 'No Sense'

raw_in 5 "$sg" 8 ff 04 99 00 00 00 00 00 00 00 00 00
expect_last "$RIG_INVALID_FIELD"
expect_exit 0 sg_turs "$sg"
expect_exit 0 sg_requests --status "$sg"
expect_last 'No Sense'
stop_gadget dummy_udc.0 || rig_fail "the enclosure did not unplug"
rig_pass
