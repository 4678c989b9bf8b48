#include "DataPhase.h"

#include <algorithm>

#include "ByteOrder.h"

namespace korvane::gadget {
namespace {

constexpr std::uint32_t kBlockSize = 512;

/// How a command's data length is found: a fixed count, or a big-endian CDB field times a unit.
struct LengthRule {
  std::uint32_t fixed = 0;
  std::uint8_t fieldAt = 0;  ///< 0: the length is fixed
  std::uint8_t fieldSize = 0;
  std::uint32_t unit = 1;
};

constexpr LengthRule Fixed(std::uint32_t count) { return {.fixed = count}; }
constexpr LengthRule Field(std::uint8_t at, std::uint8_t size, std::uint32_t unit = 1) {
  return {.fieldAt = at, .fieldSize = size, .unit = unit};
}

/// One command of the table. A selector byte tells apart commands that share an opcode.
struct PhaseRule {
  std::uint8_t opcode;
  std::uint8_t selectorAt;  ///< 0: the opcode alone picks the rule
  std::uint8_t selector;
  DataDirection direction;
  LengthRule length;
  std::uint8_t cdbLength;
};

constexpr DataDirection kNone = DataDirection::None;
constexpr DataDirection kIn = DataDirection::In;
constexpr DataDirection kOut = DataDirection::Out;

// The bridge's commands have the CDB lengths of its command set (12 bytes, 10 for the buffer
// commands); a UAS command IU, which pads every CDB to 16 bytes, leaves the device only these.
// clang-format off
constexpr std::array kRules{
  // The bridge's command set.
  PhaseRule{0x12, 0,  0,    kIn,   Field(3, 2),        12},  // INQUIRY
  PhaseRule{0x03, 0,  0,    kIn,   Field(4, 1),        12},  // REQUEST SENSE
  PhaseRule{0xE0, 0,  0,    kIn,   Fixed(16),          12},  // identity block
  PhaseRule{0xFE, 0,  0,    kIn,   Fixed(16),          12},  // identity block, alternate opcode
  // The status answer is one byte, but the host never asks for one: a length of 1 travels as 2.
  PhaseRule{0xFF, 2,  0x12, kIn,   Fixed(2),           12},  // status
  PhaseRule{0xFF, 2,  0x23, kIn,   Fixed(4),           12},  // flash type
  PhaseRule{0xFF, 2,  0x30, kIn,   Fixed(8),           12},  // chip tag
  PhaseRule{0xDF, 11, 0xFA, kIn,   Field(2, 3),        12},  // NVRAM read
  PhaseRule{0xDF, 11, 0xFB, kOut,  Field(2, 3),        12},  // NVRAM write
  PhaseRule{0xDF, 11, 0xFD, kIn,   Field(2, 3),        12},  // memory read
  PhaseRule{0xDF, 11, 0xFF, kIn,   Field(2, 3),        12},  // configuration word
  PhaseRule{0xB5, 0,  0,    kIn,   Fixed(512),         12},
  PhaseRule{0x3C, 0,  0,    kIn,   Field(6, 3),        10},  // READ BUFFER
  PhaseRule{0x3B, 0,  0,    kOut,  Field(6, 3),        10},  // WRITE BUFFER
  // The medium behind the bridge.
  PhaseRule{0x00, 0,  0,    kNone, Fixed(0),           6},   // TEST UNIT READY
  PhaseRule{0x1A, 0,  0,    kIn,   Field(4, 1),        6},   // MODE SENSE(6)
  PhaseRule{0x1B, 0,  0,    kNone, Fixed(0),           6},   // START STOP UNIT
  PhaseRule{0x1E, 0,  0,    kNone, Fixed(0),           6},   // PREVENT ALLOW MEDIUM REMOVAL
  PhaseRule{0x25, 0,  0,    kIn,   Fixed(8),           10},  // READ CAPACITY(10)
  PhaseRule{0x28, 0,  0,    kIn,   Field(7, 2, kBlockSize),  10},  // READ(10)
  PhaseRule{0x2A, 0,  0,    kOut,  Field(7, 2, kBlockSize),  10},  // WRITE(10)
  PhaseRule{0x35, 0,  0,    kNone, Fixed(0),           10},  // SYNCHRONIZE CACHE(10)
  PhaseRule{0x5A, 0,  0,    kIn,   Field(7, 2),        10},  // MODE SENSE(10)
  PhaseRule{0x88, 0,  0,    kIn,   Field(10, 4, kBlockSize), 16},  // READ(16)
  PhaseRule{0x8A, 0,  0,    kOut,  Field(10, 4, kBlockSize), 16},  // WRITE(16)
  PhaseRule{0x9E, 1,  0x10, kIn,   Field(10, 4),       16},  // READ CAPACITY(16)
  PhaseRule{0xA0, 0,  0,    kIn,   Field(6, 4),        12},  // REPORT LUNS
};
// clang-format on

bool Selects(const PhaseRule& rule, const CdbField& cdb) {
  if (cdb[0] != rule.opcode) return false;
  // SERVICE ACTION IN keeps its action in the low five bits of byte 1.
  const std::uint8_t mask = rule.opcode == 0x9E ? 0x1F : 0xFF;
  return rule.selectorAt == 0 || (cdb[rule.selectorAt] & mask) == rule.selector;
}

std::uint32_t LengthOf(const LengthRule& rule, const CdbField& cdb) {
  if (rule.fieldAt == 0) return rule.fixed;
  const std::uint64_t value = get_be(std::span(cdb).subspan(rule.fieldAt, rule.fieldSize));
  // A block count times the block size could pass 32 bits; no host asks for that much at once.
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(value * rule.unit, UINT32_MAX));
}

}  // namespace

CdbField ToField(std::span<const std::uint8_t> cdb) {
  CdbField field{};
  std::copy_n(cdb.begin(), std::min(cdb.size(), field.size()), field.begin());
  return field;
}

DataPhase PhaseOf(const CdbField& cdb) {
  const auto rule =
      std::ranges::find_if(kRules, [&](const PhaseRule& r) { return Selects(r, cdb); });
  if (rule == kRules.end()) return {};
  const std::uint32_t length = LengthOf(rule->length, cdb);
  // A data-out command of length 0 keeps its direction: the bridge checks it.
  return {
      .known = true, .direction = rule->direction, .length = length, .cdbLength = rule->cdbLength};
}

bool IsBridgeOpcode(std::uint8_t opcode) {
  constexpr std::array<std::uint8_t, 9> kBridge{0x12, 0x03, 0xE0, 0xFE, 0xFF,
                                                0xDF, 0xB5, 0x3C, 0x3B};
  return std::ranges::find(kBridge, opcode) != kBridge.end();
}

}  // namespace korvane::gadget
