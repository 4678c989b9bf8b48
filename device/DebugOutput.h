// Lines for a developer watching the program: the debugger output on Windows, stderr with
// --verbose on the command line, a recorder in tests. Users never see them.
#pragma once

#include <string_view>

namespace korvane {

/// Where trace lines for a debugger go.
class DebugOutput {
 public:
  virtual ~DebugOutput() = default;
  /// Writes text as it stands; a line that wants a line break carries it.
  virtual void Write(std::string_view text) = 0;
};

}  // namespace korvane
