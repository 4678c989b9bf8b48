#include "linux/UeventMonitor.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace korvane {
namespace {

using namespace std::string_literals;

// Messages shaped as the kernel sends them when a USB disk is bound and unbound under dummy_hcd;
// the zero bytes between the texts are part of the fixture.
const std::string kDiskAdded =
    "add@/devices/platform/dummy_hcd.0/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0/block/sda\0"
    "ACTION=add\0DEVPATH=/devices/platform/dummy_hcd.0/usb1/1-1/1-1:1.0/host0/target0:0:0/"
    "0:0:0:0/block/sda\0SUBSYSTEM=block\0MAJOR=8\0MINOR=0\0DEVNAME=sda\0DEVTYPE=disk\0"
    "DISKSEQ=3\0SEQNUM=1043\0"s;
const std::string kSgAdded =
    "add@/devices/platform/dummy_hcd.0/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0/"
    "scsi_generic/sg0\0ACTION=add\0DEVPATH=/devices/platform/dummy_hcd.0/usb1/1-1/1-1:1.0/"
    "host0/target0:0:0/0:0:0:0/scsi_generic/sg0\0SUBSYSTEM=scsi_generic\0MAJOR=21\0MINOR=0\0"
    "DEVNAME=sg0\0SEQNUM=1039\0"s;
const std::string kDiskRemoved =
    "remove@/devices/virtual/block/sda\0ACTION=remove\0DEVPATH=/devices/virtual/block/sda\0"
    "SUBSYSTEM=block\0DEVTYPE=disk\0SEQNUM=1100\0"s;
const std::string kUsbBound =
    "bind@/devices/platform/dummy_hcd.0/usb1/1-1/1-1:1.0\0ACTION=bind\0"
    "DEVPATH=/devices/platform/dummy_hcd.0/usb1/1-1/1-1:1.0\0SUBSYSTEM=usb\0"
    "DEVTYPE=usb_interface\0DRIVER=usb-storage\0SEQNUM=1031\0"s;
const std::string kMediaChanged =
    "change@/devices/virtual/block/sda\0ACTION=change\0DEVPATH=/devices/virtual/block/sda\0"
    "SUBSYSTEM=block\0DISK_MEDIA_CHANGE=1\0SEQNUM=1200\0"s;

TEST(UeventMonitor, ReadsKernelMessagesAndKeepsTheDiskChanges) {
  struct Case {
    const char* name;
    std::string message;
    std::optional<std::string> subsystem;  ///< nothing: not read as a kernel uevent
    bool changesDisks;
  };
  const Case cases[] = {
      {"a disk added", kDiskAdded, "block", true},
      {"its sg node added", kSgAdded, "scsi_generic", true},
      {"a disk removed", kDiskRemoved, "block", true},
      {"a driver bound to the USB interface", kUsbBound, "usb", false},
      {"a medium changed", kMediaChanged, "block", false},
      {"the last text without its zero", kDiskRemoved.substr(0, kDiskRemoved.size() - 1), "block",
       true},
      {"udevd's own format", "libudev\0\xfe\xed\xca\xfe\0ACTION=add\0SUBSYSTEM=block\0"s,
       std::nullopt, false},
      {"no ACTION@DEVPATH header", "ACTION=add\0DEVPATH=/a\0SUBSYSTEM=block\0"s, std::nullopt,
       false},
      {"no subsystem", "add@/a\0ACTION=add\0DEVPATH=/a\0"s, std::nullopt, false},
      {"empty", "", std::nullopt, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto event = ParseUevent(c.message);
    ASSERT_EQ(event.has_value(), c.subsystem.has_value());
    if (!event) continue;
    EXPECT_EQ(event->subsystem, *c.subsystem);
    EXPECT_FALSE(event->devpath.empty());
    EXPECT_EQ(ChangesDisks(*event), c.changesDisks);
  }
}

}  // namespace
}  // namespace korvane
