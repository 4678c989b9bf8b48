# korvane-fw list finds the enclosure through the real sysfs, with the bus tag of the driver that
# bound it, and reads chip, revision and firmware through SG_IO. A plain disk of the kernel's own
# mass-storage gadget beside it is neither listed nor sent a single command.
# drivers: bot uas
# time: 40

# The enclosure first: GadgetFS takes the first free controller.
start_gadget "$RIG_DRIVER" dummy_udc.0 jms583-outdated || rig_fail "the enclosure did not plug in"
start_mass_storage dummy_udc.1 || rig_fail "the plain disk did not plug in"
sg=$(sg_of_gadget dummy_udc.0) || rig_fail "no node for the enclosure"
plain=$(sg_of_gadget dummy_udc.1) || rig_fail "no node for the plain disk"
[ "$(usb_driver_of_sg "$sg")" = "$(kernel_driver_of "$RIG_DRIVER")" ] ||
  rig_fail "the enclosure is bound to $(usb_driver_of_sg "$sg")"

tag=$(bus_tag_of "$RIG_DRIVER")
expect_exit 0 korvane-fw --trace "$RIG_TMP/trace" list
expect_last "^$tag Korvane NVMe Enclosure +\| JMS583 \(chip code 22, revision 0\) \| firmware 0\.0\.0\.8 \| $sg\$"
[ "$(grep -c '^<<' "$RIG_TMP/output")" -eq 1 ] || rig_fail "more than the enclosure was listed"
trace_paths "$RIG_TMP/trace" | grep -qx "$sg" || rig_fail "no command went to $sg"
! trace_paths "$RIG_TMP/trace" | grep -qvx "$sg" || rig_fail "a command went to another disk than $sg"
rig_pass
