// Everything a simulated bridge answers and keeps, with the defaults of the two chips we update.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "CdbDecoder.h"
#include "NvramTemplate.h"

namespace korvane::sim {

/// The bridge chips that have a default configuration.
enum class Chip : std::uint8_t { Jms583, Jms578 };

/// A firmware version a.b.c.d as the identity block reports it.
using FirmwareVersion = std::array<std::uint8_t, 4>;

/// How a firmware image stores its version at 0x19-0x1C.
enum class VersionEncoding : std::uint8_t {
  Binary,       ///< four bytes a, b, c, d
  AsciiDigits,  ///< four ASCII digits, one per number
};

/// The standard INQUIRY answer.
struct InquiryConfig {
  bool fails = false;               ///< INQUIRY is rejected with CHECK CONDITION
  std::string vendor = "JMicron ";  ///< bytes 8-15, blank-padded
  std::string product = "Generic";  ///< bytes 16-31, blank-padded
  std::string revision = "0100";    ///< bytes 32-35, blank-padded
  std::string chipTag;              ///< bytes 36-39 when not empty (four characters, e.g. "j583")

  friend bool operator==(const InquiryConfig&, const InquiryConfig&) = default;
};

/// The fixed part of the 16-byte identity block; the version and the ROM flag come from the state.
struct IdentityConfig {
  std::array<std::uint8_t, 2> signature{0xF4, 0xE7};
  std::uint16_t usbVendor = 0x152D;
  std::uint16_t usbProduct = 0;
  std::uint8_t codeVersion = 0x03;       ///< byte 6 while firmware runs; the boot ROM reports 0
  std::uint8_t codeVersionMinor = 0x05;  ///< byte 7
  std::array<char, 3> chipCode{'0', '0', '0'};  ///< bytes 8-10
  char revision = '1';                          ///< byte 11
  /// When set, the answer is exactly these bytes and every field above is ignored.
  std::optional<std::array<std::uint8_t, 16>> bytes;

  friend bool operator==(const IdentityConfig&, const IdentityConfig&) = default;
};

/// Buffer id 1 of READ BUFFER: a descriptor (mode 3) and vendor-specific data (mode 1).
struct BufferOneConfig {
  std::uint8_t boundary = 0;       ///< descriptor byte 0: the offset boundary as an exponent
  std::vector<std::uint8_t> data;  ///< mode 1 answer; its size is the capacity in the descriptor

  friend bool operator==(const BufferOneConfig&, const BufferOneConfig&) = default;
};

/// What an injected fault does to the command it hits.
enum class FaultEffect : std::uint8_t {
  Fail,     ///< CHECK CONDITION, HARDWARE ERROR, nothing changes
  Refuse,   ///< CHECK CONDITION, ILLEGAL REQUEST, which no driver retries; nothing changes
  Busy,     ///< ReadStatus reports busy; any other command gets SCSI status BUSY and does nothing
  Corrupt,  ///< one byte of the transfer is inverted: in the answer, or silently in what is stored
  Vanish,   ///< the disk drops off the bus during this command and stays away
  Late,     ///< the command is carried out, but its answer comes delay after the bus's latency
};

/// A fault on the nth command of one operation on one disk, counted from 1 over every command
/// of that operation the disk receives, rejected ones included. With anyCommand, nth counts
/// every command the disk receives, whatever its operation, and operation is not looked at.
struct Fault {
  Operation operation = Operation::Unknown;
  unsigned nth = 1;
  FaultEffect effect = FaultEffect::Fail;
  std::size_t byte = 0;     ///< Corrupt: the byte of the transfer to invert, cut to the last one
  bool anyCommand = false;  ///< nth counts all commands of all operations
  std::chrono::milliseconds delay{0};  ///< Late: how much later than usual the answer comes

  friend bool operator==(const Fault&, const Fault&) = default;
};

/// True when both faults would strike the same command, so that the second could never strike.
bool SameTarget(const Fault& a, const Fault& b);

/// A bridge's answers and initial state. Every field may be changed after DefaultConfig.
struct BridgeConfig {
  InquiryConfig inquiry;
  bool vendorCommands = true;    ///< false: every command but INQUIRY and REQUEST SENSE is rejected
  bool romMode = false;          ///< the flash holds no bootable image: the boot ROM runs
  std::uint16_t chipNumber = 0;  ///< image bytes 4-5 the boot code accepts as made for this chip
  std::optional<IdentityConfig> identity;     ///< ReadIdentity; nothing: rejected
  std::optional<IdentityConfig> identityAlt;  ///< ReadIdentityAlt; nothing: rejected
  FirmwareVersion firmwareVersion{};          ///< version of the firmware running at power-on
  VersionEncoding versionEncoding = VersionEncoding::Binary;
  unsigned busyReads = 0;  ///< status reads that report busy after each power-on
  std::optional<std::array<std::uint8_t, 4>> flashType;   ///< nothing: rejected
  std::optional<std::string> chipTag;                     ///< bytes 0-7; nothing: rejected
  std::optional<std::array<std::uint8_t, 2>> configWord;  ///< nothing: rejected
  std::optional<BufferOneConfig> bufferOne;               ///< nothing: buffer id 1 rejected
  bool vendorB5 = false;                                  ///< answers the 0xB5 read
  std::uint8_t memoryFdb1 = 0;                            ///< memory byte at 0xFDB1
  std::uint32_t nvramAddress = 0;                         ///< where the NVRAM record lives
  NvramRecord nvramRecord{};
  std::uint32_t firmwareCapacity = 0;    ///< buffer capacity while firmware runs: the firmware area
  std::uint32_t romCapacity = 0;         ///< buffer capacity the boot ROM reports
  std::chrono::microseconds latency{0};  ///< time each command takes on the bus
  std::vector<Fault> faults;

  /// Field by field: a scenario file writes only the fields that differ from its bridge type.
  friend bool operator==(const BridgeConfig&, const BridgeConfig&) = default;
};

/// The configuration of a bridge of that chip as it leaves the factory.
BridgeConfig DefaultConfig(Chip chip);

}  // namespace korvane::sim
