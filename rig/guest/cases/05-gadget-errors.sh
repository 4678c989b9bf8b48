# korvane-gadget names what stops it in one line: a controller that does not exist, one that
# another gadget holds, and a bad scenario; none of them leaves anything plugged in.
# drivers: bot uas
# time: 30

expect_exit 1 korvane-gadget --transport "$RIG_DRIVER" --udc dummy_udc.7 jms583-outdated
expect_last 'no gadget controller named dummy_udc.7'

echo '{"disks": [{"path": "x", "firmware": "1.2"}]}' >"$RIG_TMP/bad.json"
expect_exit 2 korvane-gadget --transport "$RIG_DRIVER" --udc dummy_udc.0 "$RIG_TMP/bad.json"
expect_last 'bad.json: disks\[0\]\.firmware: expected "a\.b\.c\.d"'

# Every controller taken, so GadgetFS has none left either.
for udc in dummy_udc.0 dummy_udc.1 dummy_udc.2; do
  start_mass_storage "$udc" || rig_fail "the plain disk did not plug in on $udc"
done
expect_exit 1 korvane-gadget --transport "$RIG_DRIVER" --udc dummy_udc.0 jms583-outdated
expect_last 'already in use|no free gadget controller|busy'
[ -z "$(ls /sys/kernel/config/usb_gadget | grep -v '^ms-')" ] ||
  rig_fail "a failed start left a gadget behind: $(ls /sys/kernel/config/usb_gadget)"
rig_pass
