// The 512-byte NVRAM record a bridge keeps, laid out as the template at the end of a firmware
// image.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace korvane::sim {

/// Size of the bridge's NVRAM record.
inline constexpr std::size_t kNvramRecordSize = 512;
/// One NVRAM record.
using NvramRecord = std::array<std::uint8_t, kNvramRecordSize>;

/// What a record says about the enclosure; every text is 8-bit characters.
struct NvramIdentity {
  std::uint16_t usbVendor = 0;
  std::uint16_t usbProduct = 0;
  std::string_view manufacturer;  ///< USB string descriptor at 0x0C
  std::string_view product;       ///< USB string descriptor at 0x30
  std::string_view serial;        ///< USB string descriptor at 0x54
  std::string_view vendorText;    ///< identity text at 200, 8 bytes
  std::string_view productText;   ///< identity text at 208, 16 bytes
};

/// Builds a record from the template layout; texts too long for their place are cut.
NvramRecord NvramTemplate(const NvramIdentity& identity);

}  // namespace korvane::sim
