#include "linux/BlockHold.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "device/linux/ScratchDir.h"
#include "device/linux/SysTree.h"
#include "linux/SgIoPort.h"

namespace korvane {
namespace {

using ::testing::HasSubstr;
using testing::ScratchDir;
using testing::SysTree;
namespace fs = std::filesystem;

const fs::path kUsbDevice = "devices/usb2/2-1/host6/target6:0:0/6:0:0:0";
const fs::path kNoDiskDevice = "devices/usb2/2-2/host7/target7:0:0/7:0:0:0";
const fs::path kTwoDiskDevice = "devices/usb2/2-3/host8/target8:0:0/8:0:0:0";

/// sg2 with its disk sdb, sg3 without one, and sg4 whose device names two.
void Tree(SysTree& sys) {
  sys.Disk(kUsbDevice, "sdb", "8:16");
  sys.ScsiGeneric(kUsbDevice, "sg2");
  sys.ScsiGeneric(kNoDiskDevice, "sg3");
  sys.Disk(kTwoDiskDevice, "sdc", "8:32");
  sys.Disk(kTwoDiskDevice, "sdd", "8:48");
  sys.ScsiGeneric(kTwoDiskDevice, "sg4");
}

/// Opens, flushes and closes as told, and remembers what it was asked.
class FakeApi final : public LinuxApi {
 public:
  int Open(const char* path, int flags) override {
    opened.emplace_back(path);
    flagsSeen.push_back(flags);
    if (openError == 0) return 7;
    error_ = openError;
    return -1;
  }
  int SgIo(int, sg_io_hdr_t*) override { return 0; }
  int Fsync(int fd) override {
    flushed.push_back(fd);
    if (fsyncError == 0) return 0;
    error_ = fsyncError;
    return -1;
  }
  int Close(int fd) override {
    closed.push_back(fd);
    return 0;
  }
  int LastErrno() override { return error_; }

  int openError = 0;
  int fsyncError = 0;
  std::vector<std::string> opened;
  std::vector<int> flagsSeen;
  std::vector<int> flushed;
  std::vector<int> closed;

