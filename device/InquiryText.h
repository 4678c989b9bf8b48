// The texts in a disk's INQUIRY data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "BridgeCommands.h"

namespace korvane {

/// Characters of model text: INQUIRY vendor and product identification.
inline constexpr std::size_t kModelTextLength = 24;

/// The model text in 40 bytes of INQUIRY data: bytes 8-31 up to the first zero, untrimmed.
std::string ModelText(std::span<const std::uint8_t, kInquiryLength> inquiry);

}  // namespace korvane
