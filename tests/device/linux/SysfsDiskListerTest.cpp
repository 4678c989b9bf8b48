#include "linux/SysfsDiskLister.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "device/linux/ScratchDir.h"

namespace korvane {
namespace {

namespace fs = std::filesystem;

using testing::ScratchDir;

/// Builds a tree shaped like sysfs below root, with relative links as the kernel makes them.
class SysTree {
 public:
  explicit SysTree(fs::path root) : root_(std::move(root)) { fs::create_directories(root_); }

  const fs::path& Root() const { return root_; }

  static void Link(const fs::path& at, const fs::path& target) {
    fs::create_directories(at.parent_path());
    fs::create_directory_symlink(target, at);
  }

  /// block/<name> pointing at the disk's own directory, as every block device has it.
  void Block(const std::string& name, const fs::path& diskDir) {
    fs::create_directories(root_ / diskDir);
    Link(root_ / "block" / name, (root_ / diskDir).lexically_relative(root_ / "block"));
  }

  /// An sd disk of the SCSI device at scsiDevice, with an sg node when sg >= 0.
  void Disk(const std::string& name, const fs::path& scsiDevice, int sg = -1) {
    Block(name, scsiDevice / "block" / name);
    Link(root_ / scsiDevice / "block" / name / "device", "../../../" / scsiDevice.filename());
    if (sg >= 0) fs::create_directories(root_ / scsiDevice / "scsi_generic" / Sg(sg));
  }

  void Driver(const fs::path& device, const std::string& bus, const std::string& driver) {
    const fs::path bound = root_ / "bus" / bus / "drivers" / driver;
    fs::create_directories(bound);
    if (fs::is_symlink(root_ / device / "driver")) return;  // a controller with several ports
    Link(root_ / device / "driver", bound.lexically_relative(root_ / device));
  }

  /// The USB device above an interface reports this vendor id, as "152d\n".
  void UsbVendor(const fs::path& usbInterface, const std::string& id) {
    fs::create_directories(root_ / usbInterface.parent_path());
    std::ofstream(root_ / usbInterface.parent_path() / "idVendor") << id << '\n';
  }

  void ProcName(const fs::path& hostDir, const std::string& text) {
    const fs::path hostClass = root_ / hostDir / "scsi_host" / hostDir.filename();
    fs::create_directories(hostClass);
    std::ofstream(hostClass / "proc_name") << text;
    const fs::path classDir = root_ / "class" / "scsi_host";
    Link(classDir / hostDir.filename(), hostClass.lexically_relative(classDir));
  }

 private:
  static std::string Sg(int n) { return "sg" + std::to_string(n); }

