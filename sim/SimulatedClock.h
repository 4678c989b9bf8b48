// Simulated time: a pause advances the clock at once, so no test ever sleeps.
#pragma once

#include <chrono>
#include <cstddef>

#include "Clock.h"

namespace korvane::sim {

/// A clock whose pauses only move its own time forward.
class SimulatedClock final : public Clock {
 public:
  void Sleep(std::chrono::milliseconds duration) override {
    now_ += duration;
    ++sleeps_;
  }
  std::chrono::microseconds Now() const override { return now_; }

  /// Moves time forward without counting a pause (time spent by a simulated device).
  void Advance(std::chrono::microseconds duration) { now_ += duration; }
  /// How many pauses were asked for.
  std::size_t sleeps() const { return sleeps_; }

 private:
  std::chrono::microseconds now_{0};
  std::size_t sleeps_ = 0;
};

}  // namespace korvane::sim
