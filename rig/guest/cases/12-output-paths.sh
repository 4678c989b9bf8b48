# The files korvane-fw writes keep what they are, run as root, where turning a device node into a
# regular file would lose a system file. Nodes made with mknod in a scratch folder stand in for
# /dev's own: a character device takes the trace and stays a character device; a block device is
# refused before any command goes out.
# drivers: bot
# time: 20

null=$RIG_TMP/null
block=$RIG_TMP/block
rm -f "$null" "$block"
mknod "$null" c 1 3 || rig_fail "mknod made no character device"
mknod "$block" b 7 0 || rig_fail "mknod made no block device"
expect_exit 3 korvane-fw --simulate jms583-outdated --trace "$null" check
[ -c "$null" ] || rig_fail "$null is no longer a character device"
expect_exit 2 korvane-fw --simulate jms583-outdated --trace "$block" check
expect_last 'is a block device'
[ -b "$block" ] || rig_fail "$block is no longer a block device"
rm -f "$null" "$block"
rig_pass
