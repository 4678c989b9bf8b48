# An identity read (E0 F4 E7) from sg_raw with room for fewer bytes than the bridge's 16, then
# a TEST UNIT READY and the identity read with room for all of it, each of which must answer
# within the 10 s the kernel gives it, the read with the same 16 bytes as before. Under
# usb-storage the CBW carries the host's length: the bridge sends what fits and the short read
# gets the first bytes. A UAS command IU carries no length, so the bridge sends its 16 bytes in
# one short packet: the host's controller reports the overrun (-EOVERFLOW, "data cmplt err -75"
# in the kernel's log) and uas the command's GOOD status with no data. dummy_hcd completes an IN
# request of up to 64 bytes at once from its one FIFO (shared by the IN endpoints) when that is
# free, as a real controller sends the packet whole; the sense IU may then reach uas before the
# overrun does, and uas adds a host error (DID_ERROR, exit code 99). When the FIFO is taken (by an
# IU on the status pipe), the request waits for the host and completes with what the host took:
# the gadget ends the data phase there and sends the status. It used to send the rest again, which
# stayed queued on the data-in pipe and answered the next identity read, whose own answer then
# waited until the kernel aborted the command and reset the device.
# drivers: bot uas
# time: 60

start_gadget "$RIG_DRIVER" dummy_udc.0 jms583-outdated --verbose ||
  rig_fail "the enclosure did not plug in"
sg=$(sg_of_gadget dummy_udc.0) || rig_fail "no node for the enclosure"
identity="e0 f4 e7 00 00 00 00 00 00 00 00 00"

# shellcheck disable=SC2086
raw_in 0 "$sg" 16 $identity
expect_raw_size 16
cp "$RIG_TMP/data" "$RIG_TMP/identity"

for room in 8 1 15; do
  if [ "$RIG_DRIVER" = bot ]; then
    # shellcheck disable=SC2086
    raw_in 0 "$sg" "$room" $identity
    expect_raw_size "$room"
    head -c "$room" "$RIG_TMP/identity" >"$RIG_TMP/start"
    cmp -s "$RIG_TMP/data" "$RIG_TMP/start" ||
      rig_fail "the short read of $room bytes is not the start of the identity"
  else
    overruns=$(dmesg | grep -c 'data cmplt err -75')
    rm -f "$RIG_TMP/data"
    # shellcheck disable=SC2086
    rig_capture sg_raw --cmdset=1 --timeout=10 --request="$room" --outfile="$RIG_TMP/data" \
      "$sg" $identity || expect_last 'DID_ERROR'
    expect_last 'SCSI Status: Good'
    expect_last '[Nn]o data received'
    expect_raw_size 0
    [ "$(dmesg | grep -c 'data cmplt err -75')" -gt "$overruns" ] ||
      rig_fail "the kernel logged no overrun for the short read of $room bytes"
  fi
  expect_exit 0 sg_raw --cmdset=1 --timeout=10 "$sg" 00 00 00 00 00 00
  rm -f "$RIG_TMP/data"
  # shellcheck disable=SC2086
  expect_exit 0 sg_raw --cmdset=1 --timeout=10 --request=16 --outfile="$RIG_TMP/data" \
    "$sg" $identity
  cmp -s "$RIG_TMP/data" "$RIG_TMP/identity" ||
    rig_fail "after the short read of $room bytes the identity read got other bytes"
done
stop_gadget dummy_udc.0 || rig_fail "the enclosure did not unplug"
rig_pass
