# Swap on the enclosure's disk, on its partition and then on the whole disk: update refuses before
# any write, names the swap device and says to swapoff it. The runner's cleanup turns off a swap a
# failing case leaves on.
# drivers: bot uas
# time: 40

start_gadget "$RIG_DRIVER" dummy_udc.0 jms583-outdated || rig_fail "the enclosure did not plug in"
sg=$(sg_of_gadget dummy_udc.0) || rig_fail "no node for the enclosure"
disk=$(disk_of_sg "$sg") || rig_fail "no block device beside $sg"
wait_for "${disk}1" 10 || rig_fail "no partition ${disk}1 on the enclosure's medium"
for swap in "${disk}1" "$disk"; do
  mkswap "$swap" || rig_fail "mkswap $swap failed"
  swapon "$swap" || rig_fail "swapon $swap failed"
  expect_exit 5 korvane-fw --trace "$RIG_TMP/trace" update --yes
  expect_last "^korvane-fw: Refused: .*$swap([^0-9]|\$)"
  expect_last '^korvane-fw: Refused: .*swapoff'
  ! trace_writes "$RIG_TMP/trace" || rig_fail "a write command went out to a disk with swap on $swap"
  swapoff "$swap" || rig_fail "swapoff $swap failed"
done
rig_pass
