// Sense data as a device returns it, decoded once into key, ASC and ASCQ and into words.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace korvane {

/// The parts of sense data a user or a maintainer can act on.
struct SenseData {
  bool valid = false;  ///< the bytes held fixed- or descriptor-format sense with a key
  std::uint8_t key = 0;
  std::uint8_t asc = 0;
  std::uint8_t ascq = 0;

  friend bool operator==(const SenseData&, const SenseData&) = default;
};

/// Reads fixed (0x70/0x71) or descriptor (0x72/0x73) format sense; anything else is not valid.
SenseData DecodeSense(std::span<const std::uint8_t> bytes);

/// Words for decoded sense, e.g. "ILLEGAL REQUEST, invalid command operation code (05/20/00)".
std::string DescribeSense(const SenseData& sense);

}  // namespace korvane
