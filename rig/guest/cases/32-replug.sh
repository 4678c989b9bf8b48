# korvane-fw update --replug waits for the enclosure to be unplugged and plugged in again after
# the update, and reports what it then runs: the version written (exit 0); its boot ROM, for a
# gadget whose first power cycle after the update does not start the new firmware (exit 8), after
# which the recovery it names, a second update, brings the firmware up; and an enclosure that is
# not replugged within the wait (exit 10).
# drivers: bot uas
# time: 150

# update_in_background ARGS...: korvane-fw update --yes --replug ARGS in the background, once it
# has said to replug; its pid in $fw.
update_in_background() {
  echo "+ korvane-fw update --yes --replug $* &"
  # Emptied here, before the start: the child's own redirection empties them only once it runs,
  # and the wait below would otherwise find the last run's request to replug and replug the
  # enclosure under the new run.
  : >"$RIG_TMP/stdout"
  : >"$RIG_TMP/stderr"
  korvane-fw update --yes --replug "$@" >"$RIG_TMP/stdout" 2>"$RIG_TMP/stderr" &
  fw=$!
  local left=600
  until grep -q 'Unplug the enclosure and plug it in again' "$RIG_TMP/stderr"; do
    rig_alive "$fw" || {
      cat "$RIG_TMP/stdout" "$RIG_TMP/stderr"
      rig_fail "the update ended before it asked for the replug"
    }
    [ "$left" -gt 0 ] || rig_fail "the update did not ask for the replug within 60 s"
    left=$((left - 1))
    usleep 100000
  done
}

# update_ends CODE: the background update ends with CODE; its output in $RIG_TMP/output.
update_ends() {
  local rc=0
  rig_wait_exit "$fw" 90 || rig_fail "the update did not end within 90 s of the replug"
  wait "$fw" || rc=$?
  cat "$RIG_TMP/stdout" "$RIG_TMP/stderr" >"$RIG_TMP/output"
  cat "$RIG_TMP/output"
  [ "$rc" -eq "$1" ] || rig_fail "the update exited with $rc, expected $1"
}

start_gadget "$RIG_DRIVER" dummy_udc.0 jms583-outdated || rig_fail "the enclosure did not plug in"
sg_of_gadget dummy_udc.0 >/dev/null || rig_fail "no node for the enclosure"
update_in_background --replug-wait 90
replug_gadget dummy_udc.0 || rig_fail "the enclosure did not come back after the replug"
update_ends 0
expect_last '^Update complete$'
expect_last '^After the replug the enclosure runs 0\.0\.1\.2(, release [^,]+)?, the firmware written\.$'
usb=$(usb_device_of_sg "$(sg_of_gadget dummy_udc.0)") || rig_fail "no USB device for the enclosure"
[ "$(cat "$usb/bcdDevice")" = "$(bcd_of 0.0.1.2)" ] ||
  rig_fail "bcdDevice is $(cat "$usb/bcdDevice"), not that of 0.0.1.2"
stop_gadget dummy_udc.0 || rig_fail "the enclosure did not unplug"

start_gadget "$RIG_DRIVER" dummy_udc.0 /rig/scenarios/jms583-replug-rom.json ||
  rig_fail "the enclosure that comes back in its boot ROM did not plug in"
sg_of_gadget dummy_udc.0 >/dev/null || rig_fail "no node for the enclosure"
update_in_background --replug-wait 90
replug_gadget dummy_udc.0 || rig_fail "the enclosure did not come back after the replug"
update_ends 8
expect_last '^After the replug the enclosure runs its boot ROM'
expect_last '^Run korvane-fw update again'
update_in_background --replug-wait 90
replug_gadget dummy_udc.0 || rig_fail "the enclosure did not come back after the recovery"
update_ends 0
expect_last '^After the replug the enclosure runs 0\.0\.1\.2(, release [^,]+)?, the firmware written\.$'
stop_gadget dummy_udc.0 || rig_fail "the enclosure did not unplug"

start_gadget "$RIG_DRIVER" dummy_udc.0 jms583-outdated || rig_fail "the enclosure did not plug in"
sg_of_gadget dummy_udc.0 >/dev/null || rig_fail "no node for the enclosure"
expect_exit 10 korvane-fw update --yes --replug --replug-wait 3
expect_last '^The enclosure did not come back within 3 seconds'
rig_pass
