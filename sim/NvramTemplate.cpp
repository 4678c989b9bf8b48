#include "NvramTemplate.h"

#include <algorithm>
#include <span>

namespace korvane::sim {
namespace {

constexpr std::size_t kUsbIdsAt = 0x00;
constexpr std::size_t kManufacturerAt = 0x0C;
constexpr std::size_t kProductAt = 0x30;
constexpr std::size_t kSerialAt = 0x54;
constexpr std::size_t kVendorTextAt = 200;
constexpr std::size_t kVendorTextSize = 8;
constexpr std::size_t kProductTextAt = 208;
constexpr std::size_t kProductTextSize = 16;
constexpr std::uint8_t kStringDescriptorType = 0x03;

void PutLittleEndian16(std::span<std::uint8_t, 2> out, std::uint16_t value) {
  out[0] = static_cast<std::uint8_t>(value);
  out[1] = static_cast<std::uint8_t>(value >> 8);
}

/// Copies text into a field of fixed size; the rest of the field stays zero.
void PutText(std::span<std::uint8_t> field, std::string_view text) {
  const std::size_t count = std::min(field.size(), text.size());
  std::copy_n(text.begin(), count, field.begin());
}

/// A USB string descriptor with one byte per character: length, type 03, the characters.
void PutStringDescriptor(std::span<std::uint8_t> room, std::string_view text) {
  const std::size_t count = std::min(room.size() - 2, text.size());
  room[0] = static_cast<std::uint8_t>(count + 2);
  room[1] = kStringDescriptorType;
  PutText(room.subspan(2, count), text);
}

}  // namespace

NvramRecord NvramTemplate(const NvramIdentity& identity) {
  NvramRecord record{};
  const std::span<std::uint8_t> all(record);
  PutLittleEndian16(all.subspan<kUsbIdsAt, 2>(), identity.usbVendor);
  PutLittleEndian16(all.subspan<kUsbIdsAt + 2, 2>(), identity.usbProduct);
  // Each descriptor may use the room up to the next one; the serial number runs up to the texts.
  PutStringDescriptor(all.subspan(kManufacturerAt, kProductAt - kManufacturerAt),
                      identity.manufacturer);
  PutStringDescriptor(all.subspan(kProductAt, kSerialAt - kProductAt), identity.product);
  PutStringDescriptor(all.subspan(kSerialAt, kVendorTextAt - kSerialAt), identity.serial);
  PutText(all.subspan(kVendorTextAt, kVendorTextSize), identity.vendorText);
  PutText(all.subspan(kProductTextAt, kProductTextSize), identity.productText);
  return record;
}

}  // namespace korvane::sim
