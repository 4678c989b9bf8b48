#include "DeviceChanges.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "SimulatedClock.h"

namespace korvane {
namespace {

using std::chrono::milliseconds;

/// Changes at given times on a simulated clock; after the last one, either quiet for ever or
/// the end of all changes.
class ScriptedChanges final : public DeviceChanges {
 public:
  ScriptedChanges(sim::SimulatedClock& clock, std::vector<milliseconds> at, bool ends)
      : clock_(clock), at_(std::move(at)), ends_(ends) {}

  std::optional<std::string> Listen() override { return std::nullopt; }

  ChangeWait Wait(milliseconds timeout) override {
    if (next_ == at_.size() && ends_) return ChangeWait::Ended;
    const auto deadline = clock_.Now() + timeout;
    if (next_ == at_.size() || at_[next_] > deadline) {
      clock_.Advance(timeout);
      return ChangeWait::Quiet;
    }
    if (at_[next_] > clock_.Now()) clock_.Advance(at_[next_] - clock_.Now());
    ++next_;
    return ChangeWait::Change;
  }

  std::size_t told() const { return next_; }

 private:
  sim::SimulatedClock& clock_;
  std::vector<milliseconds> at_;
  bool ends_;
  std::size_t next_ = 0;
};

TEST(WaitForSettledChanges, ActsOnceTheLastChangeOfABurstIsQuietForTheInterval) {
  struct Case {
    const char* name;
    std::vector<milliseconds> changes;
    bool ends;
    milliseconds stopAt;  ///< when stop starts to answer yes
    SettledWait result;
    milliseconds returnsAt;
    std::size_t told;  ///< changes taken in before returning
  };
  constexpr milliseconds kNever{1'000'000};
  const Case cases[] = {
      {"one change",
       {milliseconds{1000}},
       false,
       kNever,
       SettledWait::Settled,
       milliseconds{1500},
       1},
      {"three changes 200 ms apart",
       {milliseconds{0}, milliseconds{200}, milliseconds{400}},
       false,
       kNever,
       SettledWait::Settled,
       milliseconds{900},
       3},
      {"a change after the interval is the next burst",
       {milliseconds{0}, milliseconds{600}},
       false,
       kNever,
       SettledWait::Settled,
       milliseconds{500},
       1},
      {"a last change before the end still waits its interval",
       {milliseconds{100}},
       true,
       kNever,
       SettledWait::Settled,
       milliseconds{600},
       1},
      {"no change can come", {}, true, kNever, SettledWait::Ended, milliseconds{0}, 0},
      {"stopped while nothing changes",
       {},
       false,
       milliseconds{3000},
       SettledWait::Interrupted,
       milliseconds{3000},
       0},
      {"stopped within a burst",
       {milliseconds{0}, milliseconds{200}},
       false,
       milliseconds{300},
       SettledWait::Interrupted,
       milliseconds{400},
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimulatedClock clock;
    ScriptedChanges changes(clock, c.changes, c.ends);
    const auto stop = [&] { return clock.Now() >= c.stopAt; };
    EXPECT_EQ(WaitForSettledChanges(changes, clock, milliseconds{500}, stop), c.result);
    EXPECT_EQ(clock.Now(), c.returnsAt);
    EXPECT_EQ(changes.told(), c.told);
  }
}

}  // namespace
}  // namespace korvane
