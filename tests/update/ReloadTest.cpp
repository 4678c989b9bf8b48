#include "Reload.h"

#include <gtest/gtest.h>

#include <functional>

#include "JobRig.h"
#include "Text.h"

namespace korvane::testing {
namespace {

using std::chrono::milliseconds;
using Version = std::array<std::uint8_t, 4>;

constexpr Version kBefore{0, 0, 0, 8};
constexpr Version kWritten{0, 0, 1, 2};

/// Device changes as a script: each event changes the bus and is one burst, followed by quiet.
struct ScriptedChanges final : DeviceChanges {
  explicit ScriptedChanges(sim::SimulatedClock& time) : clock(time) {}
  sim::SimulatedClock& clock;
  std::vector<std::function<void()>> events;
  std::size_t next = 0;
  std::optional<std::chrono::microseconds> last;  ///< when the last event came

  std::optional<std::string> Listen() override { return std::nullopt; }
  ChangeWait Wait(milliseconds timeout) override {
    // An event comes only once the one before has lain quiet for twice the rescan interval.
    const bool settled = !last || clock.Now() - *last >= 2 * kRescanInterval;
    if (settled && next < events.size()) {
      events[next++]();
      last = clock.Now();
      return ChangeWait::Change;
    }
    clock.Sleep(timeout);
    return ChangeWait::Quiet;
  }
};

TEST(ReloadTest, TheWaitJudgesOnlyTheEnclosureItWaitsFor) {
  enum class Show : std::uint8_t {
    Gone,
    Written,
    Before,
    Other,
    RomMode,
    OtherDiskToo,
    OtherAlone
  };
  struct Case {
    const char* what;
    std::vector<Show> shows;
    bool stop;
    ReplugResult result;
  };
  const Case cases[] = {
      {"back with the version written", {Show::Gone, Show::Written}, false, ReplugResult::Runs},
      {"back at once with it", {Show::Written}, false, ReplugResult::Runs},
      {"back in the boot ROM", {Show::RomMode}, false, ReplugResult::BootRom},
      {"gone, back with what ran before",
       {Show::Gone, Show::Before},
       false,
       ReplugResult::OtherVersion},
      {"never gone, what ran before", {Show::Before, Show::Before}, false, ReplugResult::NotBack},
      {"a third version without going", {Show::Other}, false, ReplugResult::OtherVersion},
      {"another disk plugged in beside it", {Show::OtherDiskToo}, false, ReplugResult::NotBack},
      {"another chip alone", {Show::Gone, Show::OtherAlone}, false, ReplugResult::NotBack},
      {"the user stops the wait", {}, true, ReplugResult::Interrupted},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    JobRig rig;
    rig.Plug(kJobDisk, RunningConfig(Jms583(), kBefore));
    rig.Plug(kOtherDisk, RunningConfig(Jms578(), {0, 1, 0, 3}));
    rig.lister.hidden = {std::string(kOtherDisk)};
    ScriptedChanges changes(rig.clock);
    const auto show = [&rig](Show what) {
      rig.lister.hidden = {std::string(kOtherDisk)};
      sim::BridgeConfig config = RunningConfig(Jms583(),
                                               what == Show::Other    ? Version{0, 0, 0, 9}
                                               : what == Show::Before ? kBefore
                                                                      : kWritten,
                                               what == Show::RomMode);
      rig.Plug(kJobDisk, config);
      if (what == Show::Gone) rig.lister.hidden.insert(std::string(kJobDisk));
      if (what == Show::OtherAlone) rig.lister.hidden = {std::string(kJobDisk)};
      if (what == Show::OtherDiskToo) rig.lister.hidden.clear();
    };
    for (const Show what : c.shows) changes.events.emplace_back([&show, what] { show(what); });
    int waits = 0;
    const ReloadWait wait{changes, rig.clock, [&] { return c.stop && ++waits > 1; }, {}};
    ReloadExpectation expected;
    expected.chipCode = Jms583().chipCode;
    expected.path = kJobDisk;
    expected.before = kBefore;
    expected.written = kWritten;
    expected.wait = milliseconds(60'000);

    const ReloadSeen seen = WaitForReload(rig.job, wait, expected);
    EXPECT_EQ(seen.result, c.result);
    if (c.result == ReplugResult::Runs || c.result == ReplugResult::OtherVersion) {
      EXPECT_EQ(AsciiLower(seen.path), AsciiLower(kJobDisk));
    }
  }
}

}  // namespace
}  // namespace korvane::testing
