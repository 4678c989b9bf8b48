#include "BridgeCommands.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "FakePort.h"
#include "SimulatedBus.h"
#include "SimulatedClock.h"

namespace korvane {
namespace {

using testing::FakePort;
using testing::ScriptedReply;

constexpr std::string_view kPath = R"(\\?\usbstor#disk&ven_korvane#1)";
constexpr auto kData = ReadBufferMode::Data;
constexpr auto kDescriptor = ReadBufferMode::Descriptor;
constexpr auto kDeferred = WriteBufferMode::DownloadDeferred;
constexpr auto kFirmware = BufferId::Firmware;

// Mode and buffer id have types of their own, so a call that swaps them or passes bare numbers
// does not compile.
static_assert(!std::is_invocable_v<decltype(&ReadBuffer), Transport&, std::string_view, BufferId,
                                   ReadBufferMode, std::uint32_t, std::span<std::uint8_t>>);
static_assert(!std::is_invocable_v<decltype(&WriteBuffer), Transport&, std::string_view, int, int,
                                   std::uint32_t, std::span<const std::uint8_t>>);

std::vector<std::uint8_t> Bytes(std::string_view hex) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < hex.size();) {
    if (hex[i] == ' ') {
      ++i;
      continue;
    }
    out.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    i += 2;
  }
  return out;
}

struct CdbCase {
  const char* name;
  std::function<bool(Transport&)> send;
  const char* cdb;
  Direction direction;
  std::size_t dataRegion;  ///< what the device is asked to move
};

std::array<std::uint8_t, 600> scratch{};

std::span<std::uint8_t> Scratch(std::size_t n) { return std::span(scratch).first(n); }

