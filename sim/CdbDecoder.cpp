#include "CdbDecoder.h"

#include <algorithm>
#include <array>

namespace korvane::sim {
namespace {

constexpr std::size_t kLongestLayout = 12;

/// A CDB layout as the protocol tables draw it: fixed bytes and parameter fields.
struct CdbPattern {
  std::array<std::uint8_t, kLongestLayout> value{};
  std::array<bool, kLongestLayout> fixed{};
  std::size_t length = 0;
};

consteval std::uint8_t HexDigit(char c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
  throw "a pattern byte is two upper-case hex digits or ..";  // stops the compilation
}

/// Reads "DF 10 .. 00": two hex digits are a byte the command fixes, ".." a parameter byte.
consteval CdbPattern Pattern(std::string_view text) {
  CdbPattern pattern;
  for (std::size_t at = 0; at < text.size(); at += 3) {
    if (pattern.length == kLongestLayout) throw "pattern longer than a layout";
    const std::size_t index = pattern.length++;
    if (text.substr(at, 2) == "..") continue;
    pattern.value[index] =
        static_cast<std::uint8_t>(HexDigit(text[at]) << 4 | HexDigit(text[at + 1]));
    pattern.fixed[index] = true;
  }
  return pattern;
}

/// One command: how it is recognised and the form it must arrive in.
struct CdbLayout {
  Operation operation;
  std::string_view name;
  CdbPattern pattern;
  std::size_t selector;  ///< the byte beside the opcode that picks the command (0: opcode alone)
  Direction direction;
};

// clang-format off
constexpr std::array kLayouts{
  CdbLayout{Operation::Inquiry,         "Inquiry",         Pattern("12 00 00 00 .. 00 00 00 00 00 00 00"), 0,  Direction::In},
  CdbLayout{Operation::RequestSense,    "RequestSense",    Pattern("03 00 00 00 .. 00 00 00 00 00 00 00"), 0,  Direction::In},
  CdbLayout{Operation::ReadIdentity,    "ReadIdentity",    Pattern("E0 F4 E7 00 00 00 00 00 00 00 00 00"), 0,  Direction::In},
  CdbLayout{Operation::ReadIdentityAlt, "ReadIdentityAlt", Pattern("FE F4 E7 00 00 00 00 00 00 00 00 00"), 0,  Direction::In},
  CdbLayout{Operation::ReadStatus,      "ReadStatus",      Pattern("FF 04 12 00 00 00 00 00 00 00 00 00"), 2,  Direction::In},
  CdbLayout{Operation::ReadFlashType,   "ReadFlashType",   Pattern("FF 04 23 04 00 00 00 00 00 00 00 00"), 2,  Direction::In},
  CdbLayout{Operation::ReadChipTag,     "ReadChipTag",     Pattern("FF 04 30 08 00 00 00 00 00 00 00 00"), 2,  Direction::In},
  CdbLayout{Operation::ReadNvram,       "ReadNvram",       Pattern("DF 10 .. .. .. 00 00 00 .. .. .. FA"), 11, Direction::In},
  CdbLayout{Operation::WriteNvram,      "WriteNvram",      Pattern("DF .. .. .. .. 00 00 00 .. .. .. FB"), 11, Direction::Out},
  CdbLayout{Operation::ReadMemory,      "ReadMemory",      Pattern("DF 10 00 .. .. 00 .. .. 00 00 00 FD"), 11, Direction::In},
  CdbLayout{Operation::ReadConfigWord,  "ReadConfigWord",  Pattern("DF 10 00 00 02 00 00 00 00 00 00 FF"), 11, Direction::In},
  CdbLayout{Operation::ReadVendorB5,    "ReadVendorB5",    Pattern("B5 00 00 00 00 .. 00 00 .. 00 00 00"), 0,  Direction::In},
  CdbLayout{Operation::ReadBuffer,      "ReadBuffer",      Pattern("3C .. .. .. .. .. .. .. .. 00"),       0,  Direction::In},
  CdbLayout{Operation::WriteBuffer,     "WriteBuffer",     Pattern("3B .. .. .. .. .. .. .. .. 00"),       0,  Direction::Out},
};
// clang-format on

/// A standard command in a form that the bridge answers though the command set never uses it.
struct StandardLayout {
  Operation operation;
  CdbPattern pattern;
};

// The kernel and SCSI tools send INQUIRY and REQUEST SENSE in their 6-byte form, and INQUIRY's
// allocation length fills bytes 3 and 4; under UAS the 12-byte form arrives with both bytes too.
// clang-format off
constexpr std::array kStandardLayouts{
  StandardLayout{Operation::Inquiry,      Pattern("12 00 00 .. .. 00")},
  StandardLayout{Operation::Inquiry,      Pattern("12 00 00 .. .. 00 00 00 00 00 00 00")},
  StandardLayout{Operation::RequestSense, Pattern("03 00 00 00 .. 00")},
};
// clang-format on

consteval bool InOperationOrder() {
  for (std::size_t i = 0; i < kLayouts.size(); ++i) {
    if (static_cast<std::size_t>(kLayouts[i].operation) != i) return false;
  }
  return kLayouts.size() + 1 == kOperationCount;
}
// OperationName indexes the table by the enum, so every operation but Unknown has its row, in
// order.
static_assert(InOperationOrder());

bool Selects(const CdbLayout& layout, std::span<const std::uint8_t> cdb) {
  const std::size_t key = layout.selector;
  return cdb[0] == layout.pattern.value[0] && key < cdb.size() &&
         cdb[key] == layout.pattern.value[key];
}

const CdbLayout* FindLayout(std::span<const std::uint8_t> cdb) {
  const auto found =
      std::ranges::find_if(kLayouts, [&](const CdbLayout& layout) { return Selects(layout, cdb); });
  return found == kLayouts.end() ? nullptr : &*found;
}

bool IsBridgeOpcode(std::uint8_t opcode) {
  return std::ranges::any_of(
      kLayouts, [&](const CdbLayout& layout) { return layout.pattern.value[0] == opcode; });
}

bool FixedBytesMatch(const CdbPattern& pattern, std::span<const std::uint8_t> cdb) {
  for (std::size_t i = 0; i < pattern.length; ++i) {
    if (pattern.fixed[i] && cdb[i] != pattern.value[i]) return false;
  }
  return true;
}

CdbCheck CheckForm(const CdbLayout& layout, std::span<const std::uint8_t> cdb,
                   Direction direction) {
  if (cdb.size() != layout.pattern.length) return CdbCheck::BadLength;
  if (direction != layout.direction) return CdbCheck::BadDirection;
  if (!FixedBytesMatch(layout.pattern, cdb)) return CdbCheck::BadField;
  return CdbCheck::Ok;
}

bool InStandardForm(const CdbLayout& layout, std::span<const std::uint8_t> cdb,
                    Direction direction) {
  return direction == layout.direction &&
         std::ranges::any_of(kStandardLayouts, [&](const StandardLayout& standard) {
           return standard.operation == layout.operation && cdb.size() == standard.pattern.length &&
                  FixedBytesMatch(standard.pattern, cdb);
         });
}

CdbCheck Check(const CdbLayout& layout, std::span<const std::uint8_t> cdb, Direction direction) {
  const CdbCheck check = CheckForm(layout, cdb, direction);
  if (check != CdbCheck::Ok && InStandardForm(layout, cdb, direction)) {
    return CdbCheck::StandardForm;
  }
  return check;
}

}  // namespace

std::string_view OperationName(Operation operation) {
  const auto index = static_cast<std::size_t>(operation);
  return index < kLayouts.size() ? kLayouts[index].name : "Unknown";
}

std::optional<Operation> OperationFromName(std::string_view name) {
  if (name == "Unknown") return Operation::Unknown;
  const auto found =
      std::ranges::find_if(kLayouts, [&](const CdbLayout& layout) { return layout.name == name; });
  if (found == kLayouts.end()) return std::nullopt;
  return found->operation;
}

DecodedCdb Decode(std::span<const std::uint8_t> cdb, Direction direction) {
  if (cdb.empty()) return {Operation::Unknown, CdbCheck::BadLength};
  const CdbLayout* layout = FindLayout(cdb);
  if (layout == nullptr) {
    return {Operation::Unknown,
            IsBridgeOpcode(cdb[0]) ? CdbCheck::UnknownItem : CdbCheck::ForeignOpcode};
  }
  return {layout->operation, Check(*layout, cdb, direction)};
}

}  // namespace korvane::sim
