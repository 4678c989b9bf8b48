#include "ScsiTarget.h"

#include <gtest/gtest.h>

#include <vector>

#include "SimulatedClock.h"

namespace korvane::gadget {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr DataDirection In = DataDirection::In;
constexpr DataDirection Out = DataDirection::Out;
constexpr DataDirection None = DataDirection::None;

struct Rig {
  explicit Rig(sim::BridgeConfig config = sim::DefaultConfig(sim::Chip::Jms583))
      : bridge(std::move(config)), target(bridge, clock) {}
  ScsiReply Run(const Bytes& cdb, DataDirection direction, std::uint32_t expectedIn,
                const Bytes& dataOut = {}) {
    return target.Execute(
        {.cdb = cdb, .direction = direction, .dataOut = dataOut, .expectedIn = expectedIn});
  }
  sim::SimulatedBridge bridge;
  sim::SimulatedClock clock;
  ScsiTarget target;
};

struct CommandCase {
  const char* what;
  Bytes cdb;
  DataDirection direction;
  std::uint32_t expectedIn;
  std::uint8_t status;
  std::uint8_t senseKey;
  std::uint8_t asc;
  std::size_t dataIn;
  bool reachesBridge;
};

// clang-format off
const CommandCase kCases[] = {
  {"kernel INQUIRY, 6 bytes",  {0x12, 0, 0, 0, 36, 0},                         In,   36,   0, 0, 0,    36, true},
  {"INQUIRY, 40 bytes",        {0x12, 0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0},       In,   40,   0, 0, 0,    40, true},
  {"INQUIRY for 300 bytes",    {0x12, 0, 0, 0x01, 0x2C, 0},                    In,   300,  0, 0, 0,    40, true},
  {"INQUIRY, VPD page",        {0x12, 0x01, 0x80, 0, 0xFF, 0},                 In,   255,  2, 5, 0x24, 0,  false},
  {"identity in 16 bytes",     {0xE0, 0xF4, 0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, In, 16, 2, 5, 0x24, 0, true},
  {"identity, host takes 12",  {0xE0, 0xF4, 0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0},   In,   12,   0, 0, 0,    12, true},
  {"unknown 0xFF item",        {0xFF, 0x04, 0x99, 0, 0, 0, 0, 0, 0, 0, 0, 0},  In,   8,    2, 5, 0x24, 0,  true},
  {"TEST UNIT READY",          {0x00, 0, 0, 0, 0, 0},                          None, 0,    0, 0, 0,    0,  false},
  {"READ CAPACITY(10)",        {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0},              In,   8,    0, 0, 0,    8,  false},
  {"READ CAPACITY(16)",        {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0}, In, 32, 0, 0, 0, 32, false},
  {"READ(10) of LBA 0",        {0x28, 0, 0, 0, 0, 0, 0, 0, 8, 0},              In,   4096, 0, 0, 0,    4096, false},
  {"READ(10) past the end",    {0x28, 0, 0, 0, 0x20, 0, 0, 0, 1, 0},           In,   512,  2, 5, 0x21, 0,  false},
  {"READ(10) over the end",    {0x28, 0, 0, 0, 0x1F, 0xFF, 0, 0, 2, 0},        In,   1024, 2, 5, 0x21, 0,  false},
  {"READ(16) past the end",    {0x88, 0, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0}, In, 512, 2, 5, 0x21, 0, false},
  {"MODE SENSE(6) for 192",    {0x1A, 0, 0x3F, 0, 192, 0},                     In,   192,  0, 0, 0,    4,  false},
  {"MODE SENSE(10)",           {0x5A, 0, 0x3F, 0, 0, 0, 0, 0, 0xFF, 0},        In,   255,  0, 0, 0,    8,  false},
  {"REPORT LUNS",              {0xA0, 0, 0, 0, 0, 0, 0, 0, 0x10, 0, 0, 0},     In,   4096, 0, 0, 0,    16, false},
  {"PREVENT ALLOW",            {0x1E, 0, 0, 0, 1, 0},                          None, 0,    0, 0, 0,    0,  false},
  {"REPORT SUPPORTED OPS",     {0xA3, 0x0C, 0, 0, 0, 0, 0, 0, 0x02, 0, 0, 0},  In,   512,  2, 5, 0x20, 0,  false},
  {"ATA PASS-THROUGH(16)",     {0x85, 0x08, 0x0E, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0xEC, 0}, In, 512, 2, 5, 0x20, 0, false},
};
// clang-format on

TEST(ScsiTargetTest, AnswersEachCommandFromTheRightSide) {
  for (const CommandCase& c : kCases) {
    SCOPED_TRACE(c.what);
    Rig rig;
    const ScsiReply reply = rig.Run(c.cdb, c.direction, c.expectedIn);
    EXPECT_TRUE(reply.present);
    EXPECT_EQ(reply.status, c.status);
    EXPECT_EQ(reply.sense[2], c.senseKey);
    EXPECT_EQ(reply.sense[12], c.asc);
    EXPECT_EQ(reply.dataIn.size(), c.dataIn);
    EXPECT_EQ(rig.bridge.log().size(), c.reachesBridge ? 1u : 0u);
    // The medium's commands are answered here; the bridge never sees one.
    EXPECT_EQ(rig.bridge.mediumAccessAttempts(), 0u);
  }
}

TEST(ScsiTargetTest, KeepsWhatIsWrittenToTheMedium) {
  Rig rig;
  const Bytes blocks(1024, 0x5A);
  const ScsiReply written = rig.Run({0x2A, 0, 0, 0, 0x10, 0, 0, 0, 2, 0}, Out, 0, blocks);
  EXPECT_EQ(written.status, 0);
  EXPECT_EQ(written.dataOutTaken, 1024u);
  const ScsiReply read = rig.Run({0x28, 0, 0, 0, 0x10, 0, 0, 0, 2, 0}, In, 1024);
  EXPECT_EQ(read.dataIn, blocks);
  const ScsiReply capacity = rig.Run({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, In, 8);
  EXPECT_EQ(capacity.dataIn, (Bytes{0, 0, 0x1F, 0xFF, 0, 0, 2, 0}));
}

struct FaultCase {
  const char* what;
  sim::FaultEffect effect;
  std::chrono::milliseconds delay;
  bool present;
  std::chrono::microseconds spent;  ///< time the answer took on the clock
};

TEST(ScsiTargetTest, SpendsLatencyAndHonoursFaults) {
  using std::chrono::milliseconds;
  const FaultCase cases[] = {
      {"no fault", sim::FaultEffect::Fail, milliseconds(0), true, milliseconds(3)},
      {"late answer", sim::FaultEffect::Late, milliseconds(500), true, milliseconds(503)},
      {"vanish", sim::FaultEffect::Vanish, milliseconds(0), false, milliseconds(0)},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(c.what);
    sim::BridgeConfig config = sim::DefaultConfig(sim::Chip::Jms583);
    config.latency = std::chrono::microseconds(2500);  // rounds up to whole milliseconds
    if (c.delay.count() > 0 || !c.present) {
      config.faults.push_back(
          {.operation = sim::Operation::ReadIdentity, .effect = c.effect, .delay = c.delay});
    }
    Rig rig(config);
    const ScsiReply reply = rig.Run({0xE0, 0xF4, 0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0}, In, 16);
    EXPECT_EQ(reply.present, c.present);
    EXPECT_EQ(rig.clock.Now(), c.spent);
    // The medium is behind the bridge: it goes with it.
    EXPECT_EQ(rig.Run({0x00, 0, 0, 0, 0, 0}, None, 0).present, c.present);
  }
}

TEST(ScsiTargetTest, ReportsTheBridgesSenseAndTheBootRomsVersion) {
  sim::BridgeConfig config = sim::DefaultConfig(sim::Chip::Jms583);
  config.faults.push_back({.operation = sim::Operation::ReadIdentity});
  Rig rig(config);
  const ScsiReply failed = rig.Run({0xE0, 0xF4, 0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0}, In, 16);
  EXPECT_EQ(failed.status, sim::scsi::kCheckCondition);
  EXPECT_EQ(failed.sense[2], sim::sense::kHardwareError);
  EXPECT_EQ(rig.bridge.sense()[2], sim::sense::kNoSense) << "delivered, so no longer kept";
  EXPECT_EQ(rig.target.runningVersion(), (sim::FirmwareVersion{0, 0, 0, 8}));

  sim::BridgeConfig rom = sim::DefaultConfig(sim::Chip::Jms583);
  rom.romMode = true;
  Rig romRig(rom);
  EXPECT_EQ(romRig.target.runningVersion(), sim::FirmwareVersion{});
}

}  // namespace
}  // namespace korvane::gadget
