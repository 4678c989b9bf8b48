// How the simulated bridge reads a CDB: which command it is and whether its bytes are well formed.
// Written from the bridge's protocol tables, never from the builders in device/, so that the
// simulator checks the builders instead of agreeing with them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "Port.h"

namespace korvane::sim {

/// The commands the bridge understands, named as the command set names them.
enum class Operation : std::uint8_t {
  Inquiry,
  RequestSense,
  ReadIdentity,
  ReadIdentityAlt,
  ReadStatus,
  ReadFlashType,
  ReadChipTag,
  ReadNvram,
  WriteNvram,
  ReadMemory,
  ReadConfigWord,
  ReadVendorB5,
  ReadBuffer,
  WriteBuffer,
  Unknown,
};

/// Number of operations, Unknown included; sizes per-operation counters.
inline constexpr std::size_t kOperationCount = static_cast<std::size_t>(Operation::Unknown) + 1;

/// The operation's name as the command set spells it ("ReadNvram", "Unknown"...).
std::string_view OperationName(Operation operation);
/// The operation with that exact name, or nothing.
std::optional<Operation> OperationFromName(std::string_view name);

/// What decoding found wrong with a CDB, if anything.
enum class CdbCheck : std::uint8_t {
  Ok,
  StandardForm,   ///< a standard command in a form other initiators use, not the command set's
  ForeignOpcode,  ///< the opcode is outside the bridge command set: aimed at the medium
  UnknownItem,    ///< a bridge opcode whose selector byte names no command
  BadLength,      ///< the command arrived with a CDB length other than its own
  BadDirection,   ///< data would move the other way than the command moves it
  BadField,       ///< a byte that the command fixes holds another value
};

/// True when the bridge carries the command out: in the command set's form or a standard one.
constexpr bool Answerable(CdbCheck check) {
  return check == CdbCheck::Ok || check == CdbCheck::StandardForm;
}

/// A decoded CDB: the operation it names and whether its form is acceptable.
struct DecodedCdb {
  Operation operation = Operation::Unknown;
  CdbCheck check = CdbCheck::ForeignOpcode;
};

/// Classifies a CDB by its opcode and selector byte, then checks its length, direction and fixed
/// bytes against the command's layout. Parameter fields are left to the command's handler. Only
/// the command set's own form is Ok: the system sends nothing else.
DecodedCdb Decode(std::span<const std::uint8_t> cdb, Direction direction);

}  // namespace korvane::sim
