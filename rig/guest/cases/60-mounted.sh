# A mounted partition of the enclosure: update refuses before any write and names the mount point.
# drivers: bot uas
# time: 40

start_gadget "$RIG_DRIVER" dummy_udc.0 jms583-outdated || rig_fail "the enclosure did not plug in"
sg=$(sg_of_gadget dummy_udc.0) || rig_fail "no node for the enclosure"
disk=$(disk_of_sg "$sg") || rig_fail "no block device beside $sg"
wait_for "${disk}1" 10 || rig_fail "no partition ${disk}1 on the enclosure's medium"
mkdir -p /mnt/enclosure
mount -t vfat "${disk}1" /mnt/enclosure || rig_fail "the enclosure's FAT partition does not mount"
echo kept >/mnt/enclosure/file.txt || rig_fail "cannot write to the mounted partition"
expect_exit 5 korvane-fw --trace "$RIG_TMP/trace" update --yes
expect_last '^korvane-fw: Refused: .*/mnt/enclosure'
! trace_writes "$RIG_TMP/trace" || rig_fail "a write command went out to a mounted disk"
umount /mnt/enclosure
rig_pass
