# The CDB length the host sent reaches the bridge where the transport carries it. The identity
# read (E0 F4 E7), 12 bytes in the command set, sent by sg_raw in 6, 9, 10 and 16 bytes:
# usb-storage passes the length on in the CBW, and the bridge refuses each with ILLEGAL REQUEST,
# invalid field in CDB, as the in-process bridge does. A UAS command IU pads every CDB of up to
# 16 bytes, so under uas the bridge takes each as its own 12 bytes and answers it. In 12 bytes it
# answers on both. In 20 bytes, uas carries it whole (16 bytes and 4 additional ones) and the
# bridge refuses it; usb-storage takes no CDB longer than 16 bytes, so the kernel aborts it
# (sg_raw's exit code 99) before the bridge sees it.
# drivers: bot uas
# time: 40

# identity_cdb LENGTH: the identity read padded with zeros to LENGTH bytes, in lower-case hex.
identity_cdb() {
  local cdb="e0 f4 e7" i=3
  while [ "$i" -lt "$1" ]; do
    cdb="$cdb 00"
    i=$((i + 1))
  done
  echo "$cdb"
}

start_gadget "$RIG_DRIVER" dummy_udc.0 jms583-outdated --verbose ||
  rig_fail "the enclosure did not plug in"
sg=$(sg_of_gadget dummy_udc.0) || rig_fail "no node for the enclosure"

# shellcheck disable=SC2046
raw_in 0 "$sg" 16 $(identity_cdb 12)
expect_raw_size 16
bridge_received 'E0 F4 E7 00 00 00 00 00 00 00 00 00 -> status 00, 16 bytes in'

for length in 6 9 10 16; do
  hex=$(identity_cdb "$length" | tr a-f A-F)
  if [ "$RIG_DRIVER" = bot ]; then
    # shellcheck disable=SC2046
    raw_in 5 "$sg" 16 $(identity_cdb "$length")
    expect_last "$RIG_INVALID_FIELD"
    bridge_received "$hex -> CHECK CONDITION 05/24/00"
  else
    # shellcheck disable=SC2046
    raw_in 0 "$sg" 16 $(identity_cdb "$length")
    expect_raw_size 16
  fi
done

hex=$(identity_cdb 20 | tr a-f A-F)
if [ "$RIG_DRIVER" = bot ]; then
  # shellcheck disable=SC2046
  raw_in 99 "$sg" 16 $(identity_cdb 20)
  ! grep -Fq "bridge $hex" "$RIG_TMP/gadget-dummy_udc.0.log" ||
    rig_fail "a CDB of 20 bytes reached the bridge through usb-storage"
else
  # shellcheck disable=SC2046
  raw_in 5 "$sg" 16 $(identity_cdb 20)
  expect_last "$RIG_INVALID_FIELD"
  bridge_received "$hex -> CHECK CONDITION 05/24/00"
fi
stop_gadget dummy_udc.0 || rig_fail "the enclosure did not unplug"
rig_pass