 private:
  int error_ = 0;
};

enum class Outcome { Held, Unheld, Refused };

TEST(BlockHold, HoldsTheWholeDiskExclusivelyOrSaysWhyNot) {
  struct Case {
    const char* what;
    const char* path;
    int openError;
    int fsyncError;
    Outcome outcome;
    const char* opened;  ///< the node opened; empty: none
    const char* text;    ///< in the refusal or the gaps
  };
  const Case cases[] = {
      {"an sg node's disk", "/dev/sg2", 0, 0, Outcome::Held, "/dev/sdb", ""},
      {"the disk's own node", "/dev/sdb", 0, 0, Outcome::Held, "/dev/sdb", ""},
      {"an sg node without a disk holds nothing", "/dev/sg3", 0, 0, Outcome::Unheld, "", ""},
      {"an sg node sysfs does not know", "/dev/sg9", 0, 0, Outcome::Unheld, "",
       "sg9 does not exist"},
      {"a path that is no disk", "/dev/nvme0n1", 0, 0, Outcome::Unheld, "",
       "neither /dev/sgN nor /dev/sdX"},
      {"a partition is never held for its disk", "/dev/sdb1", 0, 0, Outcome::Unheld, "",
       "neither /dev/sgN nor /dev/sdX"},
      {"a name that only begins like a node", "/dev/sg2x", 0, 0, Outcome::Unheld, "",
       "neither /dev/sgN nor /dev/sdX"},
      {"no disk named at all", "/dev/sd", 0, 0, Outcome::Unheld, "",
       "neither /dev/sgN nor /dev/sdX"},
      {"outside /dev", "/tmp/sdb", 0, 0, Outcome::Unheld, "", "is not under /dev"},
      {"an sg node whose device names two disks", "/dev/sg4", 0, 0, Outcome::Unheld, "",
       "does not name one SCSI disk"},
      {"claimed by a mount or a volume", "/dev/sg2", EBUSY, 0, Outcome::Refused, "/dev/sdb",
       "/dev/sdb is in use by the system or another program"},
      {"the sg node only is the user's", "/dev/sg2", EACCES, 0, Outcome::Unheld, "/dev/sdb",
       "/dev/sdb could not be held (no permission), so nothing stops a mount"},
      {"denied outright", "/dev/sg2", EPERM, 0, Outcome::Unheld, "/dev/sdb", "(no permission)"},
      {"gone meanwhile", "/dev/sg2", ENXIO, 0, Outcome::Unheld, "/dev/sdb", "(errno 6)"},
      {"the cache cannot be flushed", "/dev/sg2", 0, EIO, Outcome::Refused, "/dev/sdb",
       "could not be flushed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir scratch;
    SysTree sys(scratch.Path() / "sys");
    Tree(sys);
    FakeApi api;
    api.openError = c.openError;
    api.fsyncError = c.fsyncError;
    HeldNodes held;
    BlockHolder holder(api, sys.Root(), held);
    {
      auto hold = holder.Hold(c.path);
      ASSERT_EQ(api.opened.size(), std::string(c.opened).empty() ? 0U : 1U);
      if (!api.opened.empty()) {
        EXPECT_EQ(api.opened[0], c.opened);
        EXPECT_EQ(api.flagsSeen[0] & (O_EXCL | O_ACCMODE), O_EXCL | O_RDONLY);
      }
      if (c.outcome == Outcome::Refused) {
        ASSERT_TRUE(std::holds_alternative<std::string>(hold));
        EXPECT_THAT(std::get<std::string>(hold), HasSubstr(c.text));
        EXPECT_EQ(api.closed.size(), api.flushed.size());
        continue;
      }
      ASSERT_TRUE(std::holds_alternative<std::unique_ptr<DiskHold>>(hold));
      const std::string gaps = std::get<std::unique_ptr<DiskHold>>(hold)->gaps();
      EXPECT_THAT(gaps, HasSubstr(c.text));
      EXPECT_EQ(gaps.empty(), c.outcome == Outcome::Held || std::string(c.text).empty());
      EXPECT_EQ(held.Holds("/dev/sdb"), c.outcome == Outcome::Held);
      EXPECT_EQ(api.flushed.size(), c.outcome == Outcome::Held ? 1U : 0U);
      EXPECT_TRUE(api.closed.empty());
    }
    EXPECT_FALSE(held.Holds("/dev/sdb"));
    EXPECT_EQ(api.closed.size(), c.outcome == Outcome::Held ? 1U : 0U);
  }
}

// Without the hold's knowledge, the port's exclusive open of a disk we hold would fail with
// EBUSY against our own claim.
TEST(BlockHold, ThePortDoesNotClaimAHeldDiskASecondTime) {
  ScratchDir scratch;
  SysTree sys(scratch.Path() / "sys");
  Tree(sys);
  FakeApi api;
  HeldNodes held;
  BlockHolder holder(api, sys.Root(), held);
  SgIoPort port(api, &held);
  const auto exclusive = [&](const char* path) {
    const PortOpen opened = port.Open(path, Direction::Out);
    EXPECT_TRUE(opened.ok);
    return (api.flagsSeen.back() & O_EXCL) != 0;
  };
  EXPECT_TRUE(exclusive("/dev/sdb"));
  {
    auto hold = holder.Hold("/dev/sdb");
    ASSERT_TRUE(std::holds_alternative<std::unique_ptr<DiskHold>>(hold));
    EXPECT_FALSE(exclusive("/dev/sdb"));
    EXPECT_TRUE(exclusive("/dev/sg2"));
  }
  EXPECT_TRUE(exclusive("/dev/sdb"));
}

}  // namespace
}  // namespace korvane
