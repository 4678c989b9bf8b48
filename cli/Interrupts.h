// Ctrl-C and SIGTERM while the flash is written: a half-written flash leaves the enclosure
// unusable, so the signal is only noted, and acted on once the update's outcome is known.
#pragma once

#include <csignal>

namespace korvane::cli {

/// Holds SIGINT and SIGTERM back from when it is armed until it is restored (at the latest when
/// it is destroyed). Only one may be armed at a time in a process.
class InterruptDeferral {
 public:
  InterruptDeferral() = default;
  ~InterruptDeferral() { Restore(); }
  InterruptDeferral(const InterruptDeferral&) = delete;
  InterruptDeferral& operator=(const InterruptDeferral&) = delete;

  /// Installs handlers that only note the signal; the handlers found are kept for Restore.
  void Arm();
  /// Puts the handlers found by Arm back; the noted signal stays readable.
  void Restore();
  bool armed() const { return armed_; }
  /// The first signal noted since Arm, or 0.
  int received() const;
  /// The exit code for the noted signal (128 plus its number), or 0 when none was noted.
  int exitCode() const;

 private:
  using Handler = void (*)(int);
  bool armed_ = false;
  Handler previousInterrupt_ = SIG_DFL;
  Handler previousTerminate_ = SIG_DFL;
  int received_ = 0;
};

}  // namespace korvane::cli