TEST(BridgeCommands, EveryCdbMatchesItsTableByteForByte) {
  const CdbCase cases[] = {
      {"ReadIdentity 16", [](Transport& t) { return ReadIdentity(t, kPath, Scratch(16)); },
       "E0 F4 E7 00 00 00 00 00 00 00 00 00", Direction::In, 16},
      {"ReadIdentity 12", [](Transport& t) { return ReadIdentity(t, kPath, Scratch(12)); },
       "E0 F4 E7 00 00 00 00 00 00 00 00 00", Direction::In, 12},
      {"ReadIdentityAlt", [](Transport& t) { return ReadIdentityAlt(t, kPath, Scratch(16)); },
       "FE F4 E7 00 00 00 00 00 00 00 00 00", Direction::In, 16},
      {"Inquiry 40", [](Transport& t) { return Inquiry(t, kPath, Scratch(40)); },
       "12 00 00 00 28 00 00 00 00 00 00 00", Direction::In, 40},
      {"Inquiry 300 keeps the low byte",
       [](Transport& t) { return Inquiry(t, kPath, Scratch(300)); },
       "12 00 00 00 2C 00 00 00 00 00 00 00", Direction::In, 300},
      {"ReadStatus",
       [](Transport& t) {
         std::uint8_t s = 0;
         return ReadStatus(t, kPath, s);
       },
       "FF 04 12 00 00 00 00 00 00 00 00 00", Direction::In, 2},
      {"ReadFlashType", [](Transport& t) { return ReadFlashType(t, kPath, Scratch(4).first<4>()); },
       "FF 04 23 04 00 00 00 00 00 00 00 00", Direction::In, 4},
      {"ReadChipTag", [](Transport& t) { return ReadChipTag(t, kPath, Scratch(40)); },
       "FF 04 30 08 00 00 00 00 00 00 00 00", Direction::In, 40},
      {"ReadNvram JMS583 record",
       [](Transport& t) { return ReadNvram(t, kPath, 0x11000, Scratch(512)); },
       "DF 10 00 02 00 00 00 00 01 10 00 FA", Direction::In, 512},
      {"ReadNvram JMS578 record",
       [](Transport& t) { return ReadNvram(t, kPath, 0xD000, Scratch(512)); },
       "DF 10 00 02 00 00 00 00 00 D0 00 FA", Direction::In, 512},
      {"ReadNvram drops address bits 24-31",
       [](Transport& t) { return ReadNvram(t, kPath, 0x01000000, Scratch(4)); },
       "DF 10 00 00 04 00 00 00 00 00 00 FA", Direction::In, 4},
      {"WriteNvram mode 1",
       [](Transport& t) {
         return WriteNvram(t, kPath, NvramWriteMode::Record, 0x11000, Scratch(512));
       },
       "DF 01 00 02 00 00 00 00 01 10 00 FB", Direction::Out, 512},
      {"WriteNvram mode 0xFF is masked",
       [](Transport& t) {
         return WriteNvram(t, kPath, NvramWriteMode{0xFF}, 0xD000, Scratch(512));
       },
       "DF 87 00 02 00 00 00 00 00 D0 00 FB", Direction::Out, 512},
      {"WriteNvram mode 3 without data",
       [](Transport& t) { return WriteNvram(t, kPath, NvramWriteMode::StartLoader, 0, {}); },
       "DF 03 00 00 00 00 00 00 00 00 00 FB", Direction::Out, 0},
      {"ReadMemory late-revision probe",
       [](Transport& t) { return ReadMemory(t, kPath, 0xFDB0, Scratch(4)); },
       "DF 10 00 00 04 00 FD B0 00 00 00 FD", Direction::In, 4},
      {"ReadMemory 16-bit fields",
       [](Transport& t) { return ReadMemory(t, kPath, 0x12345, Scratch(0x102)); },
       "DF 10 00 01 02 00 23 45 00 00 00 FD", Direction::In, 0x102},
      {"ReadConfigWord",
       [](Transport& t) { return ReadConfigWord(t, kPath, Scratch(2).first<2>()); },
       "DF 10 00 00 02 00 00 00 00 00 00 FF", Direction::In, 2},
      {"ReadVendorB5", [](Transport& t) { return ReadVendorB5(t, kPath, 100, 1, Scratch(512)); },
       "B5 00 00 00 00 64 00 00 01 00 00 00", Direction::In, 512},
      {"ReadBuffer descriptor",
       [](Transport& t) { return ReadBuffer(t, kPath, kDescriptor, kFirmware, 0, Scratch(4)); },
       "3C 03 00 00 00 00 00 00 04 00", Direction::In, 4},
      {"ReadBuffer data block",
       [](Transport& t) { return ReadBuffer(t, kPath, kData, kFirmware, 0x10000, Scratch(512)); },
       "3C 01 00 01 00 00 00 02 00 00", Direction::In, 512},
      {"ReadBuffer offset keeps 24 bits",
       [](Transport& t) {
         return ReadBuffer(t, kPath, kData, BufferId::Vendor, 0x7ABCDEF, Scratch(4));
       },
       "3C 01 01 AB CD EF 00 00 04 00", Direction::In, 4},
      {"WriteBuffer firmware block",
       [](Transport& t) {
         return WriteBuffer(t, kPath, kDeferred, kFirmware, 0x400, Scratch(512));
       },
       "3B 0E 00 00 04 00 00 02 00 00", Direction::Out, 512},
      {"WriteBuffer loader download",
       [](Transport& t) {
         return WriteBuffer(t, kPath, WriteBufferMode::DownloadActivate, kFirmware, 0,
                            Scratch(600));
       },
       "3B 06 00 00 00 00 00 02 58 00", Direction::Out, 600},
      {"WriteBuffer mode 15 sends only its opcode and mode",
       [](Transport& t) {
         return WriteBuffer(t, kPath, WriteBufferMode::ActivateDeferred, BufferId{7}, 0x123456, {});
       },
       "3B 0F 00 00 00 00 00 00 00 00", Direction::Out, 0},
      {"RequestSense", [](Transport& t) { return RequestSense(t, kPath); },
       "03 00 00 00 12 00 00 00 00 00 00 00", Direction::In, 18},
  };
  for (const auto& c : cases) {
    FakePort port;
    Transport io(port);
    EXPECT_TRUE(c.send(io)) << c.name;
    ASSERT_EQ(port.requests.size(), 1u) << c.name;
    const auto& seen = port.requests[0];
    EXPECT_EQ(seen.cdb, Bytes(c.cdb)) << c.name;
    EXPECT_EQ(seen.direction, c.direction) << c.name;
    EXPECT_EQ(seen.data.size(), c.dataRegion) << c.name;
    EXPECT_EQ(seen.path, kPath) << c.name;
  }
}

