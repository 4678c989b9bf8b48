#include "UsbIdentity.h"

#include <array>
#include <cstdio>

namespace korvane::gadget {
namespace {

constexpr std::uint16_t kMakerVendorId = 0x152D;

struct KindProduct {
  sim::BridgeKind kind;
  std::uint16_t idProduct;
};

// A plain disk behind no bridge of ours still needs some product id; 0 says "none".
constexpr std::array kKindProducts{
    KindProduct{sim::BridgeKind::Jms583, 0x0583},
    KindProduct{sim::BridgeKind::Jms578, 0x0578},
    KindProduct{sim::BridgeKind::None, 0x0000},
};

std::uint16_t Bcd(std::uint8_t number) {
  const unsigned two = number < 100 ? number : 99;
  return static_cast<std::uint16_t>((two / 10) << 4 | (two % 10));
}

std::uint16_t CustomProduct(const sim::BridgeConfig& bridge) {
  if (!bridge.identity) return 0;
  if (bridge.identity->bytes) {
    const auto& bytes = *bridge.identity->bytes;
    return static_cast<std::uint16_t>(bytes[4] << 8 | bytes[5]);
  }
  return bridge.identity->usbProduct;
}

std::uint16_t ProductOf(const sim::ScenarioDisk& disk) {
  for (const KindProduct& entry : kKindProducts) {
    if (entry.kind == disk.kind) return entry.idProduct;
  }
  return CustomProduct(disk.bridge);
}

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Where the NVRAM record keeps the maker's name the enclosure presents.
constexpr std::size_t kMakerTextAt = 200;
constexpr std::size_t kMakerTextSize = 8;

bool Printable(char c) { return c >= 0x20 && c < 0x7F; }

std::string DefaultSerial(std::size_t diskIndex) {
  std::array<char, 16> text{};
  std::snprintf(text.data(), text.size(), "KRV%09zu", (diskIndex + 1) % 1'000'000'000);
  return text.data();
}

}  // namespace

std::uint16_t BcdDevice(const sim::FirmwareVersion& running) {
  return static_cast<std::uint16_t>(Bcd(running[2]) << 8 | Bcd(running[3]));
}

std::string ManufacturerOf(std::span<const std::uint8_t> nvramRecord) {
  if (nvramRecord.size() < kMakerTextAt + kMakerTextSize) return "Bridge";
  std::string text;
  for (const std::uint8_t byte : nvramRecord.subspan(kMakerTextAt, kMakerTextSize)) {
    if (byte == 0) break;
    if (!Printable(static_cast<char>(byte))) return "Bridge";
    text.push_back(static_cast<char>(byte));
  }
  text = Trimmed(text);
  return text.empty() ? "Bridge" : text;
}

UsbIdentity IdentityOf(const sim::ScenarioDisk& disk, std::size_t diskIndex,
                       const sim::FirmwareVersion& running,
                       const std::optional<std::string>& serial) {
  const std::string product = Trimmed(disk.bridge.inquiry.product);
  return {.idVendor = kMakerVendorId,
          .idProduct = ProductOf(disk),
          .bcdDevice = BcdDevice(running),
          .manufacturer = ManufacturerOf(disk.bridge.nvramRecord),
          .product = product.empty() ? "Disk" : product,
          .serial = serial.value_or(DefaultSerial(diskIndex))};
}

}  // namespace korvane::gadget
