#include "TMyThread.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "WindowLayout.h"

namespace korvane {
namespace {

using std::chrono::milliseconds;

/// A clock that records each pause and ends the loop after a number of them.
class StoppingClock final : public Clock {
 public:
  explicit StoppingClock(int pauses) : pauses_(pauses) {}
  void Attach(TMyThread& thread) { thread_ = &thread; }
  void Sleep(milliseconds duration) override {
    slept.push_back(duration);
    if (static_cast<int>(slept.size()) == pauses_) thread_->Terminate();
  }
  std::chrono::microseconds Now() const override { return {}; }
  std::vector<milliseconds> slept;

 private:
  int pauses_;
  TMyThread* thread_ = nullptr;
};

TEST(TMyThreadTest, FramesStartWithTheSecondAndChangeEveryHalfSecond) {
  StoppingClock clock(7);
  std::vector<std::string_view> shown;
  TMyThread thread([&](std::size_t frame) { shown.push_back(layout::kLoadingFrames[frame]); },
                   clock);
  clock.Attach(thread);

  thread.Execute();

  EXPECT_EQ(shown, (std::vector<std::string_view>{"LOADING2", "LOADING3", "LOADING1", "LOADING2",
                                                  "LOADING3", "LOADING1", "LOADING2"}));
  EXPECT_EQ(clock.slept, std::vector<milliseconds>(7, milliseconds{500}));
}

TEST(TMyThreadTest, FrameIndexStaysInRangeForEveryCounter) {
  for (std::int32_t counter : {0, 1, 2, 3, -1, -2, -3, INT32_MIN, INT32_MAX}) {
    EXPECT_LT(TMyThread::FrameFor(counter), layout::kLoadingFrames.size()) << counter;
  }
}

TEST(TMyThreadTest, StopEndsTheWorkerAndNoFrameFollows) {
  std::mutex mutex;
  std::condition_variable frameSeen;
  int frames = 0;
  bool stopped = false;
  bool frameAfterStop = false;
  // Real time: the stop has to cut the half-second pause short.
  TMyThread thread([&](std::size_t) {
    std::lock_guard lock(mutex);
    frameAfterStop = frameAfterStop || stopped;
    ++frames;
    frameSeen.notify_all();
  });

  thread.Resume();
  {
    std::unique_lock lock(mutex);
    frameSeen.wait(lock, [&] { return frames >= 1; });
  }
  thread.Stop();
  {
    std::lock_guard lock(mutex);
    stopped = true;
  }
  thread.Stop();  // a second stop is harmless

  EXPECT_TRUE(thread.Terminated());
  EXPECT_FALSE(frameAfterStop);
}

}  // namespace
}  // namespace korvane
