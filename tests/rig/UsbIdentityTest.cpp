#include "UsbIdentity.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

namespace korvane::gadget {
namespace {

struct IdentityCase {
  const char* what;
  sim::BridgeKind kind;
  sim::FirmwareVersion running;
  std::size_t disk;
  std::optional<std::string> serial;
  std::uint16_t idProduct;
  std::uint16_t bcdDevice;
  std::string expectedSerial;
};

// clang-format off
const IdentityCase kCases[] = {
  {"JMS583 firmware",  sim::BridgeKind::Jms583, {0, 0, 0, 8},     0, std::nullopt, 0x0583, 0x0008, "KRV000000001"},
  {"JMS578 firmware",  sim::BridgeKind::Jms578, {0, 1, 12, 34},   1, std::nullopt, 0x0578, 0x1234, "KRV000000002"},
  {"boot ROM",         sim::BridgeKind::Jms583, {0, 0, 0, 0},     0, "ABC",        0x0583, 0x0000, "ABC"},
  {"numbers past 99",  sim::BridgeKind::Jms583, {1, 2, 100, 255}, 0, std::nullopt, 0x0583, 0x9999, "KRV000000001"},
  {"plain disk",       sim::BridgeKind::None,   {0, 0, 1, 2},     4, std::nullopt, 0x0000, 0x0102, "KRV000000005"},
};
// clang-format on

TEST(UsbIdentityTest, FollowsTheChipAndTheRunningFirmware) {
  for (const IdentityCase& c : kCases) {
    SCOPED_TRACE(c.what);
    sim::ScenarioDisk disk;
    disk.kind = c.kind;
    disk.bridge = sim::KindDefaults(c.kind);
    disk.bridge.inquiry.product = "  NVMe Enclosure  ";
    const UsbIdentity identity = IdentityOf(disk, c.disk, c.running, c.serial);
    EXPECT_EQ(identity.idVendor, 0x152D);
    EXPECT_EQ(identity.idProduct, c.idProduct);
    EXPECT_EQ(identity.bcdDevice, c.bcdDevice);
    // The factory record's maker text; a disk without a bridge has no record.
    EXPECT_EQ(identity.manufacturer, c.kind == sim::BridgeKind::None ? "Bridge" : "JMicron");
    EXPECT_EQ(identity.product, "NVMe Enclosure");
    EXPECT_EQ(identity.serial, c.expectedSerial);
  }
}

TEST(UsbIdentityTest, ManufacturerIsTheNvramRecordsMakerText) {
  const auto record = [](std::string_view text) {
    sim::NvramRecord bytes = sim::KindDefaults(sim::BridgeKind::Jms583).nvramRecord;
    std::fill_n(bytes.begin() + 200, 8, 0);
    std::copy(text.begin(), text.end(), bytes.begin() + 200);
    return bytes;
  };
  EXPECT_EQ(ManufacturerOf(record("Korvane ")), "Korvane");  // as an update rewrites it
  EXPECT_EQ(ManufacturerOf(record("")), "Bridge");           // erased
  EXPECT_EQ(ManufacturerOf(record("Ab\x01zz")), "Bridge");   // garbage
  EXPECT_EQ(ManufacturerOf(std::span<const std::uint8_t>{}), "Bridge");
}

TEST(UsbIdentityTest, CustomBridgeTakesItsIdentityBlock) {
  sim::ScenarioDisk disk;
  disk.kind = sim::BridgeKind::Custom;
  disk.bridge = sim::KindDefaults(sim::BridgeKind::Custom);
  EXPECT_EQ(IdentityOf(disk, 0, {}, std::nullopt).idProduct, 0x0000);
  disk.bridge.identity = sim::IdentityConfig{};
  disk.bridge.identity->usbProduct = 0x2362;
  EXPECT_EQ(IdentityOf(disk, 0, {}, std::nullopt).idProduct, 0x2362);
  disk.bridge.identity->bytes = std::array<std::uint8_t, 16>{0xF4, 0xE7, 0x15, 0x2D, 0x05, 0x80};
  EXPECT_EQ(IdentityOf(disk, 0, {}, std::nullopt).idProduct, 0x0580);
  disk.bridge.inquiry.product = "   ";
  EXPECT_EQ(IdentityOf(disk, 0, {}, std::nullopt).product, "Disk");
}

}  // namespace
}  // namespace korvane::gadget
