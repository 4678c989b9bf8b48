// The frame every --json answer of korvane-fw comes in, so that a script can tell which layout it
// reads, which program and command wrote it, how the command ended and what it warned of, the
// same way for every command.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace korvane::cli {

/// The layout of the JSON answers; raised when a member changes meaning or goes away.
inline constexpr int kJsonFormatVersion = 1;

/// How much a message weighs.
enum class Severity : std::uint8_t { Information, Warning, Error };

/// "information", "warning" or "error".
std::string_view SeverityName(Severity severity);

/// A command's answer: its own members and the messages beside them. The frame is put around it
/// once the exit status is known, which comes only after the command has said all it says.
class JsonAnswer {
 public:
  /// The command's own members, a JSON object; a later call replaces an earlier one.
  void Set(nlohmann::ordered_json body) { body_ = std::move(body); }
  void Add(Severity severity, std::string text);
  /// {"json_format_version", "program": {"name", "version", "argv", "development_images"},
  /// "exit_status", "messages": [{"severity", "text"}...]}, then the command's members.
  nlohmann::ordered_json Framed(const std::vector<std::string>& argv, int exitStatus) const;

 private:
  std::optional<nlohmann::ordered_json> body_;
  std::vector<std::pair<Severity, std::string>> messages_;
};

}  // namespace korvane::cli
