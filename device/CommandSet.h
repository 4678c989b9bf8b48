// The numbers of the bridge command set: opcodes, the selector and mode bytes that tell commands
// apart, and the buffer ids. The transport's allow-list and time-out rule read raw CDBs and the
// builders write them, so both take their numbers from here; the simulator decodes on its own.
#pragma once

#include <array>
#include <cstdint>
#include <type_traits>

namespace korvane {

/// Opcodes of the bridge command set.
namespace opcode {
inline constexpr std::uint8_t kInquiry = 0x12;
inline constexpr std::uint8_t kRequestSense = 0x03;
inline constexpr std::uint8_t kIdentity = 0xE0;
inline constexpr std::uint8_t kIdentityAlt = 0xFE;
inline constexpr std::uint8_t kShortRead = 0xFF;
inline constexpr std::uint8_t kNvram = 0xDF;
inline constexpr std::uint8_t kVendorB5 = 0xB5;
inline constexpr std::uint8_t kReadBuffer = 0x3C;
inline constexpr std::uint8_t kWriteBuffer = 0x3B;
}  // namespace opcode

/// Every opcode above: nothing else may leave the program.
inline constexpr std::array<std::uint8_t, 9> kBridgeOpcodes{
    opcode::kInquiry,     opcode::kRequestSense, opcode::kIdentity,
    opcode::kIdentityAlt, opcode::kShortRead,    opcode::kNvram,
    opcode::kVendorB5,    opcode::kReadBuffer,   opcode::kWriteBuffer};

/// The identity commands carry it in CDB bytes 1-2, and a valid answer echoes it in bytes 0-1.
inline constexpr std::array<std::uint8_t, 2> kIdentitySignature{0xF4, 0xE7};

/// Byte 11 of an 0xDF command: what it reaches.
namespace nvramselector {
inline constexpr std::uint8_t kRead = 0xFA;
inline constexpr std::uint8_t kWrite = 0xFB;
inline constexpr std::uint8_t kMemory = 0xFD;
inline constexpr std::uint8_t kConfigWord = 0xFF;
}  // namespace nvramselector

/// Byte 1 of every 0xDF read.
inline constexpr std::uint8_t kNvramReadMode = 0x10;
/// The bits of an NVRAM write mode that byte 1 carries.
inline constexpr std::uint8_t kNvramWriteModeBits = 0x87;

/// Byte 1 of an 0xDF write.
enum class NvramWriteMode : std::uint8_t {
  Record = 0x01,       ///< stores the data at the address
  StartLoader = 0x03,  ///< no data: the downloaded loader opens the flash
};

/// Byte 1 of READ BUFFER.
enum class ReadBufferMode : std::uint8_t {
  Data = 0x01,        ///< the buffer's bytes from an offset
  Descriptor = 0x03,  ///< four bytes: the offset boundary and the 24-bit capacity
};

/// Byte 1 of WRITE BUFFER.
enum class WriteBufferMode : std::uint8_t {
  DownloadActivate = 0x06,  ///< download with offsets and activate
  DownloadDeferred = 0x0E,  ///< download with offsets, save, defer activation
  ActivateDeferred = 0x0F,  ///< activate what was deferred: no buffer id, offset or length
};

/// Byte 2 of the buffer commands.
enum class BufferId : std::uint8_t {
  Firmware = 0x00,   ///< the flash image
  Vendor = 0x01,     ///< vendor data that tells some chips apart
  LongWrite = 0x13,  ///< writes to it take the long time-out
};

/// The byte a mode or buffer id puts into a CDB.
template <typename Enum>
requires std::is_enum_v<Enum>
constexpr std::uint8_t Byte(Enum value) { return static_cast<std::uint8_t>(value); }

}  // namespace korvane
