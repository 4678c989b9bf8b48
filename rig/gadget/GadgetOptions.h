// The command line of korvane-gadget.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace korvane::gadget {

/// The USB transport the gadget speaks.
enum class TransportKind : unsigned char { BulkOnly, Uas };

/// What the command line asks for.
struct GadgetOptions {
  TransportKind transport = TransportKind::BulkOnly;
  std::optional<std::string> udc{};  ///< nothing: the first controller in /sys/class/udc
  std::size_t disk = 0;
  std::optional<std::string> serial{};
  std::optional<std::string> ready{};  ///< file written once the gadget is bound
  /// file that gets a line for each command as it arrives: CLOCK_MONOTONIC seconds and the CDB
  std::optional<std::string> commandTimes{};
  std::string gadgetfs = "/dev/gadget";
  bool verbose = false;
  std::string scenario{};
};

/// Why the command line was refused, in one line.
struct UsageError {
  std::string message;
};

/// The usage text.
std::string_view Usage();

/// Parses the arguments after the program name.
std::variant<GadgetOptions, UsageError> ParseOptions(std::span<const std::string_view> args);

}  // namespace korvane::gadget
