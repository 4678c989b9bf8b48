#include "BridgeConfig.h"

#include <string_view>

namespace korvane::sim {
namespace {

/// What sets one chip apart from the other.
struct ChipDefaults {
  std::uint16_t usbProduct;
  std::uint16_t chipNumber;
  std::array<char, 3> chipCode;
  FirmwareVersion version;
  VersionEncoding encoding;
  std::string_view inquiryTag;
  std::string_view nvramProduct;
  std::uint32_t nvramAddress;
  std::uint32_t firmwareCapacity;
  std::uint32_t romCapacity;
};

// clang-format off
constexpr ChipDefaults kJms583{0x0583, 0x0583, {'5', '8', '3'}, {0, 0, 0, 8},
                               VersionEncoding::Binary, "j583", "USB to PCIE Bridge",
                               0x11000, 66560, 65536};
constexpr ChipDefaults kJms578{0x0578, 0x0579, {'5', '7', '9'}, {0, 1, 0, 3},
                               VersionEncoding::AsciiDigits, "", "USB to ATA/ATAPI Bridge",
                               0xD000, 50176, 50176};
// clang-format on

constexpr std::uint16_t kUsbVendor = 0x152D;

const ChipDefaults& DefaultsOf(Chip chip) { return chip == Chip::Jms583 ? kJms583 : kJms578; }

NvramRecord FactoryRecord(const ChipDefaults& chip) {
  return NvramTemplate({.usbVendor = kUsbVendor,
                        .usbProduct = chip.usbProduct,
                        .manufacturer = "JMicron",
                        .product = chip.nvramProduct,
                        .serial = "0123456789ABCDEF",
                        .vendorText = "JMicron ",
                        .productText = "Generic"});
}

}  // namespace

BridgeConfig DefaultConfig(Chip chip) {
  const ChipDefaults& defaults = DefaultsOf(chip);
  BridgeConfig config;
  config.inquiry.chipTag = defaults.inquiryTag;
  config.identity = IdentityConfig{.usbVendor = kUsbVendor,
                                   .usbProduct = defaults.usbProduct,
                                   .chipCode = defaults.chipCode,
                                   .bytes = std::nullopt};
  config.identityAlt = config.identity;
  config.chipNumber = defaults.chipNumber;
  config.firmwareVersion = defaults.version;
  config.versionEncoding = defaults.encoding;
  config.flashType = std::array<std::uint8_t, 4>{0x01, 0x00, 0x00, 0x00};
  config.configWord = std::array<std::uint8_t, 2>{0x00, 0x00};
  config.nvramAddress = defaults.nvramAddress;
  config.nvramRecord = FactoryRecord(defaults);
  config.firmwareCapacity = defaults.firmwareCapacity;
  config.romCapacity = defaults.romCapacity;
  return config;
}

bool SameTarget(const Fault& a, const Fault& b) {
  if (a.anyCommand != b.anyCommand || a.nth != b.nth) return false;
  return a.anyCommand || a.operation == b.operation;
}

}  // namespace korvane::sim
