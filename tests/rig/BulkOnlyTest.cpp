#include "BulkOnly.h"

#include <gtest/gtest.h>

#include <vector>

#include "SimulatedClock.h"

namespace korvane::gadget {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes CbwBytes(std::uint32_t length, std::uint8_t flags, const Bytes& cb) {
  Bytes bytes(kCbwSize, 0);
  const std::array<std::uint8_t, 8> head{0x55, 0x53, 0x42, 0x43, 0x78, 0x56, 0x34, 0x12};
  std::copy(head.begin(), head.end(), bytes.begin());
  for (std::size_t i = 0; i < 4; ++i) bytes[8 + i] = static_cast<std::uint8_t>(length >> (8 * i));
  bytes[12] = flags;
  bytes[14] = static_cast<std::uint8_t>(cb.size());
  std::copy(cb.begin(), cb.end(), bytes.begin() + 15);
  return bytes;
}

Cbw MakeCbw(std::uint32_t length, bool in, const Bytes& cb) {
  return *ParseCbw(CbwBytes(length, in ? 0x80 : 0x00, cb));
}

std::uint32_t Residue(const BotAnswer& answer) {
  return answer.csw[8] | answer.csw[9] << 8 | answer.csw[10] << 16 | answer.csw[11] << 24;
}

TEST(BulkOnlyTest, TakesOnlyWellFormedCommandBlocks) {
  const Bytes good = CbwBytes(36, 0x80, {0x12, 0, 0, 0, 36, 0});
  const std::optional<Cbw> cbw = ParseCbw(good);
  ASSERT_TRUE(cbw);
  EXPECT_EQ(cbw->tag, 0x12345678u);
  EXPECT_EQ(cbw->direction(), DataDirection::In);
  EXPECT_EQ(cbw->cbLength, 6);

  Bytes badSignature = good;
  badSignature[0] = 0x56;
  Bytes noCdb = good;
  noCdb[14] = 0;
  Bytes longCdb = good;
  longCdb[14] = 17;
  for (const Bytes& bytes : {Bytes(good.begin(), good.end() - 1), badSignature, noCdb, longCdb}) {
    EXPECT_FALSE(ParseCbw(bytes));
  }
  EXPECT_EQ(MakeCsw(0x12345678, 48, csw::kFailed),
            (std::array<std::uint8_t, kCswSize>{0x55, 0x53, 0x42, 0x53, 0x78, 0x56, 0x34, 0x12, 48,
                                                0, 0, 0, 1}));
}

struct AnswerCase {
  const char* what;
  std::uint32_t length;
  Bytes cb;
  std::size_t dataIn;
  bool stall;
  std::uint32_t residue;
  std::uint8_t status;
};

// clang-format off
const AnswerCase kAnswerCases[] = {
  {"exact answer",          16,  {0xE0, 0xF4, 0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 16, false, 0,   0},
  {"host asks more",        64,  {0xE0, 0xF4, 0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 16, false, 48,  0},
  {"host asks less",        12,  {0xE0, 0xF4, 0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 12, false, 0,   0},
  {"CDB of 16 bytes",       16,  {0xE0, 0xF4, 0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0, true, 16, 1},
  {"nothing, failed",       512, {0xC7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},       0,  true,  512, 1},
  {"short on a packet",     1024, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0},           512, true,  512, 0},
  {"MODE SENSE for 192",    192, {0x1A, 0, 0x3F, 0, 192, 0},                    4,  false, 188, 0},
};
// clang-format on

TEST(BulkOnlyTest, CutsShortensAndStallsDataIn) {
  for (const AnswerCase& c : kAnswerCases) {
    SCOPED_TRACE(c.what);
    sim::SimulatedBridge bridge(sim::DefaultConfig(sim::Chip::Jms583));
    sim::SimulatedClock clock;
    ScsiTarget target(bridge, clock);
    BulkOnlySession session(target);
    const BotAnswer answer = session.Answer(MakeCbw(c.length, true, c.cb), {}, 512);
    EXPECT_EQ(answer.dataIn.size(), c.dataIn);
    EXPECT_EQ(answer.stallIn, c.stall);
    EXPECT_EQ(Residue(answer), c.residue);
    EXPECT_EQ(answer.csw[12], c.status);
  }
}

TEST(BulkOnlyTest, AnswersTheAutoSenseOnceWithoutTheBridge) {
  sim::SimulatedBridge bridge(sim::DefaultConfig(sim::Chip::Jms583));
  sim::SimulatedClock clock;
  ScsiTarget target(bridge, clock);
  BulkOnlySession session(target);
  const Bytes requestSense{0x03, 0, 0, 0, 18, 0};
  // A bridge command with an unknown item fails with ILLEGAL REQUEST, invalid field.
  const BotAnswer failed =
      session.Answer(MakeCbw(8, true, {0xFF, 0x04, 0x99, 0, 0, 0, 0, 0, 0, 0, 0, 0}), {}, 512);
  EXPECT_EQ(failed.csw[12], csw::kFailed);
  const std::size_t commands = bridge.log().size();

  const BotAnswer autoSense = session.Answer(MakeCbw(18, true, requestSense), {}, 512);
  ASSERT_EQ(autoSense.dataIn.size(), 18u);
  EXPECT_EQ(autoSense.dataIn[2], 0x05);
  EXPECT_EQ(autoSense.dataIn[12], 0x24);
  EXPECT_EQ(bridge.log().size(), commands);

  // The program's own REQUEST SENSE that follows is the bridge's to answer: it was told already.
  const BotAnswer explicitSense = session.Answer(MakeCbw(18, true, requestSense), {}, 512);
  EXPECT_EQ(explicitSense.dataIn.at(2), 0x00);
  EXPECT_EQ(bridge.log().size(), commands + 1);
  EXPECT_EQ(bridge.log().back().operation, sim::Operation::RequestSense);

  // The medium's failures are owed too.
  session.Answer(MakeCbw(512, true, {0x28, 0, 0, 0, 0x20, 0, 0, 0, 1, 0}), {}, 512);
  const BotAnswer mediumSense = session.Answer(MakeCbw(18, true, requestSense), {}, 512);
  EXPECT_EQ(mediumSense.dataIn[12], 0x21);
  EXPECT_EQ(bridge.log().size(), commands + 1);
}

TEST(BulkOnlyTest, CountsDataOutTakenAndFallsSilentWhenTheBridgeVanishes) {
  sim::BridgeConfig config = sim::DefaultConfig(sim::Chip::Jms583);
  config.faults.push_back(
      {.operation = sim::Operation::WriteNvram, .nth = 2, .effect = sim::FaultEffect::Vanish});
  sim::SimulatedBridge bridge(config);
  sim::SimulatedClock clock;
  ScsiTarget target(bridge, clock);
  BulkOnlySession session(target);
  const Bytes record(512, 0x11);
  const Bytes write{0xDF, 0x01, 0, 0x02, 0, 0, 0, 0, 0x01, 0x10, 0, 0xFB};
  const BotAnswer stored = session.Answer(MakeCbw(512, false, write), record, 512);
  EXPECT_EQ(Residue(stored), 0u);
  EXPECT_EQ(stored.csw[12], csw::kPassed);
  const BotAnswer gone = session.Answer(MakeCbw(512, false, write), record, 512);
  EXPECT_FALSE(gone.present);
}

}  // namespace
}  // namespace korvane::gadget
