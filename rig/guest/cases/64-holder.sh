# A device-mapper volume (a linear target) over the enclosure's partition and then over the whole
# disk, mounted nowhere: update refuses before any write and names the dm device that holds the
# disk. The runner's cleanup removes a volume a failing case leaves.
# drivers: bot uas
# time: 40

start_gadget "$RIG_DRIVER" dummy_udc.0 jms583-outdated || rig_fail "the enclosure did not plug in"
sg=$(sg_of_gadget dummy_udc.0) || rig_fail "no node for the enclosure"
disk=$(disk_of_sg "$sg") || rig_fail "no block device beside $sg"
wait_for "${disk}1" 10 || rig_fail "no partition ${disk}1 on the enclosure's medium"
for under in "${disk}1" "$disk"; do
  name=${under##*/}
  sectors=$(cat "/sys/class/block/$name/size") || rig_fail "no size for $under in sysfs"
  rig_dmsetup create rig-holder --table "0 $sectors linear $under 0" ||
    rig_fail "dmsetup cannot make a linear volume over $under"
  # The kernel's own name of the volume (dm-N), as sysfs lists it among the holders.
  dm=$(ls "/sys/class/block/$name/holders")
  [ -n "$dm" ] || rig_fail "$under has no holder after dmsetup create"
  expect_exit 5 korvane-fw --trace "$RIG_TMP/trace" update --yes
  expect_last "^korvane-fw: Refused: .*$dm([^0-9]|\$)"
  ! trace_writes "$RIG_TMP/trace" || rig_fail "a write command went out to a disk that $dm holds"
  rig_dmsetup remove rig-holder || rig_fail "dmsetup cannot remove the volume over $under"
  [ -z "$(ls "/sys/class/block/$name/holders")" ] || rig_fail "$under is still held after the removal"
done
rig_pass
