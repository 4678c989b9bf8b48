#include "TMyThread.h"

namespace korvane {

TMyThread::~TMyThread() { Stop(); }

void TMyThread::Resume() {
  if (!worker_.joinable()) worker_ = std::thread([this] { Execute(); });
}

void TMyThread::Stop() {
  Terminate();
  ownClock_.Wake();
  if (worker_.joinable()) worker_.join();
}

void TMyThread::Execute() {
  std::int32_t counter = 0;
  while (!Terminated()) {
    ++counter;
    sink_(FrameFor(counter));
    clock_.Sleep(kAnimationStep);
  }
}

void TMyThread::WakeableClock::Sleep(std::chrono::milliseconds duration) {
  std::unique_lock lock(mutex_);
  woken_.wait_for(lock, duration, [this] { return awake_; });
}

void TMyThread::WakeableClock::Wake() {
  {
    std::lock_guard lock(mutex_);
    awake_ = true;
  }
  woken_.notify_all();
}

std::size_t TMyThread::FrameFor(std::int32_t counter) {
  // The counter cannot run past 2^31 in this program's life (one step per 500 ms is 34 years),
  // but a negative remainder would index before the first frame, so it is kept non-negative.
  const std::int32_t remainder = counter % 3;
  return static_cast<std::size_t>(remainder < 0 ? remainder + 3 : remainder);
}

}  // namespace korvane
