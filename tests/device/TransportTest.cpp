#include "Transport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

#include "FakePort.h"

namespace korvane {
namespace {

using testing::FakePort;
using testing::ScriptedReply;

constexpr std::string_view kPath = R"(\\?\usbstor#disk&ven_korvane#1)";
const std::vector<std::uint8_t> kStatusCdb = {0xFF, 0x04, 0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const std::vector<std::uint8_t> kNvramWriteCdb = {0xDF, 0x01, 0,    0x02, 0, 0,
                                                  0,    0,    0x01, 0x10, 0, 0xFB};

class TransportTest : public ::testing::Test {
 protected:
  FakePort port;
  Transport io{port};
};

TEST_F(TransportTest, LengthOneTravelsAsTwoAndOnlyOneByteComesBack) {
  ScriptedReply reply;
  reply.deliver = {0xA5, 0x5A};
  reply.transferredIsDataSize = false;
  reply.reply.transferred = 2;
  port.Then(reply);
  std::array<std::uint8_t, 2> buffer = {0x00, 0xEE};
  std::uint32_t transferred = 99;

  ASSERT_TRUE(io.ScsiCommandIn(kPath, kStatusCdb, buffer.data(), 1, &transferred));

  ASSERT_EQ(port.requests.size(), 1u);
  EXPECT_EQ(port.requests[0].data.size(), 2u);
  EXPECT_EQ(buffer[0], 0xA5);
  EXPECT_EQ(buffer[1], 0xEE) << "only the caller's length is copied back";
  EXPECT_EQ(transferred, 2u);
}

TEST_F(TransportTest, DataOutOfOneByteSendsTheByteAndAZero) {
  const std::uint8_t byte = 0x7C;
  ASSERT_TRUE(io.ScsiCommandOut(kPath, kNvramWriteCdb, &byte, 1));
  EXPECT_EQ(port.requests[0].data, (std::vector<std::uint8_t>{0x7C, 0x00}));
}

TEST_F(TransportTest, NullDataOutSendsZeros) {
  ASSERT_TRUE(io.ScsiCommandOut(kPath, kNvramWriteCdb, nullptr, 4));
  EXPECT_EQ(port.requests[0].data, (std::vector<std::uint8_t>(4, 0)));
}

TEST_F(TransportTest, NoDataMeansNoDataRegion) {
  std::uint32_t transferred = 99;
  ASSERT_TRUE(io.ScsiCommandOut(kPath, kNvramWriteCdb, nullptr, 0, &transferred));
  EXPECT_TRUE(port.requests[0].dataIsNull);
  EXPECT_TRUE(port.requests[0].data.empty());
  EXPECT_EQ(transferred, 0u);
}

TEST_F(TransportTest, RegionsAreAlignedAndZeroFilled) {
  std::array<std::uint8_t, 40> buffer{};
  buffer.fill(0xCC);
  ASSERT_TRUE(io.ScsiCommandIn(kPath, kStatusCdb, buffer.data(), 40));
  const auto& seen = port.requests[0];
  EXPECT_EQ(seen.dataAddress % kDeviceAlignment, 0u);
  EXPECT_EQ(seen.requestAddress % kDeviceAlignment, 0u);
  EXPECT_GE(seen.requestSize, kRequestRegionSize);
  EXPECT_TRUE(seen.requestZeroed);
  EXPECT_EQ(seen.data, std::vector<std::uint8_t>(40, 0)) << "the caller's bytes never go down";
}

TEST_F(TransportTest, FailedDataInStillOverwritesTheCallersBytes) {
  port.ThenCheckCondition({0x11, 0x22});
  std::array<std::uint8_t, 4> buffer = {0xAA, 0xAA, 0xAA, 0xAA};
  std::uint32_t transferred = 99;
  EXPECT_FALSE(io.ScsiCommandIn(kPath, kStatusCdb, buffer.data(), 4, &transferred));
  EXPECT_EQ(buffer, (std::array<std::uint8_t, 4>{0x11, 0x22, 0x00, 0x00}));
  EXPECT_EQ(transferred, 4u) << "the count is written after a failed request too";
}

TEST_F(TransportTest, AShortDataInShowsNoByteOfTheCommandBefore) {
  const struct {
    const char* name;
    std::int32_t length;
    ScriptedReply second;
    std::vector<std::uint8_t> seen;
  } cases[] = {
      {"short answer", 8, {.deliver = {0x11}}, {0x11, 0, 0, 0, 0, 0, 0, 0}},
      {"no answer", 4, {}, {0, 0, 0, 0}},
      {"failed short answer",
       4,
       {.reply = {.requestOk = true, .scsiStatus = 2}, .deliver = {0x22}},
       {0x22, 0, 0, 0}},
      {"one byte", 1, {.deliver = {}}, {0}},
  };
  for (const auto& c : cases) {
    const auto length = static_cast<std::size_t>(c.length);
    port.Then({.deliver = std::vector<std::uint8_t>(length + 1, 0xEE), .leaveInRequest = 0xEE});
    port.Then(c.second);
    std::vector<std::uint8_t> buffer(length, 0xCC);
    io.ScsiCommandIn(kPath, kStatusCdb, buffer.data(), c.length);
    io.ScsiCommandIn(kPath, kStatusCdb, buffer.data(), c.length);
    EXPECT_EQ(buffer, c.seen) << c.name;
    EXPECT_TRUE(port.requests.back().requestZeroed) << c.name;
    EXPECT_EQ(port.requests.back().data, std::vector<std::uint8_t>(c.length == 1 ? 2 : length, 0))
        << c.name;
  }
}

struct SuccessCase {
  const char* name;
  PortReply reply;
  bool ok;
  FailureStage stage;
};

TEST_F(TransportTest, SuccessNeedsTheCallTheErrorAndEveryStatusClear) {
  const SuccessCase cases[] = {
      {"all clear", {true, 0, 0, 0, 0, 0}, true, FailureStage::None},
      {"call failed", {false, 0, 0, 0, 0, 0}, false, FailureStage::Request},
      {"last error set", {true, 31, 0, 0, 0, 0}, false, FailureStage::Request},
      {"check condition", {true, 0, 0x02, 0, 0, 0}, false, FailureStage::Status},
      {"busy status", {true, 0, 0x08, 0, 0, 0}, false, FailureStage::Status},
      {"host status", {true, 0, 0, 0x07, 0, 0}, false, FailureStage::Status},
      {"driver status", {true, 0, 0, 0, 0x08, 0}, false, FailureStage::Status},
  };
  for (const auto& c : cases) {
    ScriptedReply reply;
    reply.reply = c.reply;
    port.Then(reply);
    std::uint8_t status = 0;
    EXPECT_EQ(io.ScsiCommandIn(kPath, kStatusCdb, &status, 1), c.ok) << c.name;
    EXPECT_EQ(io.LastOutcome().stage, c.stage) << c.name;
    EXPECT_EQ(io.DescribeLastFailure(kPath).empty(), c.ok) << c.name;
  }
  EXPECT_EQ(port.closes, 7) << "every opened handle is closed, failed or not";
  EXPECT_EQ(port.openHandles, 0);
}

struct TimeoutCase {
  std::vector<std::uint8_t> cdb;
  Direction direction;
  std::uint32_t seconds;
};

TEST_F(TransportTest, TimeOutsFollowDirectionAndCdbBytes) {
  const TimeoutCase cases[] = {
      {{0x3B, 0x0E, 0x13, 0, 0, 0, 0, 0x04, 0, 0}, Direction::Out, 100},
      {{0xDF, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFB}, Direction::Out, 100},
      {{0xDF, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFB}, Direction::Out, 50},
      {{0xDF, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFB}, Direction::Out, 50},
      {{0x3B, 0x0E, 0x00, 0, 0, 0, 0, 0x04, 0, 0}, Direction::Out, 50},
      {{0xDF, 0x03, 0x13, 0, 0, 0, 0, 0, 0, 0, 0, 0xFB}, Direction::In, 10},
      {{0x3C, 0x01, 0x13, 0, 0, 0, 0, 0x04, 0, 0}, Direction::In, 10},
  };
  for (const auto& c : cases) {
    std::array<std::uint8_t, 8> buffer{};
    const bool ok = c.direction == Direction::In
                        ? io.ScsiCommandIn(kPath, c.cdb, buffer.data(), 8)
                        : io.ScsiCommandOut(kPath, c.cdb, buffer.data(), 8);
    ASSERT_TRUE(ok);
    EXPECT_EQ(port.requests.back().timeoutSeconds, c.seconds)
        << "cdb[1]=" << int(c.cdb[1]) << " cdb[2]=" << int(c.cdb[2]);
  }
}

TEST_F(TransportTest, ExclusiveOpenIsAskedForByDirection) {
  std::uint8_t byte = 0;
  io.ScsiCommandIn(kPath, kStatusCdb, &byte, 1);
  io.ScsiCommandOut(kPath, kNvramWriteCdb, &byte, 1);
  ASSERT_EQ(port.opens.size(), 2u);
  EXPECT_EQ(port.opens[0].direction, Direction::In);
  EXPECT_EQ(port.opens[1].direction, Direction::Out);
  EXPECT_EQ(port.opens[1].path, kPath);
}

TEST_F(TransportTest, UnopenablePathFailsWithoutTouchingTheCount) {
  port.failOpen = true;
  port.openError = 5;
  std::array<std::uint8_t, 4> buffer = {1, 2, 3, 4};
  std::uint32_t transferred = 1234;
  EXPECT_FALSE(io.ScsiCommandIn(kPath, kStatusCdb, buffer.data(), 4, &transferred));
  EXPECT_EQ(transferred, 1234u);
  EXPECT_EQ(buffer, (std::array<std::uint8_t, 4>{1, 2, 3, 4}));
  EXPECT_TRUE(port.requests.empty());
  EXPECT_EQ(io.LastOutcome().verdict, Verdict::OpenFailed);
  EXPECT_EQ(io.LastOutcome().osError, 5u);
  EXPECT_EQ(io.DescribeLastFailure(kPath), "fake error 5 on " + std::string(kPath));
}

struct RefusalCase {
  const char* name;
  std::vector<std::uint8_t> cdb;
  Direction direction;
  bool nullBuffer;
  std::int32_t length;
};

TEST_F(TransportTest, BadCallsAreRefusedBeforeTheDeviceIsOpened) {
  std::vector<std::uint8_t> tooLong(17, 0);
  tooLong[0] = 0x12;
  const RefusalCase cases[] = {
      {"empty cdb", {}, Direction::In, false, 4},
      {"cdb of 17 bytes", tooLong, Direction::In, false, 4},
      {"negative length", kStatusCdb, Direction::In, false, -1},
      {"huge length", kStatusCdb, Direction::In, false, std::numeric_limits<std::int32_t>::max()},
      {"null buffer for data in", kStatusCdb, Direction::In, true, 4},
      {"WRITE(10)", {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, Direction::Out, false, 4},
      {"WRITE(16)", {0x8A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, Direction::Out, false, 4},
      {"FORMAT UNIT", {0x04, 0, 0, 0, 0, 0}, Direction::Out, false, 0},
      {"READ(10)", {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, Direction::In, false, 4},
      {"UNMAP", {0x42, 0, 0, 0, 0, 0, 0, 0, 0, 0}, Direction::Out, false, 4},
  };
  std::vector<TraceRecord> traced;
  io.SetTrace([&](const TraceRecord& r) { traced.push_back(r); });
  for (const auto& c : cases) {
    std::array<std::uint8_t, 4> buffer{};
    std::uint32_t transferred = 77;
    const bool ok = c.direction == Direction::In
                        ? io.ScsiCommandIn(kPath, c.cdb, c.nullBuffer ? nullptr : buffer.data(),
                                           c.length, &transferred)
                        : io.ScsiCommandOut(kPath, c.cdb, buffer.data(), c.length, &transferred);
    EXPECT_FALSE(ok) << c.name;
    EXPECT_EQ(io.LastOutcome().verdict, Verdict::Refused) << c.name;
    EXPECT_EQ(transferred, 77u) << c.name;
    EXPECT_FALSE(io.DescribeLastFailure(kPath).empty()) << c.name;
  }
  EXPECT_TRUE(port.opens.empty()) << "nothing refused may reach the platform";
  ASSERT_EQ(traced.size(), std::size(cases));
  EXPECT_EQ(traced[5].verdict, Verdict::Refused);
  EXPECT_EQ(traced[5].cdb[0], 0x2A);
}

TEST_F(TransportTest, EveryBridgeOpcodeIsAllowedAndNothingElse) {
  int allowed = 0;
  for (int op = 0; op < 256; ++op) allowed += IsBridgeOpcode(static_cast<std::uint8_t>(op));
  EXPECT_EQ(allowed, 9);
  for (std::uint8_t op : {0x12, 0x03, 0xE0, 0xFE, 0xFF, 0xDF, 0xB5, 0x3C, 0x3B}) {
    EXPECT_TRUE(IsBridgeOpcode(op)) << int(op);
  }
}

TEST_F(TransportTest, TraceSeesCallersLengthDataAndVerdict) {
  std::vector<std::vector<std::uint8_t>> data;
  std::vector<std::int32_t> lengths;
  std::vector<Verdict> verdicts;
  io.SetTrace([&](const TraceRecord& r) {
    data.emplace_back(r.data.begin(), r.data.end());
    lengths.push_back(r.length);
    verdicts.push_back(r.verdict);
  });
  const std::uint8_t out = 0x42;
  io.ScsiCommandOut(kPath, kNvramWriteCdb, &out, 1);
  port.ThenCheckCondition({0x99});
  std::uint8_t in = 0;
  io.ScsiCommandIn(kPath, kStatusCdb, &in, 1);

  ASSERT_EQ(data.size(), 2u);
  EXPECT_EQ(data[0], std::vector<std::uint8_t>{0x42});
  EXPECT_EQ(data[1], std::vector<std::uint8_t>{0x99});
  EXPECT_EQ(lengths, (std::vector<std::int32_t>{1, 1}));
  EXPECT_EQ(verdicts, (std::vector<Verdict>{Verdict::Ok, Verdict::Failed}));
}

TEST_F(TransportTest, StatusFailureIsDescribedWithTheCommand) {
  port.ThenCheckCondition();
  std::uint8_t status = 0;
  io.ScsiCommandIn(kPath, kStatusCdb, &status, 1);
  EXPECT_EQ(io.DescribeLastFailure(kPath), "the device rejected command 0xff (SCSI status 0x02)");
}

TEST(AlignedBuffers, RawBlockHasSlackAndIsZeroFilled) {
  for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{1068}, std::size_t{66560}}) {
    std::uint8_t* raw = AlignedBufferAlloc(size, kDeviceAlignment);
    ASSERT_NE(raw, nullptr);
    std::uint8_t* aligned = AlignPointer(raw, kDeviceAlignment);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(aligned) % kDeviceAlignment, 0u);
    EXPECT_LT(aligned - raw, static_cast<std::ptrdiff_t>(kDeviceAlignment));
    for (std::size_t i = 0; i < size; ++i) ASSERT_EQ(aligned[i], 0) << i;
    AlignedBufferFree(raw);
  }
  AlignedBufferFree(nullptr);
}

TEST(AlignedBuffers, AlignPointerRoundsUpToTheNextBoundary) {
  std::uint8_t* raw = AlignedBufferAlloc(2 * kDeviceAlignment, kDeviceAlignment);
  ASSERT_NE(raw, nullptr);
  std::uint8_t* base = AlignPointer(raw, kDeviceAlignment);
  EXPECT_EQ(AlignPointer(base, kDeviceAlignment), base);
  EXPECT_EQ(AlignPointer(base + 1, kDeviceAlignment), base + kDeviceAlignment);
  EXPECT_EQ(AlignPointer(base + kDeviceAlignment - 1, kDeviceAlignment), base + kDeviceAlignment);
  AlignedBufferFree(raw);
}

TEST(AlignedBuffers, ImpossibleSizeGivesNull) {
  EXPECT_EQ(AlignedBufferAlloc(SIZE_MAX - 10, kDeviceAlignment), nullptr);
  AlignedBuffer none(SIZE_MAX - 10);
  EXPECT_FALSE(none.valid());
  EXPECT_TRUE(none.bytes().empty());
}

}  // namespace
}  // namespace korvane
