// SHA-256 (FIPS 180-4), from the platform's library (nettle; Windows' CNG), for naming the
// files korvane-fw writes to a bridge and the backups it keeps.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace korvane {

using Sha256Digest = std::array<std::uint8_t, 32>;

/// The digest of bytes.
Sha256Digest Sha256(std::span<const std::uint8_t> bytes);

/// The digest as 64 lower-case hex digits.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace korvane
