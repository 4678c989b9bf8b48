# A mount of the enclosure's FAT partition while update writes the firmware fails as busy: the
# update holds the disk for itself until it has ended. The update then completes, and a file
# written to the partition before it reads back the same after it. The bridge spends 20 ms on each
# command, so that the write and its read-back last seconds and the mount comes in their middle.
# drivers: bot uas
# time: 90

start_gadget "$RIG_DRIVER" dummy_udc.0 /rig/scenarios/jms583-slow.json ||
  rig_fail "the enclosure did not plug in"
sg=$(sg_of_gadget dummy_udc.0) || rig_fail "no node for the enclosure"
disk=$(disk_of_sg "$sg") || rig_fail "no block device beside $sg"
part=${disk}1
wait_for "$part" 10 || rig_fail "no partition $part on the enclosure's medium"
mkdir -p /mnt/enclosure
mount -t vfat "$part" /mnt/enclosure || rig_fail "the enclosure's FAT partition does not mount"
dd if=/dev/urandom of="$RIG_TMP/file.bin" bs=1024 count=64 2>/dev/null || rig_fail "no file to copy"
cp "$RIG_TMP/file.bin" /mnt/enclosure/file.bin || rig_fail "cannot write to the mounted partition"
umount /mnt/enclosure || rig_fail "the partition does not unmount before the update"

# The trace goes to a FIFO, which korvane-fw writes line by line as the commands come back, and
# cat copies it to a file the case can read meanwhile. This shell keeps the FIFO open for reading
# and writing on fd 3, so that korvane-fw finds a reader however soon it starts; cat sees the end
# once fd 3 is closed after the update.
fifo=$RIG_TMP/trace.fifo
mkfifo "$fifo" || rig_fail "cannot make a FIFO"
exec 3<>"$fifo"
cat "$fifo" >"$RIG_TMP/trace" 3<&- &
reader=$!
echo "+ korvane-fw --trace $fifo update --yes &"
korvane-fw --trace "$fifo" update --yes >"$RIG_TMP/update" 2>&1 3<&- &
fw=$!

# Until a WRITE BUFFER has come back: at least 30 s, polled every 20 ms. A plain grep for its
# opcode: the trace helpers parse every line, which takes longer under TCG than the whole write.
left=1500
until grep -q '"cdb":"3b' "$RIG_TMP/trace"; do
  rig_alive "$fw" || {
    cat "$RIG_TMP/update"
    rig_fail "the update ended before its trace showed a firmware write"
  }
  [ "$left" -gt 0 ] || rig_fail "no firmware write showed in the trace within 30 s"
  left=$((left - 1))
  usleep 20000
done

echo "+ mount -t vfat $part /mnt/enclosure (while the firmware is written)"
mounted=0
mount -t vfat "$part" /mnt/enclosure >"$RIG_TMP/mount" 2>&1 && mounted=1
cat "$RIG_TMP/mount"
# The mount came in the middle of the write only if korvane-fw still runs now it has returned,
# and had not got to the NVRAM write that ends an update: the trace as it was then tells.
writing=0
if rig_alive "$fw" && cp "$RIG_TMP/trace" "$RIG_TMP/trace.then"; then
  trace_writes_nvram "$RIG_TMP/trace.then" || writing=1
  echo "the mount returned after $(trace_commands "$RIG_TMP/trace.then" |
    grep -c '^"cdb":"3b') WRITE BUFFERs"
fi
# Unmounted at once, so that the update goes on with the disk free.
[ "$mounted" = 0 ] || umount /mnt/enclosure || rig_fail "the partition mounted and does not unmount"

rig_wait_exit "$fw" 60 || rig_fail "the update did not end within 60 s"
rc=0
wait "$fw" || rc=$?
exec 3<&-
rig_wait_exit "$reader" 10 || rig_fail "the trace was not read to its end"
echo "korvane-fw exited with $rc:"
cat "$RIG_TMP/update"
# A mount that came too late proves nothing, whatever its outcome: the write must last longer.
[ "$writing" = 1 ] || rig_fail "the update was past its firmware write before the mount returned"
[ "$mounted" = 0 ] || rig_fail "a mount succeeded while the firmware was written"
grep -q 'busy' "$RIG_TMP/mount" || rig_fail "the mount failed, but not as busy"
[ "$rc" -eq 0 ] || rig_fail "the update exited with $rc, expected 0"
grep -q '^Update complete$' "$RIG_TMP/update" || rig_fail "the update did not say 'Update complete'"

# Read back from the enclosure's medium, not from what the kernel kept of it.
echo 3 >/proc/sys/vm/drop_caches
mount -t vfat "$part" /mnt/enclosure || rig_fail "the partition does not mount after the update"
cmp "$RIG_TMP/file.bin" /mnt/enclosure/file.bin || rig_fail "the file on the partition changed"
umount /mnt/enclosure || rig_fail "the partition does not unmount after the update"
rig_pass
