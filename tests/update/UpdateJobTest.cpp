#include "UpdateJob.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "EmbeddedImages.h"
#include "UpdateRig.h"

namespace korvane::testing {
namespace {

using ::testing::HasSubstr;

struct NoDisks final : DiskLister {
  std::vector<DiskInterface> ListDisks() override { return {}; }
};

constexpr std::uint8_t kModeWriteRecord = 1;
constexpr std::size_t kSerialCharAt = 0x56;  // after the serial descriptor's length and type

/// One bad byte in a read of the NVRAM record is never written back: the rewrite starts from a
/// backup's record or from two reads that agree, where the plan asks for it; the window's one
/// read stays the default.
TEST(UpdateJobTest, TheIdentityRewriteStartsFromBytesReadAlikeTwice) {
  struct Case {
    std::string_view name;
    NvramStart start;
    bool backup;
    unsigned badRead;  ///< the ReadNvram with a serial byte inverted; 0: none
    bool complete;
    std::size_t reads;  ///< ReadNvram commands of the update
    std::string_view reason;
  };
  const Case cases[] = {
      {"window: one read", NvramStart::OneRead, false, 0, true, 2, ""},
      {"no backup: two reads", NvramStart::Agreed, false, 0, true, 3, ""},
      {"no backup, first read bad", NvramStart::Agreed, false, 1, false, 2,
       "two reads of the NVRAM record differ at byte 86: nothing was written to it; run the "
       "update again"},
      {"no backup, second read bad", NvramStart::Agreed, false, 2, false, 2, "differ at byte 86"},
      {"backup, the update's read bad", NvramStart::Agreed, true, 3, true, 2, ""},
  };
  const ChipUpdate& chip = Jms583();
  const BridgeInfo info = MakeBridgeInfo(chip.chipCode, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<sim::Fault> faults;
    if (c.badRead != 0) {
      faults.push_back(
          On(sim::Operation::ReadNvram, c.badRead, sim::FaultEffect::Corrupt, kSerialCharAt));
    }
    UpdateRig rig(chip, Config(chip, false, faults));
    const sim::NvramRecord factory = rig.bridge().config().nvramRecord;
    NoDisks lister;
    const EmbeddedImages images;
    const DeviceServices devices{rig.io(), lister, rig.clock(), Enclosures::Simulated};
    UpdateJob job(JobServices{devices, rig.sink(), rig.debug(), images});
    if (c.backup) {
      ASSERT_EQ(job.Backup(kEnclosurePath, info).end, BackupEnd::Saved);
    }
    const std::size_t readsBefore = rig.Cdbs(sim::Operation::ReadNvram).size();

    EXPECT_EQ(job.Update(kEnclosurePath, info, rig.view(), {.nvramStart = c.start}), c.complete);
    EXPECT_EQ(rig.Cdbs(sim::Operation::ReadNvram).size() - readsBefore, c.reads);
    const std::span<const std::uint8_t> record = rig.bridge().nvramRecord();
    EXPECT_TRUE(std::ranges::equal(record.first(200), std::span(factory).first(200)))
        << "the USB descriptors, the serial number's among them, are as the factory left them";
    if (c.complete) {
      EXPECT_EQ(rig.NvramWrites(kModeWriteRecord), 1u);
      EXPECT_TRUE(std::ranges::equal(record.subspan(200, 8), std::string_view("Korvane ")));
      continue;
    }
    EXPECT_EQ(rig.NvramWrites(kModeWriteRecord), 0u) << "nothing is written to the NVRAM";
    EXPECT_EQ(job.failure().step, UpdateStep::NvramRead);
    EXPECT_THAT(job.failure().reason, HasSubstr(c.reason));
  }
}

}  // namespace
}  // namespace korvane::testing
