// The bridge's answer to the identity read, decoded in one place: callers ask for fields by name
// instead of by offset.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "CommandSet.h"

namespace korvane {

/// Length of the bridge's identity answer.
inline constexpr std::size_t kIdentityBlockSize = 16;

/// True when an identity answer begins with the echoed signature F4 E7, which makes it valid.
constexpr bool HasIdentitySignature(std::span<const std::uint8_t> block) {
  return block.size() >= kIdentitySignature.size() && block[0] == kIdentitySignature[0] &&
         block[1] == kIdentitySignature[1];
}

/// The fields of a valid identity answer; bytes 0-1 are the signature and byte 7 means nothing
/// to us.
struct BridgeIdentity {
  std::array<std::uint8_t, 2> vendor{};   ///< bytes 2-3: the vendor id, high byte first
  std::array<std::uint8_t, 2> product{};  ///< bytes 4-5: the product id, high byte first
  bool romMode = false;                   ///< byte 6 is 0: the boot ROM runs, no firmware
  std::array<std::uint8_t, 3> model{};    ///< bytes 8-10: the chip's three model characters
  std::uint8_t revision = 0;              ///< byte 11: the revision as a character ('1', '2'...)
  std::array<std::uint8_t, 4> version{};  ///< bytes 12-15: the running firmware's version

  friend bool operator==(const BridgeIdentity&, const BridgeIdentity&) = default;
};

/// The fields of an identity answer; nothing without the signature or with fewer than 16 bytes.
std::optional<BridgeIdentity> ParseIdentityBlock(std::span<const std::uint8_t> bytes);

}  // namespace korvane
