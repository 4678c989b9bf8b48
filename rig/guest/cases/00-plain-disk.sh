# Plain USB disks with no bridge chip behind them (the kernel's own f_mass_storage gadget), one
# from another maker and one with the bridges' maker's vendor ID, plugged in side by side.
# korvane-fw sends nothing to the first; it probes the second through SG_IO, finds no bridge
# and offers nothing.
# drivers: bot
# time: 30

other=dummy_udc.0
maker=dummy_udc.1
start_mass_storage "$other" || rig_fail "the mass-storage gadget did not start on $other"
start_mass_storage "$maker" "" 152d:0583 || rig_fail "the mass-storage gadget did not start on $maker"
sg_other=$(sg_of_gadget "$other") || rig_fail "no /dev/sgN appeared for $other"
sg_maker=$(sg_of_gadget "$maker") || rig_fail "no /dev/sgN appeared for $maker"
[ "$sg_other" != "$sg_maker" ] || rig_fail "both gadgets' disks map to $sg_other"

for sg in "$sg_other" "$sg_maker"; do
  echo "disk: $sg $(readlink -f "/sys/class/scsi_generic/${sg#/dev/}/device")"
  driver=$(usb_driver_of_sg "$sg") || rig_fail "no USB interface above $sg"
  [ "$driver" = "$(kernel_driver_of "$RIG_DRIVER")" ] ||
    rig_fail "$sg: the USB interface is bound to '$driver', not $(kernel_driver_of "$RIG_DRIVER")"
done

# Exit 1: no enclosure. Every command sent is in the trace; its header lists both disks, as the
# lister found them, so only command lines count.
trace=$RIG_TMP/trace.jsonl
expect_exit 1 korvane-fw --trace "$trace" list
expect_last '^No enclosure found'
cat "$trace"
trace_paths "$trace" | grep -qx "$sg_other" &&
  rig_fail "a command was sent to $sg_other, a disk of another maker"
grep -q "^{\"path\":\"$sg_maker\",\"cdb\":\"12" "$trace" || rig_fail "no INQUIRY reached $sg_maker"

# The dynamic build with its shared libraries runs in the guest too.
expect_exit 1 korvane-fw-devimages list

stop_mass_storage "$other" || rig_fail "the disk on $other did not leave after the unplug"
stop_mass_storage "$maker" || rig_fail "the disk on $maker did not leave after the unplug"
rig_pass
