# The kernel path changes no command: the trace of an update through usb-storage or uas equals,
# command for command (CDB, direction, length, data sent, verdict), that of the same scenario on
# the in-process simulated bridge.
# drivers: bot uas
# time: 60

start_gadget "$RIG_DRIVER" dummy_udc.0 jms583-outdated || rig_fail "the enclosure did not plug in"
sg_of_gadget dummy_udc.0 >/dev/null || rig_fail "no node for the enclosure"
expect_exit 0 korvane-fw --trace "$RIG_TMP/kernel" update --yes
expect_exit 0 korvane-fw --simulate jms583-outdated --trace "$RIG_TMP/simulated" update --yes
trace_commands "$RIG_TMP/kernel" >"$RIG_TMP/kernel.commands"
trace_commands "$RIG_TMP/simulated" >"$RIG_TMP/simulated.commands"
echo "$(wc -l <"$RIG_TMP/kernel.commands") commands through the kernel"
[ -s "$RIG_TMP/kernel.commands" ] || rig_fail "the trace is empty"
cmp "$RIG_TMP/kernel.commands" "$RIG_TMP/simulated.commands" || {
  diff "$RIG_TMP/kernel.commands" "$RIG_TMP/simulated.commands" | head -n 6 | cut -c1-160
  rig_fail "the traces differ"
}
rig_pass
