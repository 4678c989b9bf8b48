// The busy animation: a worker that advances the three LOADING frames every 500 ms for as long as
// the window lives. It never touches the window itself; each frame is handed to the window's own
// thread through the sink, which on Windows posts a message.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "Clock.h"

namespace korvane {

/// The pause between two frames.
inline constexpr std::chrono::milliseconds kAnimationStep{500};

/// The animation thread.
class TMyThread {
 public:
  /// Receives the index of the next frame in layout::kLoadingFrames; called on the worker.
  using FrameSink = std::function<void(std::size_t frame)>;

  /// Creates the thread suspended, pausing in real time; Resume starts it.
  explicit TMyThread(FrameSink sink) : clock_(ownClock_), sink_(std::move(sink)) {}
  /// The same, pausing on the given clock.
  TMyThread(FrameSink sink, Clock& clock) : clock_(clock), sink_(std::move(sink)) {}
  /// Asks the loop to stop and waits for it: the window must outlive every frame it is sent.
  ~TMyThread();
  TMyThread(const TMyThread&) = delete;
  TMyThread& operator=(const TMyThread&) = delete;

  /// Starts the worker running Execute.
  void Resume();
  /// Asks the loop to stop after its current step.
  void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_; }
  /// Stops the worker and waits until it has ended, cutting a real-time pause short; safe to call
  /// more than once.
  void Stop();

  /// The loop: counter 1, 2, 3, ... shows frames LOADING2, LOADING3, LOADING1, ...
  void Execute();

  /// The frame for a counter value: remainder 0 gives LOADING1, 1 LOADING2, 2 LOADING3.
  static std::size_t FrameFor(std::int32_t counter);

 private:
  /// Real time whose pauses end early once the thread is stopped, so closing the window does not
  /// wait out a step.
  class WakeableClock final : public Clock {
   public:
    void Sleep(std::chrono::milliseconds duration) override;
    std::chrono::microseconds Now() const override { return system_.Now(); }
    void Wake();

   private:
    SystemClock system_;
    std::mutex mutex_;
    std::condition_variable woken_;
    bool awake_ = false;
  };

  WakeableClock ownClock_;
  Clock& clock_;
  FrameSink sink_;
  std::atomic<bool> terminated_{false};
  std::thread worker_;
};

}  // namespace korvane
