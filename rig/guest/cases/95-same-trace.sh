# The kernel path changes no command: the trace of an update through usb-storage or uas equals,
# command for command (CDB, direction, length, data sent, verdict), that of the same scenario on
# the in-process simulated bridge. The bridge is busy for its first status reads after power-on
# and spends 2 ms on each command, in real time here.
# drivers: bot uas
# time: 60

scenario=/rig/scenarios/jms583-busy.json
start_gadget "$RIG_DRIVER" dummy_udc.0 "$scenario" || rig_fail "the enclosure did not plug in"
sg_of_gadget dummy_udc.0 >/dev/null || rig_fail "no node for the enclosure"
expect_exit 0 korvane-fw --trace "$RIG_TMP/kernel" update --yes
expect_exit 0 korvane-fw --simulate "$scenario" --trace "$RIG_TMP/simulated" update --yes
trace_commands "$RIG_TMP/kernel" >"$RIG_TMP/kernel.commands"
trace_commands "$RIG_TMP/simulated" >"$RIG_TMP/simulated.commands"
echo "$(wc -l <"$RIG_TMP/kernel.commands") commands through the kernel"
grep -c '"cdb":"ff0412' "$RIG_TMP/kernel.commands" | sed 's/$/ status reads/'
[ -s "$RIG_TMP/kernel.commands" ] || rig_fail "the trace is empty"
cmp "$RIG_TMP/kernel.commands" "$RIG_TMP/simulated.commands" || {
  diff "$RIG_TMP/kernel.commands" "$RIG_TMP/simulated.commands" | head -n 6 | cut -c1-160
  rig_fail "the traces differ"
}
rig_pass
