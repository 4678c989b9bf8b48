// Which way a command's data moves and how much of it, from the CDB alone. A UAS command IU
// carries neither, so the device must know them per opcode, as a real bridge does.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace korvane::gadget {

/// Which way data moves in a command's data phase.
enum class DataDirection : std::uint8_t { None, In, Out };

/// The longest CDB a command IU or a CBW carries.
inline constexpr std::size_t kCdbFieldSize = 16;

/// A CDB as a device holds it: the bytes the host sent, zeros after them.
using CdbField = std::array<std::uint8_t, kCdbFieldSize>;

/// What the table knows of one command.
struct DataPhase {
  bool known = false;  ///< the opcode (and its selector byte) is in the table
  DataDirection direction = DataDirection::None;  ///< the command's own, even when length is 0
  std::uint32_t length = 0;                       ///< bytes the data phase carries; 0 with no data
  /// The length of the command's own CDB form, which a CDB padded in a UAS IU is taken to have.
  std::uint8_t cdbLength = 0;
};

/// Copies up to 16 bytes of a CDB into a zero-filled field.
CdbField ToField(std::span<const std::uint8_t> cdb);

/// The data phase of the command in a CDB field; unknown commands have none.
DataPhase PhaseOf(const CdbField& cdb);

/// True for the opcodes the bridge answers itself; everything else is the medium's.
bool IsBridgeOpcode(std::uint8_t opcode);

/// True when a data-in answer shorter than expected ends exactly on a packet boundary, so the
/// host cannot tell it ended: Bulk-Only then stalls the IN pipe, UAS sends a zero-length packet.
constexpr bool ShortEndsOnPacket(std::uint32_t sent, std::uint32_t expected,
                                 std::uint32_t maxPacket) {
  return sent < expected && maxPacket != 0 && sent % maxPacket == 0;
}

}  // namespace korvane::gadget
