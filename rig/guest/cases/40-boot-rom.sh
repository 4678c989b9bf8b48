# A JMS583 that runs its boot ROM is offered the update, written through the loader, and runs its
# firmware after the power cycle. The update is recorded for the host to replay.
# drivers: bot uas
# time: 60

start_gadget "$RIG_DRIVER" dummy_udc.0 jms583-rom || rig_fail "the enclosure did not plug in"
sg=$(sg_of_gadget dummy_udc.0) || rig_fail "no node for the enclosure"
[ "$(cat "$(usb_device_of_sg "$sg")/bcdDevice")" = 0000 ] || rig_fail "the boot ROM reports a version"
expect_exit 0 korvane-fw list
expect_last '\| boot ROM running, no firmware \|'
expect_exit 3 korvane-fw check
record_exit 0 jms583-rom update --yes
expect_last '^Update complete$'
replug_gadget dummy_udc.0 || rig_fail "no disk after the replug"
sg=$(sg_of_gadget dummy_udc.0) || rig_fail "no node after the replug"
expect_exit 0 korvane-fw list
expect_last "\| firmware 0\.0\.1\.2(, release [^|]+)? \| $sg\$"
expect_exit 0 korvane-fw check
rig_pass
