# The package's udev rule, applied by udev itself (udevadm test runs the rules for a device's
# "add" event as udevd would) to the nodes the kernel made: the sg nodes of a JMS583 and of a
# JMS578 enclosure get the uaccess tag; the sg node of a plain disk of another maker does not, nor
# does any block device, the enclosures' partitions included. Without the rule the JMS583's node
# is not tagged either: the tag is the rule's doing.
# drivers: bot uas
# time: 40

# usb_id_of_sg /dev/sgN: VENDOR:PRODUCT of the USB device the disk is behind, as sysfs has them.
usb_id_of_sg() {
  local dir
  dir=$(usb_device_of_sg "$1") || return 1
  echo "$(cat "$dir/idVendor"):$(cat "$dir/idProduct")"
}

# expect_sg_tagged /dev/sgN VENDOR:PRODUCT yes|no: the disk is behind that USB device, its sg node
# ends with the uaccess tag or without it, and none of its block devices has it.
expect_sg_tagged() {
  local sg=$1 id=$2 want=$3 blocks block
  [ "$(usb_id_of_sg "$sg")" = "$id" ] ||
    rig_fail "$sg is behind USB device '$(usb_id_of_sg "$sg")', not $id"
  expect_udev_tag "/sys/class/scsi_generic/${sg#/dev/}" uaccess "$want"
  blocks=$(block_syspaths_of_sg "$sg")
  [ -n "$blocks" ] || rig_fail "no block device beside $sg"
  for block in $blocks; do
    expect_udev_tag "$block" uaccess no
  done
}

# The enclosure first: GadgetFS takes the first free controller.
start_gadget "$RIG_DRIVER" dummy_udc.0 jms583-outdated || rig_fail "the JMS583 did not plug in"
start_mass_storage dummy_udc.1 || rig_fail "the plain disk did not plug in"
sg=$(sg_of_gadget dummy_udc.0) || rig_fail "no node for the JMS583"
plain=$(sg_of_gadget dummy_udc.1) || rig_fail "no node for the plain disk"
expect_sg_tagged "$sg" 152d:0583 yes
expect_sg_tagged "$plain" 1d6b:0104 no

udev_test "/sys/class/scsi_generic/${sg#/dev/}" --without-rule ||
  rig_fail "udevadm test of $sg without the rule failed"
! udev_read_rule || rig_fail "udevadm read $RIG_UDEV_RULE from under the empty folder"
! udev_has_tag TAGS uaccess && ! udev_has_tag CURRENT_TAGS uaccess ||
  rig_fail "$sg was tagged uaccess without the rule"

stop_gadget dummy_udc.0 || rig_fail "the JMS583 did not unplug"
start_gadget "$RIG_DRIVER" dummy_udc.0 jms578-outdated || rig_fail "the JMS578 did not plug in"
sg=$(sg_of_gadget dummy_udc.0) || rig_fail "no node for the JMS578"
expect_sg_tagged "$sg" 152d:0578 yes

stop_gadget dummy_udc.0 || rig_fail "the JMS578 did not unplug"
stop_mass_storage dummy_udc.1 || rig_fail "the plain disk did not unplug"
rig_pass
