#include "linux/MountCheck.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "device/linux/ScratchDir.h"
#include "device/linux/SysTree.h"

namespace korvane {
namespace {

namespace fs = std::filesystem;
using Kind = MountState::Kind;
using ::testing::HasSubstr;

using testing::ScratchDir;
using testing::SysTree;

const fs::path kSystemDevice = "devices/pci0000:00/0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0";
const fs::path kUsbDevice =
    "devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0";
const fs::path kSdb = kUsbDevice / "block/sdb";
const fs::path kSdb1 = kSdb / "sdb1";
const fs::path kSdb2 = kSdb / "sdb2";

/// The enclosure's disk sdb (sg2, partitions sdb1 and sdb2) beside the system disk sda (sg0),
/// so that a match on the wrong disk shows.
void TwoDisks(SysTree& sys) {
  const fs::path sda = sys.Disk(kSystemDevice, "sda", "8:0");
  sys.Partition(sda, "sda1", "8:1");
  sys.Partition(sda, "sda2", "8:2");
  sys.ScsiGeneric(kSystemDevice, "sg0");
  sys.Disk(kUsbDevice, "sdb", "8:16");
  sys.Partition(kSdb, "sdb1", "8:17");
  sys.Partition(kSdb, "sdb2", "8:18");
  sys.ScsiGeneric(kUsbDevice, "sg2");
}

std::string Mount(const std::string& dev, const std::string& mountPoint,
                  const std::string& source = "none", const std::string& type = "ext4") {
  return "40 22 " + dev + " / " + mountPoint + " rw,relatime shared:9 - " + type + " " + source +
         " rw\n";
}

// A system's own mounts, none of them on sdb: near numbers (8:1, 8:161), a mount point named
// like sdb's partition, a source named like it.
const std::string kSystem =
    "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw,errors=remount-ro\n"
    "23 22 0:21 / /proc rw,nosuid,nodev,noexec,relatime shared:12 - proc proc rw\n"
    "24 22 8:1 / /boot/efi rw,relatime shared:2 - vfat /dev/sda1 rw\n"
    "25 22 0:45 / /media/sdb1 rw,relatime shared:3 - tmpfs tmpfs rw\n"
    "26 22 8:161 / /mnt/other rw,relatime shared:4 - ext4 /dev/sdk1 rw\n"
    "27 22 0:46 /@ /srv rw,relatime shared:5 - btrfs /dev/sdbb1 rw\n";

const std::string kNoSwap = "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n";

std::string Swap(const std::string& device) {
  return kNoSwap + device + "                               partition\t1048572\t\t0\t\t-2\n";
}

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::Free:
      return "free";
    case Kind::Mounted:
      return "mounted";
    case Kind::Swap:
      return "swap";
    case Kind::Stacked:
      return "stacked";
    case Kind::Unknown:
      return "unknown";
  }
  return "?";
}

/// The whole detail for a mounted or free disk; for an unknown one, a part the reason must name.
void ExpectState(const MountState& state, Kind kind, const std::string& detail) {
  EXPECT_STREQ(KindName(state.kind), KindName(kind)) << state.detail;
  if (kind == Kind::Unknown) {
    EXPECT_THAT(state.detail, HasSubstr(detail));
  } else {
    EXPECT_EQ(state.detail, detail);
  }
}

struct Case {
  const char* what;
  void (*build)(SysTree& sys);
  const char* device;
  std::string mountinfo;
  std::string swaps;
  Kind kind;
  std::string detail;
};

void Nothing(SysTree&) {}

void LuksOnSdb1(SysTree& sys) {
  TwoDisks(sys);
  sys.Volume("dm-0", "253:0", "luks-1234", {kSdb1});
}

void LvmOnLuks(SysTree& sys) {
  LuksOnSdb1(sys);
  sys.Volume("dm-1", "253:1", "vg-data", {"devices/virtual/block/dm-0"});
}

