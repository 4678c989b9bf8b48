# An INQUIRY from an independent SCSI client with an allocation length above 255, which fills CDB
# bytes 3 and 4: the bridge answers with the 40 bytes it has (the vendor and product texts and
# the chip tag in bytes 36-39), in the 6-byte form and in the command set's 12 bytes, and
# sg_inq's own request for 512 bytes is decoded.
# drivers: bot uas
# time: 40

start_gadget "$RIG_DRIVER" dummy_udc.0 jms583-outdated || rig_fail "the enclosure did not plug in"
sg=$(sg_of_gadget dummy_udc.0) || rig_fail "no node for the enclosure"

expect_exit 0 sg_inq --len=512 "$sg"
expect_last 'Vendor identification: Korvane'
expect_last 'Product identification: NVMe Enclosure'

for cdb in "12 00 00 01 2c 00" "12 00 00 01 2c 00 00 00 00 00 00 00" "12 00 00 ff ff 00"; do
  # shellcheck disable=SC2086
  raw_in 0 "$sg" 300 $cdb
  expect_raw_size 40
  [ "$(raw_data_text 8 24)" = "Korvane NVMe Enclosure  " ] ||
    rig_fail "INQUIRY $cdb: vendor and product '$(raw_data_text 8 24)'"
  [ "$(raw_data_text 36 4)" = j583 ] || rig_fail "INQUIRY $cdb: chip tag '$(raw_data_text 36 4)'"
done
stop_gadget dummy_udc.0 || rig_fail "the enclosure did not unplug"
rig_pass
