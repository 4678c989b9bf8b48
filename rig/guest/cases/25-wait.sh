# korvane-fw check --wait, started with no enclosure attached, says once that it waits; when the
# gadget is then bound, the kernel's uevents end the wait and the check runs once: the offer,
# exit code 3, and exactly the commands of a plain check of the same enclosure. The run is
# recorded for the host to replay.
# drivers: bot uas
# time: 60

out=$RIG_TMP/wait
echo "+ korvane-fw --trace $out.trace check --wait &"
korvane-fw --trace "$out.trace" check --wait >"$out.stdout" 2>"$out.stderr" &
pid=$!
left=100
until grep -q 'Plug in the enclosure' "$out.stderr"; do
  rig_alive "$pid" && [ "$left" -gt 0 ] || {
    cat "$out.stdout" "$out.stderr"
    rig_fail "korvane-fw did not say that it waits"
  }
  left=$((left - 1))
  usleep 100000
done
start_gadget "$RIG_DRIVER" dummy_udc.0 jms583-outdated || rig_fail "the enclosure did not plug in"
rig_wait_exit "$pid" 20 || {
  kill "$pid"
  rig_fail "korvane-fw still waited 20 s after the plug"
}
rc=0
wait "$pid" || rc=$?
cat "$out.stdout" "$out.stderr"
[ "$rc" -eq 3 ] || rig_fail "check --wait exited with $rc, expected 3"
grep -q '^An update to .* is offered: run korvane-fw update$' "$out.stdout" ||
  rig_fail "check --wait did not offer the update"
[ "$(grep -c 'Plug in the enclosure' "$out.stderr")" -eq 1 ] ||
  rig_fail "the wait was not announced exactly once"
hand_to_host "corpus/$RIG_DRIVER-jms583-outdated-check-wait" "$out.trace" "$out.stdout"

sg_of_gadget dummy_udc.0 >/dev/null || rig_fail "no node for the enclosure"
expect_exit 3 korvane-fw --trace "$RIG_TMP/plain.trace" check
trace_commands "$out.trace" >"$out.commands"
trace_commands "$RIG_TMP/plain.trace" >"$RIG_TMP/plain.commands"
[ -s "$RIG_TMP/plain.commands" ] || rig_fail "the plain check sent nothing"
cmp -s "$out.commands" "$RIG_TMP/plain.commands" || {
  diff "$out.commands" "$RIG_TMP/plain.commands"
  rig_fail "the wait sent other commands than one check (diff above: wait < > plain)"
}
rig_pass