TEST(BridgeCommands, WriteDataReachesTheDeviceUnchanged) {
  FakePort port;
  Transport io(port);
  std::array<std::uint8_t, 1024> block{};
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 7);
  ASSERT_TRUE(WriteBuffer(io, kPath, kDeferred, kFirmware, 0, block));
  EXPECT_EQ(port.requests[0].data, std::vector<std::uint8_t>(block.begin(), block.end()));
}

TEST(BridgeCommands, FailedBufferCommandIsFollowedByOneRequestSense) {
  struct Case {
    const char* name;
    std::function<bool(Transport&)> send;
  };
  const Case cases[] = {
      {"ReadBuffer",
       [](Transport& t) { return ReadBuffer(t, kPath, kDescriptor, kFirmware, 0, Scratch(4)); }},
      {"WriteBuffer",
       [](Transport& t) { return WriteBuffer(t, kPath, kDeferred, kFirmware, 0, Scratch(512)); }},
  };
  for (const auto& c : cases) {
    for (bool senseFails : {false, true}) {
      FakePort port;
      Transport io(port);
      port.ThenCheckCondition();
      if (senseFails) port.ThenCheckCondition();
      EXPECT_FALSE(c.send(io)) << c.name;
      ASSERT_EQ(port.requests.size(), 2u) << c.name;
      EXPECT_EQ(port.requests[1].cdb[0], opcode::kRequestSense) << c.name;
      EXPECT_EQ(port.requests[1].path, kPath) << c.name;
      EXPECT_EQ(io.LastOutcome().opcode, port.requests[0].cdb[0])
          << c.name << ": the reason kept is the transfer's, not the sense read's";
    }
  }
}

TEST(BridgeCommands, OtherFailuresSendNothingMore) {
  FakePort port;
  Transport io(port);
  port.ThenCheckCondition();
  port.ThenCheckCondition();
  EXPECT_FALSE(ReadNvram(io, kPath, 0x11000, Scratch(512)));
  EXPECT_FALSE(WriteNvram(io, kPath, NvramWriteMode::Record, 0x11000, Scratch(512)));
  EXPECT_EQ(port.requests.size(), 2u);
}

TEST(BridgeCommands, SuccessfulBufferCommandSendsNoSense) {
  FakePort port;
  Transport io(port);
  EXPECT_TRUE(ReadBuffer(io, kPath, kData, kFirmware, 0, Scratch(16)));
  EXPECT_EQ(port.requests.size(), 1u);
}

TEST(BridgeCommands, RequestSenseKeepsTheSenseForDiagnostics) {
  FakePort port;
  Transport io(port);
  ScriptedReply reply;
  reply.deliver = {0x70, 0, 0x05, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x24, 0x00};
  port.Then(reply);
  ASSERT_TRUE(RequestSense(io, kPath));
  EXPECT_EQ(io.LastSense()[2], 0x05);
  EXPECT_EQ(io.LastSense()[12], 0x24);
}

ScriptedReply StatusReply(std::uint8_t status, bool ok = true) {
  ScriptedReply reply;
  reply.deliver = {status};
  if (!ok) reply.reply.scsiStatus = 0x02;
  return reply;
}

TEST(WaitUntilReady, GivesUpAfterFiveHundredRereads) {
  FakePort port;
  Transport io(port);
  sim::SimulatedClock clock;
  for (int i = 0; i < 600; ++i) port.Then(StatusReply(0x01));
  EXPECT_FALSE(WaitUntilReady(io, clock, kPath));
  EXPECT_EQ(port.requests.size(), 501u);
  EXPECT_EQ(clock.sleeps(), 500u);
  EXPECT_EQ(clock.Now(), std::chrono::milliseconds(5000));
}

