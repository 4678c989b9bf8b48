// Where the few messages that the device layer shows to a user go: a message box on Windows,
// the terminal for the command-line tool, a recorder in tests.
#pragma once

#include <cstdint>
#include <string_view>

namespace korvane {

/// The icon a message is shown with.
enum class MessageIcon : std::uint8_t { Error, Warning };

/// Shows a modal message and returns once the user has seen it.
class MessageSink {
 public:
  virtual ~MessageSink() = default;
  /// Shows text under caption with the icon.
  virtual void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) = 0;
};

}  // namespace korvane
