#include "FirmwareBackup.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ImageCheck.h"
#include "UpdateRig.h"

namespace korvane::testing {
namespace {

using ::testing::HasSubstr;

/// The READ BUFFER that brings block 0 in each of the backup's two reads: a descriptor, then the
/// area's blocks.
std::vector<sim::Fault> BothReadsOfBlockZero(const ChipUpdate& chip, std::size_t byte) {
  const unsigned blocks = static_cast<unsigned>(chip.firmwareArea / 1024);
  return {On(sim::Operation::ReadBuffer, 2, sim::FaultEffect::Corrupt, byte),
          On(sim::Operation::ReadBuffer, 3 + blocks, sim::FaultEffect::Corrupt, byte)};
}

/// A backup keeps only a flash that would boot as the version the bridge runs: not one that lost
/// its signature, nor firmware written since the bridge was plugged in.
TEST(FirmwareBackupTest, SavesOnlyAWholeImageOfTheRunningVersion) {
  struct Case {
    std::string_view name;
    const ChipUpdate& chip;
    bool writtenFirst;  ///< the carried firmware was written, and the bridge not replugged
    bool signatureLost;
    BackupEnd end;
    std::string_view reason;
  };
  const Case cases[] = {
      {"JMS583 as it runs", Jms583(), false, false, BackupEnd::Saved, ""},
      {"JMS578 as it runs", Jms578(), false, false, BackupEnd::Saved, ""},
      {"JMS583 without its signature", Jms583(), false, true, BackupEnd::Failed,
       "the flash does not hold a whole firmware image: the signature at 0x200 is 5A 3C 69 E1"},
      {"JMS578 without its signature", Jms578(), false, true, BackupEnd::Failed,
       "the flash does not hold a whole firmware image: the signature at 0x200"},
      {"JMS583 written, not replugged", Jms583(), true, false, BackupEnd::Failed,
       "its flash holds version 0.0.1.2 where the bridge runs 0.0.0.8"},
      {"JMS578 written, not replugged", Jms578(), true, false, BackupEnd::Failed,
       "its flash holds version 0.2.1.4 where the bridge runs 0.1.0.3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UpdateRig rig(c.chip, Config(c.chip, false,
                                 c.signatureLost ? BothReadsOfBlockZero(c.chip, 0x201)
                                                 : std::vector<sim::Fault>{}));
    if (c.writtenFirst) {
      ASSERT_TRUE(rig.Update());
    }
    const FirmwareBackup backup = ReadFirmwareBackup(rig.io(), rig.clock(), kEnclosurePath,
                                                     MakeBridgeInfo(c.chip.chipCode, 0));
    EXPECT_EQ(backup.end, c.end);
    if (c.end == BackupEnd::Saved) {
      EXPECT_EQ(RunningVersionOf(c.chip, backup.image), backup.identity.version)
          << "the backup is named by the version its bytes hold";
      continue;
    }
    EXPECT_TRUE(backup.image.empty()) << "nothing of a failed backup is kept";
    EXPECT_EQ(backup.failure.step, UpdateStep::Backup);
    EXPECT_THAT(backup.failure.reason, HasSubstr(c.reason));
  }
}

/// One byte that one of the two reads gives otherwise, wherever it lies in the flash or the NVRAM
/// record, keeps the backup from being saved, and is named.
TEST(FirmwareBackupTest, TheTwoReadsMustAgreeToTheLastByte) {
  struct Case {
    std::string_view name;
    sim::Fault fault;
    std::size_t at;
  };
  const ChipUpdate& chip = Jms583();
  const unsigned blocks = static_cast<unsigned>(chip.firmwareArea / 1024);
  const Case cases[] = {
      {"first read, first block",
       On(sim::Operation::ReadBuffer, 2, sim::FaultEffect::Corrupt, 0x10), 0x10},
      {"second read, first block",
       On(sim::Operation::ReadBuffer, 3 + blocks, sim::FaultEffect::Corrupt, 0x10), 0x10},
      {"first read, last byte of the flash",
       On(sim::Operation::ReadBuffer, 1 + blocks, sim::FaultEffect::Corrupt, 1023),
       chip.firmwareArea - 1},
      {"second read, the NVRAM record",
       On(sim::Operation::ReadNvram, 2, sim::FaultEffect::Corrupt, 0x10), chip.firmwareArea + 0x10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UpdateRig rig(chip, Config(chip, false, {c.fault}));
    const FirmwareBackup backup =
        ReadFirmwareBackup(rig.io(), rig.clock(), kEnclosurePath, MakeBridgeInfo(chip.chipCode, 0));
    EXPECT_EQ(backup.end, BackupEnd::Failed);
    EXPECT_TRUE(backup.image.empty());
    EXPECT_THAT(backup.failure.reason,
                HasSubstr("two reads of the bridge differ at byte " + std::to_string(c.at)));
  }
}

}  // namespace
}  // namespace korvane::testing
