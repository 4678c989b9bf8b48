#include "SimulatedBus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <vector>

namespace korvane::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr std::string_view kPath =
    R"(\\?\usbstor#disk&ven_korvane&prod_nvme&rev_0100#0001&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b})";
const Bytes kReadIdentity{0xE0, 0xF4, 0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kReadStatus{0xFF, 0x04, 0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kWriteRecord{0xDF, 0x01, 0, 0x02, 0, 0, 0, 0, 0x01, 0x10, 0, 0xFB};
const Bytes kReadRecord{0xDF, 0x10, 0, 0x02, 0, 0, 0, 0, 0x01, 0x10, 0, 0xFA};

class SimulatedBusTest : public ::testing::Test {
 protected:
  SimulatedBridge& Plug(BridgeConfig config = DefaultConfig(Chip::Jms583)) {
    return bus.AddDisk(kPath, SimulatedBridge(std::move(config)));
  }

  /// Opens, executes and closes, as the transport does for every command.
  PortReply Run(const Bytes& cdb, Direction direction, std::span<std::uint8_t> data) {
    const PortOpen open = bus.Open(kPath, direction);
    if (!open.ok) return {.lastError = open.osError};
    PortRequest request;
    request.cdb = cdb;
    request.direction = direction;
    request.data = data;
    const PortReply reply = bus.Execute(open.handle, request);
    bus.Close(open.handle);
    return reply;
  }

  SimulatedClock clock;
  SimulatedBus bus{clock};
};

TEST_F(SimulatedBusTest, UnknownPathIsNotPresent) {
  const PortOpen open = bus.Open(kPath, Direction::In);
  EXPECT_FALSE(open.ok);
  EXPECT_EQ(open.osError, oserror::kFileNotFound);
  EXPECT_NE(bus.Explain(kPath, FailureStage::Open, open.osError).find("is not present"),
            std::string::npos);
}

TEST_F(SimulatedBusTest, PathsMatchWhateverTheLetterCase) {
  Plug();
  std::string upper(kPath);
  std::ranges::transform(upper, upper.begin(), [](char c) { return std::toupper(c); });
  const PortOpen open = bus.Open(upper, Direction::In);
  EXPECT_TRUE(open.ok);
  EXPECT_EQ(bus.Paths(), std::vector<std::string>{std::string(kPath)});
}

TEST_F(SimulatedBusTest, DataInNeverRunsPastTheRegion) {
  Plug();
  const struct {
    Bytes cdb;
    std::size_t region;
    std::uint32_t transferred;
  } cases[] = {
      {kReadIdentity, 12, 12},  // a 16-byte answer, cut
      {kReadIdentity, 16, 16},
      {kReadStatus, 2, 1},  // a length of 1 travels as 2; the bridge sends its one byte
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.region);
    Bytes memory(c.region + 4, 0);
    std::fill(memory.begin() + c.region, memory.end(), 0xEE);
    const PortReply reply = Run(c.cdb, Direction::In, std::span(memory).first(c.region));
    EXPECT_TRUE(reply.requestOk);
    EXPECT_EQ(reply.transferred, c.transferred);
    EXPECT_EQ(Bytes(memory.end() - 4, memory.end()), Bytes(4, 0xEE));
  }
}

TEST_F(SimulatedBusTest, DataOutReachesTheBridgeAndRejectionsCarryTheStatus) {
  SimulatedBridge& bridge = Plug();
  Bytes record(512, 0x3C);
  EXPECT_EQ(Run(kWriteRecord, Direction::Out, record).transferred, 512u);
  EXPECT_EQ(bridge.nvramRecord()[511], 0x3C);

  const PortReply rejected = Run(kReadRecord, Direction::Out, record);
  EXPECT_TRUE(rejected.requestOk);
  EXPECT_EQ(rejected.lastError, 0u);
  EXPECT_EQ(rejected.scsiStatus, scsi::kCheckCondition);
  EXPECT_EQ(rejected.transferred, 0u);
  EXPECT_EQ(rejected.sense[12], 0x24);
  EXPECT_EQ(bridge.sense()[12], 0x00) << "the sense came with the failure and is not kept";
}

TEST_F(SimulatedBusTest, EachCommandSpendsTheBridgeLatencyWithoutSleeping) {
  BridgeConfig config = DefaultConfig(Chip::Jms578);
  config.latency = 250us;
  Plug(config);
  Bytes status(2, 0);
  for (int i = 0; i < 3; ++i) Run(kReadStatus, Direction::In, status);
  EXPECT_EQ(clock.Now(), 750us);
  EXPECT_EQ(clock.sleeps(), 0u);
}

TEST_F(SimulatedBusTest, VanishedDiskFailsTheCommandAndLaterOpens) {
  BridgeConfig config = DefaultConfig(Chip::Jms583);
  config.faults = {{Operation::ReadIdentity, 1, FaultEffect::Vanish}};
  SimulatedBridge& bridge = Plug(config);
  Bytes block(16, 0);
  const PortReply reply = Run(kReadIdentity, Direction::In, block);
  EXPECT_FALSE(reply.requestOk);
  EXPECT_EQ(reply.lastError, oserror::kDeviceNotConnected);
  EXPECT_EQ(bus.Open(kPath, Direction::In).osError, oserror::kFileNotFound);

  bridge.Replug();
  EXPECT_TRUE(Run(kReadIdentity, Direction::In, block).requestOk);
}

TEST_F(SimulatedBusTest, HandlesArePerOpenAndDataOutOpensAlone) {
  Plug();
  const PortOpen first = bus.Open(kPath, Direction::In);
  const PortOpen second = bus.Open(kPath, Direction::In);
  ASSERT_TRUE(first.ok && second.ok);
  EXPECT_NE(first.handle, second.handle);
  EXPECT_EQ(bus.Open(kPath, Direction::Out).osError, oserror::kSharingViolation);
  bus.Close(first.handle);
  bus.Close(second.handle);

  const PortOpen writer = bus.Open(kPath, Direction::Out);
  ASSERT_TRUE(writer.ok);
  EXPECT_EQ(bus.Open(kPath, Direction::In).osError, oserror::kSharingViolation);
  bus.Close(writer.handle);
  EXPECT_EQ(bus.openHandles(), 0u);

  PortRequest request;
  request.cdb = kReadStatus;
  const PortReply stale = bus.Execute(writer.handle, request);
  EXPECT_FALSE(stale.requestOk);
  EXPECT_EQ(stale.lastError, oserror::kInvalidHandle);
}

TEST_F(SimulatedBusTest, DiskWithoutRightsRefusesEveryOpenAsAccessDenied) {
  bus.AddDisk(kPath, SimulatedBridge(DefaultConfig(Chip::Jms583)),
              {.accessDenied = true, .mountPoint = ""});
  for (const Direction direction : {Direction::In, Direction::Out}) {
    const PortOpen open = bus.Open(kPath, direction);
    EXPECT_FALSE(open.ok);
    EXPECT_EQ(open.osError, oserror::kAccessDenied);
  }
  EXPECT_EQ(bus.openHandles(), 0u);
  EXPECT_EQ(bus.Explain(kPath, FailureStage::Open, oserror::kAccessDenied)
                .rfind("no permission to open the simulated disk " + std::string(kPath) + ": ", 0),
            0u);

  const struct {
    FailureStage stage;
    std::uint32_t osError;
    bool denies;
  } cases[] = {
      {FailureStage::Open, oserror::kAccessDenied, true},
      {FailureStage::Request, oserror::kAccessDenied, false},
      {FailureStage::Open, oserror::kFileNotFound, false},
      {FailureStage::Open, oserror::kSharingViolation, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(bus.DeniesAccess(c.stage, c.osError), c.denies)
        << static_cast<int>(c.stage) << " " << c.osError;
  }
}

TEST_F(SimulatedBusTest, HostSideOfADiskIsKeptBesideItAndReplacedWithIt) {
  EXPECT_EQ(bus.Host(kPath), nullptr);
  bus.AddDisk(kPath, SimulatedBridge(DefaultConfig(Chip::Jms583)), {.mountPoint = "/media/k/NVME"});
  ASSERT_NE(bus.Host(kPath), nullptr);
  EXPECT_EQ(bus.Host(kPath)->mountPoint, "/media/k/NVME");
  EXPECT_TRUE(bus.Open(kPath, Direction::Out).ok);  // the bus only keeps it; it locks nothing

  // Plugging another disk in at the same path brings its own host side.
  bus.AddDisk(kPath, SimulatedBridge(DefaultConfig(Chip::Jms583)));
  EXPECT_EQ(*bus.Host(kPath), DiskHost{});
}

}  // namespace
}  // namespace korvane::sim
