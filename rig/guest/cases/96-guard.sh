# The normal build carries development images and refuses to write them to the gadget, which is
# a real device to it: the refusal comes before any WRITE BUFFER, with its message.
# drivers: bot uas
# time: 40

start_gadget "$RIG_DRIVER" dummy_udc.0 jms583-outdated || rig_fail "the enclosure did not plug in"
sg_of_gadget dummy_udc.0 >/dev/null || rig_fail "no node for the enclosure"
expect_exit 5 korvane-fw-devimages --trace "$RIG_TMP/trace" update --yes
expect_last 'development firmware images'
! trace_writes "$RIG_TMP/trace" || rig_fail "a write command went out before the refusal"
rig_pass