TEST(WaitUntilReady, StopsAtTheFirstReadyStatus) {
  struct Case {
    std::vector<ScriptedReply> replies;
    bool ready;
    std::size_t reads;
  };
  const Case cases[] = {
      {{StatusReply(0x00)}, true, 1},
      {{StatusReply(0xFE)}, true, 1},  // only bit 0 means busy
      {{StatusReply(0x01), StatusReply(0x03), StatusReply(0x02)}, true, 3},
      // A failed read leaves what the device delivered; the busy bit still decides.
      {{StatusReply(0x01, false), StatusReply(0x00, false)}, true, 2},
  };
  for (const auto& c : cases) {
    FakePort port;
    Transport io(port);
    sim::SimulatedClock clock;
    for (const auto& r : c.replies) port.Then(r);
    EXPECT_EQ(WaitUntilReady(io, clock, kPath), c.ready);
    EXPECT_EQ(port.requests.size(), c.reads);
    EXPECT_EQ(clock.sleeps(), c.reads - 1);
  }
}

TEST(IsLateRevision, ReadsTheByteAtFdb1Unsigned) {
  struct Case {
    std::uint8_t value;
    bool commandOk;
    bool late;
  };
  const Case cases[] = {{0xB3, true, false},
                        {0xB4, true, true},
                        {0xFF, true, true},
                        {0x00, true, false},
                        {0xB4, false, false}};
  for (const auto& c : cases) {
    FakePort port;
    Transport io(port);
    port.Then(StatusReply(0, c.commandOk));
    port.replies.back().deliver = {0x00, c.value, 0x00, 0x00};
    EXPECT_EQ(IsLateRevision(io, kPath), c.late) << int(c.value) << " ok=" << c.commandOk;
  }
}

// The simulated bridge decodes CDBs from the protocol on its own; every builder must be read
// by it as the command it means, and accepted.
struct AgreementCase {
  const char* name;
  std::function<bool(Transport&)> send;
  sim::Operation operation;
};

class AgainstSimulatedBridge : public ::testing::Test {
 protected:
  AgainstSimulatedBridge() {
    sim::BridgeConfig config = sim::DefaultConfig(sim::Chip::Jms583);
    config.chipTag = "j583A1";
    config.vendorB5 = true;
    config.busyReads = 2;
    bridge = &bus.AddDisk(kPath, sim::SimulatedBridge(config));
  }
  sim::SimulatedClock clock;
  sim::SimulatedBus bus{clock};
  Transport io{bus};
  sim::SimulatedBridge* bridge = nullptr;
};

TEST_F(AgainstSimulatedBridge, EveryCommandIsDecodedAsItselfAndAccepted) {
  const AgreementCase cases[] = {
      {"ReadIdentity", [](Transport& t) { return ReadIdentity(t, kPath, Scratch(16)); },
       sim::Operation::ReadIdentity},
      {"ReadIdentityAlt", [](Transport& t) { return ReadIdentityAlt(t, kPath, Scratch(16)); },
       sim::Operation::ReadIdentityAlt},
      {"Inquiry", [](Transport& t) { return Inquiry(t, kPath, Scratch(40)); },
       sim::Operation::Inquiry},
      {"ReadStatus",
       [](Transport& t) {
         std::uint8_t s = 0;
         return ReadStatus(t, kPath, s);
       },
       sim::Operation::ReadStatus},
      {"ReadFlashType", [](Transport& t) { return ReadFlashType(t, kPath, Scratch(4).first<4>()); },
       sim::Operation::ReadFlashType},
      {"ReadChipTag", [](Transport& t) { return ReadChipTag(t, kPath, Scratch(40)); },
       sim::Operation::ReadChipTag},
      {"ReadNvram", [](Transport& t) { return ReadNvram(t, kPath, 0x11000, Scratch(512)); },
       sim::Operation::ReadNvram},
      {"WriteNvram",
       [](Transport& t) {
         return WriteNvram(t, kPath, NvramWriteMode::Record, 0x11000, Scratch(512));
       },
       sim::Operation::WriteNvram},
      {"ReadMemory", [](Transport& t) { return ReadMemory(t, kPath, 0xFDB0, Scratch(4)); },
       sim::Operation::ReadMemory},
      {"ReadConfigWord",
       [](Transport& t) { return ReadConfigWord(t, kPath, Scratch(2).first<2>()); },
       sim::Operation::ReadConfigWord},
      {"ReadVendorB5", [](Transport& t) { return ReadVendorB5(t, kPath, 100, 1, Scratch(512)); },
       sim::Operation::ReadVendorB5},
      {"ReadBuffer descriptor",
       [](Transport& t) { return ReadBuffer(t, kPath, kDescriptor, kFirmware, 0, Scratch(4)); },
       sim::Operation::ReadBuffer},
      {"WriteBuffer block",
       [](Transport& t) {
         return WriteBuffer(t, kPath, kDeferred, kFirmware, 0x400, Scratch(512));
       },
       sim::Operation::WriteBuffer},
      {"ReadBuffer block",
       [](Transport& t) { return ReadBuffer(t, kPath, kData, kFirmware, 0x400, Scratch(512)); },
       sim::Operation::ReadBuffer},
      {"RequestSense", [](Transport& t) { return RequestSense(t, kPath); },
       sim::Operation::RequestSense},
  };
  for (const auto& c : cases) {
    const std::size_t before = bridge->log().size();
    EXPECT_TRUE(c.send(io)) << c.name << ": " << io.DescribeLastFailure(kPath);
    ASSERT_EQ(bridge->log().size(), before + 1) << c.name;
    EXPECT_EQ(bridge->log().back().operation, c.operation) << c.name;
  }
  EXPECT_EQ(bridge->mediumAccessAttempts(), 0u);
  EXPECT_EQ(bus.openHandles(), 0u);
}

