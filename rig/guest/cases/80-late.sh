# A bridge that answers after the host has given up: the kernel's time-out and reset are reported
# as a failure with its reason, nothing is reported as done, and the next run works.
# drivers: bot uas
# time: 90

start_gadget "$RIG_DRIVER" dummy_udc.0 /rig/scenarios/jms583-late.json ||
  rig_fail "the enclosure did not plug in"
sg_of_gadget dummy_udc.0 >/dev/null || rig_fail "no node for the enclosure"
expect_exit 5 korvane-fw check
expect_last 'time-out'
expect_last '^The check could not decide'
expect_exit 3 korvane-fw check
expect_exit 0 korvane-fw update --yes
expect_last '^Update complete$'
rig_pass
