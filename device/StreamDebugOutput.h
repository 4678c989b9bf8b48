// Debug lines on a stream: stderr with --verbose on Linux and on the command line. Apart from
// DebugOutput.h, so that a program that writes its lines elsewhere carries no stream code.
#pragma once

#include <ostream>
#include <string_view>

#include "DebugOutput.h"
#include "Text.h"

namespace korvane {

/// Debug lines on a stream, or nowhere.
class StreamDebugOutput final : public DebugOutput {
 public:
  /// Writes to out when it is given; drops everything otherwise.
  explicit StreamDebugOutput(std::ostream* out) : out_(out) {}
  /// Writes text with what a device or the system put in it made printable; a line's own end is
  /// kept.
  void Write(std::string_view text) override {
    if (out_ == nullptr) return;
    const bool line = text.ends_with('\n');
    if (line) text.remove_suffix(1);
    *out_ << Printable(text) << (line ? "\n" : "") << std::flush;
  }

 private:
  std::ostream* out_;
};

}  // namespace korvane