TEST_F(AgainstSimulatedBridge, FirmwareAreaRoundTripsInBlocks) {
  constexpr std::uint32_t kArea = 66560;
  std::array<std::uint8_t, 4> descriptor{};
  ASSERT_TRUE(ReadBuffer(io, kPath, kDescriptor, kFirmware, 0, descriptor));
  EXPECT_EQ(descriptor, (std::array<std::uint8_t, 4>{0x0A, 0x01, 0x04, 0x00}));

  std::vector<std::uint8_t> image(kArea);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 31 + 7);
  std::vector<std::uint8_t> back(kArea);
  for (std::uint32_t at = 0; at < kArea; at += 1024) {
    ASSERT_TRUE(
        WriteBuffer(io, kPath, kDeferred, kFirmware, at, std::span(image).subspan(at, 1024)))
        << at;
  }
  for (std::uint32_t at = 0; at < kArea; at += 1024) {
    ASSERT_TRUE(ReadBuffer(io, kPath, kData, kFirmware, at, std::span(back).subspan(at, 1024)))
        << at;
  }
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + 512, back.begin()));
  EXPECT_TRUE(std::equal(image.begin() + 1024, image.end(), back.begin() + 1024));
}

TEST_F(AgainstSimulatedBridge, NvramRecordRoundTripsAfterTheBridgeIsReady) {
  std::array<std::uint8_t, 512> record{};
  EXPECT_TRUE(WaitUntilReady(io, clock, kPath));
  EXPECT_EQ(clock.sleeps(), 2u) << "two busy reads, two pauses";
  ASSERT_TRUE(ReadNvram(io, kPath, 0x11000, record));
  EXPECT_EQ(std::string(record.begin() + 200, record.begin() + 208), "JMicron ");
  std::copy_n("Korvane", 7, record.begin() + 200);
  ASSERT_TRUE(WriteNvram(io, kPath, NvramWriteMode::Record, 0x11000, record));
  std::array<std::uint8_t, 512> again{};
  ASSERT_TRUE(ReadNvram(io, kPath, 0x11000, again));
  EXPECT_EQ(again, record);
}

#if GTEST_HAS_DEATH_TEST && !defined(_WIN32)
TEST(BridgeCommandsDeathTest, ChipTagShorterThanEightBytesIsACallerBug) {
  FakePort port;
  Transport io(port);
  EXPECT_DEATH(ReadChipTag(io, kPath, Scratch(7)), "length >= 0x08");
}
#endif

}  // namespace
}  // namespace korvane
