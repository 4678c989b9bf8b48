// Which bridge chip sits behind a disk: a fixed order of questions whose answers map to an index
// into the chip code table.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "MessageSink.h"
#include "Transport.h"

namespace korvane {

/// ChipCode in the low byte, Revision in the high byte.
using BridgeInfo = std::uint16_t;

/// Packs a chip code and a revision.
constexpr BridgeInfo MakeBridgeInfo(std::uint8_t chipCode, std::uint8_t revision) {
  return static_cast<BridgeInfo>(chipCode | (revision << 8));
}
/// The chip code of a BridgeInfo: 0 when no chip was recognised.
constexpr std::uint8_t ChipCodeOf(BridgeInfo info) { return static_cast<std::uint8_t>(info); }
/// The revision of a BridgeInfo.
constexpr std::uint8_t RevisionOf(BridgeInfo info) { return static_cast<std::uint8_t>(info >> 8); }

/// The chip codes the update acts on.
inline constexpr std::uint8_t kChipCodeJms578 = 19;
inline constexpr std::uint8_t kChipCodeJms583 = 22;

/// Chip texts by chip code. Several texts occur twice; a lookup takes the lowest index, so the
/// higher duplicates are only ever assigned explicitly.
inline constexpr std::array<std::string_view, 40> ChipCodeTable{
    "",    "335", "336", "337", "337", "339", "329", "352", "353", "356",  //  0-9
    "356", "357", "551", "539", "569", "561", "562", "563", "565", "579",  // 10-19
    "576", "580", "583", "357", "352", "356", "356", "352", "356", "356",  // 20-29
    "560", "537", "519", "509", "339", "337", "338", "339", "335", "336",  // 30-39
};

/// The lowest chip code 1-39 whose text equals the three characters; 0 when none does.
std::uint8_t LookUpChipCode(std::span<const std::uint8_t, 3> characters);

/// Asks the bridge behind path which chip it is. Shows "Get chip information fail !" when a
/// chip of code 8 cannot tell its revision; every other failed question is silent.
BridgeInfo IdentifyBridge(Transport& io, std::string_view path, MessageSink& messages);

}  // namespace korvane
