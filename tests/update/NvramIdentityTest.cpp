#include "NvramIdentity.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "UpdateRig.h"

namespace korvane::testing {
namespace {

using sim::FaultEffect;
using sim::Operation;
using ::testing::ElementsAre;

constexpr std::uint8_t kModeWriteRecord = 1;

/// The record a JMS583 leaves the factory with, its 24 identity bytes replaced.
sim::NvramRecord RecordWithFields(std::string_view fields) {
  sim::NvramRecord record = sim::DefaultConfig(sim::Chip::Jms583).nvramRecord;
  std::fill_n(record.begin() + 200, 24, std::uint8_t{0});
  std::ranges::copy(fields, record.begin() + 200);
  return record;
}

std::string Fields(std::span<const std::uint8_t> record) {
  return {record.begin() + 200, record.begin() + 224};
}

/// 24 identity bytes from three 8-byte pieces, each padded with zeros.
std::string Three(std::string_view first, std::string_view second = "",
                  std::string_view third = "") {
  std::string fields(24, '\0');
  fields.replace(0, first.size(), first);
  fields.replace(8, second.size(), second);
  fields.replace(16, third.size(), third);
  return fields;
}

TEST(NvramIdentityTest, OurNameReplacesTheMakersInEachFieldOnItsOwn) {
  struct Case {
    std::string_view name;
    std::string before;
    std::string after;
  };
  const std::vector<Case> cases{
      {"factory record", Three("JMicron ", "Generic"), Three("Korvane ", "Generic")},
      {"lower case", Three("jmicron!"), Three("Korvane!")},
      {"mixed case", Three("jMiCrOn"), Three("Korvane")},
      {"starts at the second byte", Three("xJMICRON"), Three("xKorvane")},
      {"every field", Three("JMicron", "JMicron", " JMicron"),
       Three("Korvane", "Korvane", " Korvane")},
      {"empty field hides what follows", std::string("\0JMicron", 8) + Three("").substr(8),
       std::string("\0JMicron", 8) + Three("").substr(8)},
      {"straddling two fields", Three("ABCDJMIC", "RON"), Three("ABCDJMIC", "RON")},
      {"other bytes of the text", Three("JMICRO N"), Three("JMICRO N")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::BridgeConfig config = sim::DefaultConfig(sim::Chip::Jms583);
    config.nvramRecord = RecordWithFields(c.before);
    UpdateRig rig(Jms583(), config);
    EXPECT_TRUE(RewriteNvramIdentity(rig.Context(), kEnclosurePath, 0x11000));
    const sim::NvramRecord expected = RecordWithFields(c.after);
    EXPECT_TRUE(std::ranges::equal(rig.bridge().nvramRecord(), expected))
        << "now reads \"" << Fields(rig.bridge().nvramRecord()) << "\"";
    // A record without the name is written back all the same.
    EXPECT_EQ(rig.NvramWrites(kModeWriteRecord), 1u);
    EXPECT_TRUE(rig.debug().lines.empty());
  }
}

TEST(NvramIdentityTest, RecordIsReadWrittenAndReadAgainAtTheChipsAddress) {
  for (const ChipUpdate* chip : {&Jms583(), &Jms578()}) {
    UpdateRig rig(*chip);
    ASSERT_TRUE(RewriteNvramIdentity(rig.Context(), kEnclosurePath, chip->nvramAddress));
    const auto a = chip->nvramAddress;
    const std::uint8_t hi = static_cast<std::uint8_t>(a >> 16),
                       mid = static_cast<std::uint8_t>(a >> 8), lo = static_cast<std::uint8_t>(a);
    EXPECT_THAT(rig.Cdbs(Operation::ReadNvram),
                ElementsAre(ElementsAre(0xDF, 0x10, 0, 2, 0, 0, 0, 0, hi, mid, lo, 0xFA),
                            ElementsAre(0xDF, 0x10, 0, 2, 0, 0, 0, 0, hi, mid, lo, 0xFA)));
    EXPECT_THAT(rig.Cdbs(Operation::WriteNvram),
                ElementsAre(ElementsAre(0xDF, 0x01, 0, 2, 0, 0, 0, 0, hi, mid, lo, 0xFB)));
    // Each access waits until the bridge is ready.
    EXPECT_EQ(rig.Cdbs(Operation::ReadStatus).size(), 3u);
    EXPECT_EQ(rig.bridge().log().front().operation, Operation::ReadStatus);
  }
}

TEST(NvramIdentityTest, EachFailureIsNamedOnTheDebugOutput) {
  struct Case {
    std::string_view name;
    sim::Fault fault;
    std::string_view line;
    std::size_t writes;
    UpdateStep step;
  };
  const std::vector<Case> cases{
      {"first read", On(Operation::ReadNvram, 1, FaultEffect::Fail), "Get NVRAM Fail.", 0,
       UpdateStep::NvramRead},
      {"write", On(Operation::WriteNvram, 1, FaultEffect::Fail), "Set NVRAM Fail.", 1,
       UpdateStep::NvramWrite},
      {"second read", On(Operation::ReadNvram, 2, FaultEffect::Fail), "Get NVRAM Fail.", 1,
       UpdateStep::NvramRead},
      {"re-read differs", On(Operation::ReadNvram, 2, FaultEffect::Corrupt, 511), "Compare Fail.",
       1, UpdateStep::NvramVerify},
      {"stored differently", On(Operation::WriteNvram, 1, FaultEffect::Corrupt, 3), "Compare Fail.",
       1, UpdateStep::NvramVerify},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::BridgeConfig config = sim::DefaultConfig(sim::Chip::Jms583);
    config.faults = {c.fault};
    UpdateRig rig(Jms583(), config);
    EXPECT_FALSE(RewriteNvramIdentity(rig.Context(), kEnclosurePath, 0x11000));
    EXPECT_THAT(rig.debug().lines, ElementsAre(std::string(c.line)));
    EXPECT_EQ(rig.Cdbs(Operation::WriteNvram).size(), c.writes);
    EXPECT_EQ(rig.failure().step, c.step);
  }
}

TEST(NvramIdentityTest, AChipTheProgramDoesNotUpdateIsNeverWrittenNorReportedDone) {
  UpdateRig rig(Jms583());
  UpdateContext context = rig.Context();
  context.currentBridgeInfo = MakeBridgeInfo(21, 0);
  EXPECT_FALSE(RewriteNvramIdentity(context, kEnclosurePath, 0x11000));
  EXPECT_TRUE(rig.Cdbs(Operation::WriteNvram).empty());
  EXPECT_EQ(rig.failure().step, UpdateStep::Chip);
}

}  // namespace
}  // namespace korvane::testing
