// Signals while the flash is written: a half-written flash leaves the enclosure unusable, and an
// update whose outcome is not recorded leaves no history, state or trace of what was written. So
// every signal that would end the program is only noted from the first write until the outcome
// is recorded, and acted on then.
#pragma once

#include <array>
#include <csignal>
#include <cstddef>

namespace korvane::cli {

/// The signals that end a program by default and can be caught, as this platform has them: the
/// terminal's (Ctrl-C, Ctrl-\, hang-up, Ctrl-Break), kill's default, and the timer and user
/// signals that a script or a supervisor may send.
inline constexpr auto kHeldSignals = std::to_array<int>({
    SIGINT,
    SIGTERM,
#ifdef SIGHUP
    SIGHUP,
#endif
#ifdef SIGQUIT
    SIGQUIT,
#endif
#ifdef SIGALRM
    SIGALRM,
#endif
#ifdef SIGUSR1
    SIGUSR1,
#endif
#ifdef SIGUSR2
    SIGUSR2,
#endif
#ifdef SIGBREAK
    SIGBREAK,
#endif
});

/// Holds the signals of kHeldSignals back from when it is armed until it is restored (at the
/// latest when it is destroyed). Only one may be armed at a time in a process.
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
  std::array<Handler, kHeldSignals.size()> previous_{};
  int received_ = 0;
};

}  // namespace korvane::cli