void RaidOverBothPartitions(SysTree& sys) {
  TwoDisks(sys);
  sys.Volume("dm-0", "253:0", "mirror", {kSdb1, kSdb2});
}

TEST(MountCheck, FindsWhatIsMountedOnTheDiskAndOnlyThat) {
  const Case cases[] = {
      {"sg node, partition mounted at a point with a blank", TwoDisks, "/dev/sg2",
       kSystem + Mount("8:17", "/media/user/My\\040Disk", "/dev/sdb1"), kNoSwap, Kind::Mounted,
       "/media/user/My Disk"},
      {"tab, newline and backslash escaped", TwoDisks, "/dev/sg2",
       kSystem + Mount("8:18", "/mnt/a\\011b\\012c\\134d"), kNoSwap, Kind::Mounted,
       "/mnt/a\tb\nc\\d"},
      {"nothing of the disk mounted", TwoDisks, "/dev/sg2", kSystem, kNoSwap, Kind::Free, ""},
      {"nothing mounted at all", TwoDisks, "/dev/sg2", "", "", Kind::Free, ""},
      {"whole-disk file system", TwoDisks, "/dev/sg2", kSystem + Mount("8:16", "/mnt/whole"),
       kNoSwap, Kind::Mounted, "/mnt/whole"},
      {"sd path, second partition", TwoDisks, "/dev/sdb", kSystem + Mount("8:18", "/srv/data"),
       kNoSwap, Kind::Mounted, "/srv/data"},
      {"the first mount in table order is named", TwoDisks, "/dev/sdb",
       kSystem + Mount("8:18", "/b") + Mount("8:17", "/a") + Mount("8:18", "/c"), kNoSwap,
       Kind::Mounted, "/b"},
      {"btrfs shows an anonymous number; its source names the partition", TwoDisks, "/dev/sg2",
       kSystem + Mount("0:52", "/media/backup", "/dev/sdb2", "btrfs"), kNoSwap, Kind::Mounted,
       "/media/backup"},
      {"the system disk is mounted, seen from its own sg node", TwoDisks, "/dev/sg0", kSystem,
       kNoSwap, Kind::Mounted, "/"},
      {"swap partition", TwoDisks, "/dev/sg2", kSystem, Swap("/dev/sdb2"), Kind::Swap, "/dev/sdb2"},
      {"swap elsewhere", TwoDisks, "/dev/sg2", kSystem, Swap("/dev/sda3") + Swap("/swapfile"),
       Kind::Free, ""},
      {"dm-crypt volume on a partition, mounted", LuksOnSdb1, "/dev/sg2",
       kSystem + Mount("253:0", "/home/user/vault", "/dev/mapper/luks-1234"), kNoSwap,
       Kind::Mounted, "/home/user/vault"},
      {"dm volume found by its mapper name", LuksOnSdb1, "/dev/sg2",
       kSystem + Mount("0:60", "/vault", "/dev/mapper/luks-1234", "btrfs"), kNoSwap, Kind::Mounted,
       "/vault"},
      {"LVM on dm-crypt, mounted two levels up", LvmOnLuks, "/dev/sdb",
       kSystem + Mount("253:1", "/data", "/dev/mapper/vg-data"), kNoSwap, Kind::Mounted, "/data"},
      {"swap on a dm volume", LvmOnLuks, "/dev/sdb", kSystem, Swap("/dev/dm-1"), Kind::Swap,
       "/dev/dm-1"},
      {"RAID over both partitions, mounted", RaidOverBothPartitions, "/dev/sg2",
       kSystem + Mount("253:0", "/raid"), kNoSwap, Kind::Mounted, "/raid"},
      {"volume open but not mounted", LuksOnSdb1, "/dev/sg2", kSystem, kNoSwap, Kind::Stacked,
       "dm-0 (/dev/mapper/luks-1234) on sdb1"},
      {"a holder that holds itself is met once",
       [](SysTree& s) {
         TwoDisks(s);
         s.Volume("dm-0", "253:0", "a", {kSdb1});
         s.RawLink("devices/virtual/block/dm-0/holders/dm-0", ".");
       },
       "/dev/sdb", kSystem, kNoSwap, Kind::Stacked, "dm-0 (/dev/mapper/a) on sdb1"},
      {"sg node without a block device", [](SysTree& s) { s.ScsiGeneric(kUsbDevice, "sg2"); },
       "/dev/sg2", kSystem + Mount("8:16", "/mnt/whole"), kNoSwap, Kind::Free, ""},
      {"sg node unknown to sysfs", TwoDisks, "/dev/sg9", kSystem, kNoSwap, Kind::Unknown,
       "class/scsi_generic/sg9/device cannot be read; check that the enclosure is still attached"},
      {"sd disk unknown to sysfs", TwoDisks, "/dev/sdc", kSystem, kNoSwap, Kind::Unknown,
       "block/sdc cannot be read"},
      {"no sysfs at all", Nothing, "/dev/sdb", kSystem, kNoSwap, Kind::Unknown,
       "block/sdb cannot be read"},
      {"unreadable mount table line", TwoDisks, "/dev/sg2",
       kSystem + "41 22 8:17\n" + Mount("8:18", "/x"), kNoSwap, Kind::Unknown,
       "line 7 of the mount table cannot be read"},
      {"mount table line with a bad number", TwoDisks, "/dev/sg2",
       "22 1 sda2 / / rw - ext4 /dev/sda2 rw\n", kNoSwap, Kind::Unknown,
       "line 1 of the mount table"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir scratch;
    SysTree sys(scratch.Path() / "sys");
    c.build(sys);
    ExpectState(CheckMounts(c.device, sys.Root(), c.mountinfo, c.swaps), c.kind, c.detail);
  }
}

// The enclosure's disk is mounted in every case, so a check that is fooled reads free.
TEST(MountCheck, UnknownWhenSysfsCannotBeTrusted) {
  struct Tree {
    const char* what;
    void (*spoil)(SysTree& sys, const fs::path& outside);
    std::string reason;
    std::vector<std::string> devices = {"/dev/sg2", "/dev/sdb"};
  };
  const Tree trees[] = {
      {"partition dev with letters",
       [](SysTree& s, const fs::path&) { s.Write(kSdb1 / "dev", "8:x\n"); },
       "sdb1/dev does not hold a device number"},
      {"dev without minor", [](SysTree& s, const fs::path&) { s.Write(kSdb1 / "dev", "8\n"); },
       "sdb1/dev"},
      {"dev with a third number",
       [](SysTree& s, const fs::path&) { s.Write(kSdb1 / "dev", "8:17:0\n"); }, "sdb1/dev"},
      {"dev with a sign", [](SysTree& s, const fs::path&) { s.Write(kSdb1 / "dev", "+8:17\n"); },
       "sdb1/dev"},
      {"dev past 32 bits",
       [](SysTree& s, const fs::path&) { s.Write(kSdb1 / "dev", "4294967304:17\n"); }, "sdb1/dev"},
      {"empty dev", [](SysTree& s, const fs::path&) { s.Write(kSdb1 / "dev", ""); }, "sdb1/dev"},
      {"dev with trailing text",
       [](SysTree& s, const fs::path&) { s.Write(kSdb1 / "dev", "8:17\n" + std::string(60, 'x')); },
       "sdb1/dev"},
      {"disk without dev", [](SysTree& s, const fs::path&) { fs::remove(s.Root() / kSdb / "dev"); },
       "block/sdb/dev does not hold a device number"},
      {"dev is a directory",
       [](SysTree& s, const fs::path&) {
         fs::remove(s.Root() / kSdb1 / "dev");
         fs::create_directories(s.Root() / kSdb1 / "dev");
       },
       "sdb1/dev"},
      {"dev is a FIFO, which must not be opened",
       [](SysTree& s, const fs::path&) {
         fs::remove(s.Root() / kSdb1 / "dev");
         ASSERT_EQ(mkfifo((s.Root() / kSdb1 / "dev").c_str(), 0600), 0);
       },
       "sdb1/dev"},
      {"block link climbing out of the tree",
       [](SysTree& s, const fs::path&) {
         fs::remove(s.Root() / "block/sdb");
         s.RawLink("block/sdb", "../../outside/sys" / kSdb);
       },
       "block/sdb cannot be read",
       {"/dev/sdb"}},
      {"absolute block link",
       [](SysTree& s, const fs::path& outside) {
         fs::remove(s.Root() / "block/sdb");
         s.RawLink("block/sdb", outside / kSdb);
       },
       "block/sdb cannot be read",
       {"/dev/sdb"}},
      {"sg device link out of the tree",
       [](SysTree& s, const fs::path& outside) {
         const fs::path link = kUsbDevice / "scsi_generic/sg2/device";
         fs::remove(s.Root() / link);
         s.RawLink(link, outside / kUsbDevice);
       },
       "sg2/device cannot be read",
       {"/dev/sg2"}},
      {"holder link out of the tree",
       [](SysTree& s, const fs::path& outside) {
         s.RawLink(kSdb1 / "holders/dm-0", outside / "devices/virtual/block/dm-0");
       },
       "holders/dm-0 cannot be read"},
  };
  for (const Tree& t : trees) {
    SCOPED_TRACE(t.what);
    ScratchDir scratch;
    SysTree sys(scratch.Path() / "sys");
    SysTree outside(scratch.Path() / "outside/sys");
    TwoDisks(sys);
    TwoDisks(outside);
    outside.Volume("dm-0", "253:0", "a", {kSdb1});
    t.spoil(sys, outside.Root());
    const std::string mounts = kSystem + Mount("8:17", "/media/disk") + Mount("253:0", "/x");
    for (const std::string& device : t.devices) {
      SCOPED_TRACE(device);
      ExpectState(CheckMounts(device, sys.Root(), kSystem, kNoSwap), Kind::Unknown, t.reason);
      EXPECT_NE(CheckMounts(device, sys.Root(), mounts, kNoSwap).kind, Kind::Free);
    }
  }
}

TEST(MountCheck, RefusesPathsThatAreNotAWholeSgOrSdNode) {
  ScratchDir scratch;
  SysTree sys(scratch.Path() / "sys");
  TwoDisks(sys);
  const std::string mounts = kSystem + Mount("8:17", "/media/disk");
  const std::pair<const char*, const char*> paths[] = {
      {"", "is neither /dev/sgN nor /dev/sdX"},
      {"sdb", "is neither"},
      {"dev/sg2", "is neither"},
      {"/dev/sdb1", "is neither"},
      {"/dev/nvme0n1", "is neither"},
      {"/dev/sg", "is neither"},
      {"/dev/sd", "is neither"},
      {"/dev/sgx", "is neither"},
      {"/dev/SDB", "is neither"},
      {"/dev/disk/by-id/usb-disk", "is not a plain device name"},
      {"/dev//sdb", "is not a plain device name"},
      {"/dev/../dev/sdb", "is not a plain device name"},
      {"/dev/sdb/..", "is not a plain device name"},
      {"/dev/..", "is not a plain device name"},
      {"/dev/..sdb", "is not a plain device name"},
  };
  for (const auto& [path, reason] : paths) {
    SCOPED_TRACE(path);
    const MountState state = CheckMounts(path, sys.Root(), mounts, kNoSwap);
    ExpectState(state, Kind::Unknown, reason);
    EXPECT_THAT(state.detail, HasSubstr("\"" + std::string(path) + "\""));
  }
}

}  // namespace
}  // namespace korvane
