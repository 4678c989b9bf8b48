# Rights: a user who is not root but may read and write the /dev/sgN node checks and updates,
# keeping the backup in their own state folder; one who may not gets exit 6 and a message naming
# what is missing; through /dev/sdX, without CAP_SYS_RAWIO, the message names that right.
# drivers: bot uas
# time: 90

add_user rig 1000
start_gadget "$RIG_DRIVER" dummy_udc.0 jms583-outdated || rig_fail "the enclosure did not plug in"
sg=$(sg_of_gadget dummy_udc.0) || rig_fail "no node for the enclosure"
disk=$(disk_of_sg "$sg") || rig_fail "no block device beside $sg"

chmod 0666 "$sg"
expect_exit 3 run_as rig korvane-fw check
expect_exit 0 run_as rig korvane-fw update --yes
expect_last '^Update complete$'
expect_last "^Backup written to $RIG_TMP/state-rig/korvane/backups/JMS583-"

chmod 0600 "$sg"
expect_exit 6 run_as rig korvane-fw check
expect_last "no permission to open $sg"

# Without the sg driver the lister can only name the block node, where the kernel passes vendor
# commands to CAP_SYS_RAWIO alone.
stop_gadget dummy_udc.0 || rig_fail "the enclosure did not unplug"
rmmod sg || rig_fail "cannot unload sg"
start_gadget "$RIG_DRIVER" dummy_udc.0 jms583-outdated || { modprobe sg; rig_fail "no replug"; }
wait_for "$disk" 10 || { modprobe sg; rig_fail "no $disk without sg"; }
chmod 0666 "$disk"
expect_output 'CAP_SYS_RAWIO' run_as rig korvane-fw check
rc=0
run_as rig korvane-fw check >/dev/null 2>&1 || rc=$?
stop_gadget dummy_udc.0
modprobe sg
[ "$rc" -eq 6 ] || rig_fail "check through $disk exited with $rc, expected 6"
rig_pass
