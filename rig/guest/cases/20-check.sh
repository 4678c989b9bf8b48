# korvane-fw check gives the verdicts of the built-in scenarios through the real kernel: an
# update is offered to the outdated JMS583 and JMS578, nothing to the current ones. Each check is
# recorded for the host to replay.
# drivers: bot uas
# time: 60

for entry in jms583-outdated:3 jms583-current:0 jms578-outdated:3 jms578-current:0; do
  scenario=${entry%:*}
  start_gadget "$RIG_DRIVER" dummy_udc.0 "$scenario" || rig_fail "$scenario did not plug in"
  sg_of_gadget dummy_udc.0 >/dev/null || rig_fail "no node for $scenario"
  record_exit "${entry#*:}" "$scenario" check
  if [ "${entry#*:}" = 3 ]; then
    expect_last '^An update to .* is offered: run korvane-fw update$'
  else
    expect_last 'No update is offered|up to date'
  fi
  stop_gadget dummy_udc.0 || rig_fail "$scenario did not unplug"
done
rig_pass
