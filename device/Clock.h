// Every wait of the program goes through a clock, so tests can run on simulated time.
#pragma once

#include <chrono>

namespace korvane {

/// Time source and pauses.
class Clock {
 public:
  virtual ~Clock() = default;

  /// Pauses the calling thread.
  virtual void Sleep(std::chrono::milliseconds duration) = 0;
  /// Monotonic time since an arbitrary start.
  virtual std::chrono::microseconds Now() const = 0;
};

/// The real clock: sleeps for real.
class SystemClock final : public Clock {
 public:
  void Sleep(std::chrono::milliseconds duration) override;
  std::chrono::microseconds Now() const override;
};

}  // namespace korvane
