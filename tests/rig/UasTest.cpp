#include "Uas.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "SimulatedClock.h"

namespace korvane::gadget {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes CommandIu(std::uint16_t tag, std::uint8_t lun, const Bytes& cdb) {
  const std::size_t additional = cdb.size() > 16 ? cdb.size() - 16 : 0;
  Bytes bytes(32 + additional, 0);
  bytes[0] = iu::kCommand;
  bytes[6] = static_cast<std::uint8_t>(additional);  // 4-byte words from bit 2: the byte count
  bytes[2] = static_cast<std::uint8_t>(tag >> 8);
  bytes[3] = static_cast<std::uint8_t>(tag);
  bytes[9] = lun;  // single-level LUN structure: the number sits in byte 1 of the field
  std::copy(cdb.begin(), cdb.end(), bytes.begin() + 16);
  return bytes;
}

TEST(UasTest, ReadsCommandAndTaskManagementUnits) {
  const UasIu command = ParseIu(CommandIu(0x0102, 3, {0x12, 0, 0, 0, 36, 0}));
  ASSERT_TRUE(command.command);
  EXPECT_EQ(command.command->tag, 0x0102);
  EXPECT_EQ(command.command->lun, 0x0003'0000'0000'0000u);
  EXPECT_EQ(command.command->cdb.size(), 16u);

  const Bytes tmf{iu::kTaskManagement, 0, 0, 7, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  const UasIu management = ParseIu(tmf);
  ASSERT_TRUE(management.taskManagement);
  EXPECT_EQ(management.taskManagement->function, 0x01);
  EXPECT_EQ(MakeResponseIu(7), (std::array<std::uint8_t, 8>{iu::kResponse, 0, 0, 7, 0, 0, 0, 0}));

  Bytes truncated = CommandIu(1, 0, {0x00});
  truncated[6] = 1 << 2;  // announces 4 additional CDB bytes that are not there
  EXPECT_FALSE(ParseIu(truncated).command);
  EXPECT_FALSE(ParseIu(Bytes{0x09, 0, 0, 1}).command);
}

TEST(UasTest, SenseUnitCarriesSenseOnlyOnCheckCondition) {
  const Sense sense = MakeSense(0x05, 0x24);
  const Bytes good = MakeSenseIu(9, 0x00, sense);
  EXPECT_EQ(good.size(), 16u);
  EXPECT_EQ(good[0], iu::kSense);
  EXPECT_EQ(good[3], 9);
  const Bytes failed = MakeSenseIu(9, 0x02, sense);
  ASSERT_EQ(failed.size(), 34u);
  EXPECT_EQ(failed[6], 0x02);
  EXPECT_EQ(failed[15], 18);
  EXPECT_EQ(failed[16 + 2], 0x05);
  EXPECT_EQ(failed[16 + 12], 0x24);
  EXPECT_EQ(MakeSenseIu(9, 0x08, sense).size(), 16u);  // BUSY has no sense
}

struct LunCase {
  const char* what;
  std::uint8_t lun;
  Bytes cdb;
  std::uint8_t status;
  std::size_t dataIn;
  std::uint8_t first;  ///< first data byte when there is data
  bool zlp;
  std::size_t bridgeCommands;
};

// clang-format off
const LunCase kLunCases[] = {
  {"INQUIRY, LUN 0",        0, {0x12, 0, 0, 0, 36, 0},              0, 36,  0x00, false, 1},
  {"INQUIRY, LUN 1",        1, {0x12, 0, 0, 0, 36, 0},              0, 36,  0x7F, false, 0},
  {"TEST UNIT READY, LUN 1", 1, {0x00, 0, 0, 0, 0, 0},              2, 0,   0,    false, 0},
  {"READ(10), one block",     0, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0},   0, 512, 0x00, false, 0},
  {"identity padded to 16", 0, {0xE0, 0xF4, 0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0, 16, 0xF4, false, 1},
  {"identity in 20 bytes",  0, {0xE0, 0xF4, 0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 2, 0, 0, false, 1},
  {"descriptor",            0, {0x3C, 0x03, 0, 0, 0, 0, 0, 0, 4, 0}, 0, 4,  0x0A, false, 1},
  {"failed read",           0, {0x3C, 0x07, 0, 0, 0, 0, 0, 0x02, 0, 0}, 2, 0, 0,  false, 1},
  {"short on a packet",     0, {0x3C, 0x01, 0x01, 0, 0, 0, 0, 0x04, 0, 0}, 0, 512, 0xB1, true, 1},
};
// clang-format on

TEST(UasTest, AnswersLunZeroAndTurnsOthersAway) {
  for (const LunCase& c : kLunCases) {
    SCOPED_TRACE(c.what);
    sim::BridgeConfig config = sim::DefaultConfig(sim::Chip::Jms583);
    // Vendor data of 512 bytes: asked for 1024, it ends short on a packet boundary.
    config.bufferOne = sim::BufferOneConfig{.boundary = 9, .data = Bytes(512, 0xB1)};
    sim::SimulatedBridge bridge(config);
    sim::SimulatedClock clock;
    ScsiTarget target(bridge, clock);
    UasSession session(target);
    const UasIu unit = ParseIu(CommandIu(1, c.lun, c.cdb));
    const UasAnswer answer = session.Answer(*unit.command, {}, 512);
    EXPECT_EQ(answer.status, c.status);
    ASSERT_EQ(answer.dataIn.size(), c.dataIn);
    if (c.dataIn > 0) {
      EXPECT_EQ(answer.dataIn[0], c.first);
    }
    EXPECT_EQ(answer.zeroLengthPacket, c.zlp);
    EXPECT_EQ(bridge.log().size(), c.bridgeCommands);
  }
}

struct DataInCase {
  const char* what;
  std::size_t answer;
  std::size_t chunk;
  bool zlp;
  std::int64_t room;  ///< bytes the host's transfers take in all; negative: the pipe fails
  std::vector<std::size_t> transfers;
  std::optional<std::size_t> taken;
};

// Nothing past the host's transfer is sent again: the rest would wait on the pipe for the next
// command's data-in.
// clang-format off
const DataInCase kDataInCases[] = {
  {"fits the host's buffer",        16,  64,    false, 16,   {16},         16},
  {"identity into 8 bytes",         16,  64,    false, 8,    {16},         8},
  {"in chunks",                     100, 40,    false, 1000, {40, 40, 20}, 100},
  {"host ends in the second chunk", 100, 40,    false, 50,   {40, 40},     50},
  {"short on a packet",             512, 65536, true,  1024, {512, 0},     512},
  {"overrun sends no zero packet",  512, 65536, true,  256,  {512},        256},
  {"pipe fails",                    16,  64,    false, -1,   {16},         std::nullopt},
};
// clang-format on

TEST(UasTest, DataInEndsWhereTheHostsTransferEnds) {
  for (const DataInCase& c : kDataInCases) {
    SCOPED_TRACE(c.what);
    std::int64_t room = c.room;
    std::vector<std::size_t> transfers;
    const Bytes answer(c.answer, 0x5A);
    const auto taken = PushDataIn(answer, c.zlp, c.chunk, [&](std::span<const std::uint8_t> bytes) {
      transfers.push_back(bytes.size());
      if (room < 0) return std::int64_t{-1};
      const auto took = std::min<std::int64_t>(room, static_cast<std::int64_t>(bytes.size()));
      room -= took;
      return took;
    });
    EXPECT_EQ(transfers, c.transfers);
    EXPECT_EQ(taken, c.taken);
  }
}

}  // namespace
}  // namespace korvane::gadget
