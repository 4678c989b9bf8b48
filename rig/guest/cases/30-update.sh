# korvane-fw update --yes writes, verifies and rewrites the NVRAM identity of a JMS583 and of a
# JMS578. After the power cycle the bridge runs the new firmware, reports it to USB, presents the
# rewritten identity as its USB manufacturer, and the check offers nothing. The updates are
# recorded for the host to replay.
# drivers: bot uas
# time: 120

for entry in jms583-outdated:0.0.1.2 jms578-outdated:0.2.1.4; do
  scenario=${entry%:*}
  version=${entry#*:}
  start_gadget "$RIG_DRIVER" dummy_udc.0 "$scenario" || rig_fail "$scenario did not plug in"
  sg_of_gadget dummy_udc.0 >/dev/null || rig_fail "no node for $scenario"
  record_exit 0 "$scenario" update --yes
  expect_last '^Update complete$'
  replug_gadget dummy_udc.0 || rig_fail "$scenario did not come back after the replug"
  sg=$(sg_of_gadget dummy_udc.0) || rig_fail "no node after the replug"
  expect_exit 0 korvane-fw check
  expect_last 'No update is offered|up to date'
  expect_exit 0 korvane-fw list
  expect_last "\| firmware $(echo "$version" | sed 's/\./\\./g')(, release [^|]+)? \| $sg\$"
  usb=$(usb_device_of_sg "$sg") || rig_fail "no USB device above $sg"
  [ "$(cat "$usb/manufacturer")" = Korvane ] ||
    rig_fail "the USB manufacturer reads '$(cat "$usb/manufacturer")', not the rewritten 'Korvane'"
  [ "$(cat "$usb/bcdDevice")" = "$(bcd_of "$version")" ] ||
    rig_fail "bcdDevice is $(cat "$usb/bcdDevice"), not that of $version"
  stop_gadget dummy_udc.0 || rig_fail "$scenario did not unplug"
done
rig_pass