  fs::path root_;
};

const fs::path kXhci = "devices/pci0000:00/0000:00:14.0";
const fs::path kUsbInterface = kXhci / "usb2/2-1/2-1:1.0";
const fs::path kUasInterface = kXhci / "usb4/4-2/4-2:1.0";
// A gadget controller's bus: a platform device, no PCI above it.
const fs::path kGadgetInterface = "devices/platform/dummy_hcd.1/usb2/2-1/2-1:1.0";
const fs::path kFireWireUnit = "devices/pci0000:00/0000:00:1e.0/0000:05:00.0/fw1/fw1.0";
const fs::path kAhci = "devices/pci0000:00/0000:00:1f.2";

fs::path Host(const fs::path& parent, int h) { return parent / ("host" + std::to_string(h)); }

fs::path ScsiDevice(const fs::path& parent, int h) {
  const std::string n = std::to_string(h);
  return Host(parent, h) / ("target" + n + ":0:0") / (n + ":0:0:0");
}

void UsbStorageDisk(SysTree& sys, const std::string& name, int sg) {
  sys.Disk(name, ScsiDevice(kUsbInterface, 6), sg);
  sys.Driver(kUsbInterface, "usb", "usb-storage");
  sys.UsbVendor(kUsbInterface, "152d");
  sys.ProcName(Host(kUsbInterface, 6), "usb-storage\n");
}

void UasDisk(SysTree& sys, const std::string& name, int sg) {
  sys.Disk(name, ScsiDevice(kUasInterface, 7), sg);
  sys.Driver(kUasInterface, "usb", "uas");
  sys.UsbVendor(kUasInterface, "152d");
  sys.ProcName(Host(kUasInterface, 7), "uas\n");
}

void SataDisk(SysTree& sys, const std::string& name, int sg, int h) {
  sys.Disk(name, ScsiDevice(kAhci / ("ata" + std::to_string(h + 1)), h), sg);
  sys.Driver(kAhci, "pci", "ahci");
  sys.ProcName(Host(kAhci / ("ata" + std::to_string(h + 1)), h), "ahci\n");
}

constexpr InterfaceMarks kUnmarked{};
constexpr InterfaceMarks kUsbMarks{.usbStorage = true};
constexpr InterfaceMarks kUaspMarks{.scsi = true};
constexpr InterfaceMarks k1394Marks{.ieee1394 = true};

// Lines rather than the structs, so a failure reads as paths and marks instead of bytes.
std::vector<std::string> Lines(const std::vector<DiskInterface>& disks) {
  std::vector<std::string> lines;
  for (const DiskInterface& d : disks) {
    lines.push_back(d.path + (d.marks.usbStorage ? " usb-storage" : "") +
                    (d.marks.scsi ? " uas" : "") + (d.marks.ieee1394 ? " sbp2" : ""));
  }
  return lines;
}

std::vector<std::string> Listed(const fs::path& root) {
  return Lines(SysfsDiskLister(root).ListDisks());
}

struct DiskCase {
  const char* what;
  void (*build)(SysTree& sys, const fs::path& scratch);
  DiskInterface expected;
};

TEST(SysfsDiskLister, MarksOnlyDisksOfTheThreeDriversAndPrefersTheSgNode) {
  const DiskCase cases[] = {
      {"usb-storage",
       [](SysTree& s, const fs::path&) { UsbStorageDisk(s, "sdb", 2); },
       {"/dev/sg2", kUsbMarks}},
      {"uas", [](SysTree& s, const fs::path&) { UasDisk(s, "sdb", 3); }, {"/dev/sg3", kUaspMarks}},
      {"usb-storage without sg node",
       [](SysTree& s, const fs::path&) { UsbStorageDisk(s, "sdb", -1); },
       {"/dev/sdb", kUsbMarks}},
      {"sbp2",
       [](SysTree& s, const fs::path&) {
         s.Disk("sdb", ScsiDevice(kFireWireUnit, 8), 4);
         s.Driver(kFireWireUnit, "firewire", "firewire_sbp2");
         s.ProcName(Host(kFireWireUnit, 8), "sbp2\n");
       },
       {"/dev/sg4", k1394Marks}},
      {"sbp2 without newline",
       [](SysTree& s, const fs::path&) {
         s.Disk("sdb", ScsiDevice(kFireWireUnit, 8));
         s.ProcName(Host(kFireWireUnit, 8), "sbp2");
       },
       {"/dev/sdb", k1394Marks}},
      {"sata",
       [](SysTree& s, const fs::path&) { SataDisk(s, "sdb", 0, 0); },
       {"/dev/sg0", kUnmarked}},
      {"uas on a gadget controller's bus",
       [](SysTree& s, const fs::path&) {
         s.Disk("sdb", ScsiDevice(kGadgetInterface, 1), 1);
         s.Driver(kGadgetInterface, "usb", "uas");
         s.UsbVendor(kGadgetInterface, "152d");
       },
       {"/dev/sg1", kUaspMarks}},
      {"usb-storage of another maker",
       [](SysTree& s, const fs::path&) {
         s.Disk("sdb", ScsiDevice(kGadgetInterface, 1), 1);
         s.Driver(kGadgetInterface, "usb", "usb-storage");
         s.UsbVendor(kGadgetInterface, "1d6b");
       },
       {"/dev/sg1", kUnmarked}},
      {"usb-storage without a vendor id",
       [](SysTree& s, const fs::path&) {
         s.Disk("sdb", ScsiDevice(kUsbInterface, 6), 2);
         s.Driver(kUsbInterface, "usb", "usb-storage");
       },
       {"/dev/sg2", kUnmarked}},
      {"usb interface with no driver",
       [](SysTree& s, const fs::path&) {
         s.Disk("sdb", ScsiDevice(kUsbInterface, 6), 2);
         s.Driver(kUsbInterface.parent_path(), "usb", "usb");
       },
       {"/dev/sg2", kUnmarked}},
      {"link climbing out of the tree",
       [](SysTree& s, const fs::path& scratch) {
         SysTree outside(scratch / "elsewhere");
         UsbStorageDisk(outside, "sdb", 2);
         SysTree::Link(s.Root() / "block" / "sdb", "../../elsewhere/block/sdb");
       },
       {"/dev/sdb", kUnmarked}},
      {"absolute link",
       [](SysTree& s, const fs::path& scratch) {
         SysTree outside(scratch / "elsewhere");
         UsbStorageDisk(outside, "sdb", 2);
         SysTree::Link(s.Root() / "block" / "sdb",
                       outside.Root() / ScsiDevice(kUsbInterface, 6) / "block" / "sdb");
       },
       {"/dev/sdb", kUnmarked}},
      {"link loop",
       [](SysTree& s, const fs::path&) { SysTree::Link(s.Root() / "block" / "sdb", "sdb"); },
       {"/dev/sdb", kUnmarked}},
  };
  for (const DiskCase& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir scratch;
    SysTree sys(scratch.Path() / "sys");
    c.build(sys, scratch.Path());
    EXPECT_EQ(Listed(sys.Root()), Lines({c.expected}));
  }
}

TEST(SysfsDiskLister, ListsScsiDisksOnlyInKernelNameOrder) {
  ScratchDir scratch;
  SysTree sys(scratch.Path() / "sys");
  UasDisk(sys, "sdaa", 1);
  SataDisk(sys, "sdz", -1, 1);
  UsbStorageDisk(sys, "sdb", -1);
  SataDisk(sys, "sda", 0, 0);
  // Other block devices, some on the very drivers that mark sd disks, are not disks we list.
  sys.Block("sr0", Host(kUsbInterface, 6) / "target6:0:0/6:0:0:1/block/sr0");
  sys.Block("nvme0n1", "devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0/nvme0n1");
  sys.Block("vda", "devices/pci0000:00/0000:00:04.0/virtio1/block/vda");
  sys.Block("loop0", "devices/virtual/block/loop0");
  sys.Block("md0", "devices/virtual/block/md0");

  const std::vector<DiskInterface> expected = {{"/dev/sg0", kUnmarked},
                                               {"/dev/sdb", kUsbMarks},
                                               {"/dev/sdz", kUnmarked},
                                               {"/dev/sg1", kUaspMarks}};
  EXPECT_EQ(Listed(sys.Root()), Lines(expected));
}

TEST(SysfsDiskLister, EmptyWithoutABlockDirectory) {
  ScratchDir scratch;
  const fs::path noRoot = scratch.Path() / "absent";
  const fs::path noBlock = scratch.Path() / "empty";
  const fs::path fileBlock = scratch.Path() / "file";
  fs::create_directories(noBlock);
  fs::create_directories(fileBlock);
  std::ofstream(fileBlock / "block") << "sda\n";
  for (const fs::path& root : {noRoot, noBlock, fileBlock}) {
    SCOPED_TRACE(root.string());
    EXPECT_TRUE(Listed(root).empty());
  }
}

}  // namespace
}  // namespace korvane
