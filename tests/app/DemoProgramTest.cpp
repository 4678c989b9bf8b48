// The demonstration's shared part: the stacks its command line names, what it refuses and with
// which code, a replay that leaves its recording, and stack time that keeps up with the time the
// window has been running, so that a disk plugged in later comes.
#include "DemoProgram.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "SimulatedClock.h"
#include "SimulatedDevices.h"

namespace korvane::demo {
namespace {

using namespace std::chrono_literals;

/// A window that lists the disks it is given, may act on them, and ends with a code of its own.
struct FakeDemoWindow {
  DemoWindow Face() {
    return {"demo",
            [this](Devices& devices) {
              disks = devices.lister().ListDisks().size();
              if (act) act(devices);
              return kWindowCode;
            },
            [this](const std::string& text) { refusals.push_back(text); }};
  }
  static constexpr int kWindowCode = 7;
  std::function<void(Devices&)> act;
  std::size_t disks = 0;
  std::vector<std::string> refusals;
};

/// Sends REQUEST SENSE to the first disk, a command no recording starts with.
void SendRequestSense(Devices& devices) {
  const auto disks = devices.lister().ListDisks();
  ASSERT_FALSE(disks.empty());
  const PortOpen open = devices.port().Open(disks.front().path, Direction::In);
  ASSERT_TRUE(open.ok);
  const std::array<std::uint8_t, 6> cdb{0x03, 0, 0, 0, 18, 0};
  std::array<std::uint8_t, 8192> data{};
  devices.port().Execute(open.handle, PortRequest{cdb, Direction::In, data, 10, {}});
  devices.port().Close(open.handle);
}

struct CommandLine {
  std::vector<std::string> arguments;
  std::function<void(Devices&)> act;
  int code;
  std::size_t disks;         ///< what the window listed; 0 where it never ran
  std::string refusalStart;  ///< empty where nothing is refused
};

TEST(DemoProgram, RunsWhatTheCommandLineNamesAndRefusesTheRestWithTheUsageCode) {
  const std::string trace = std::string(KORVANE_SIM_CORPUS) + "/jms583-outdated-check.trace";
  const std::string usage = "usage: demo [SCENARIO | --replay FILE]";
  const std::vector<CommandLine> cases{
      {{}, {}, FakeDemoWindow::kWindowCode, 1, ""},
      {{"two-enclosures"}, {}, FakeDemoWindow::kWindowCode, 2, ""},
      // Clicks that stop short of the recording are no difference.
      {{"--replay", trace}, {}, FakeDemoWindow::kWindowCode, 1, ""},
      {{"--replay", trace}, SendRequestSense, kBadInput, 1, trace + ":"},
      {{"no-such-scenario"}, {}, kBadInput, 0, "Cannot load the scenario: "},
      {{"--replay", trace + ".missing"}, {}, kBadInput, 0, "Cannot replay the trace: "},
      {{"--replay"}, {}, kBadInput, 0, usage},
      {{"--replay", trace, "more"}, {}, kBadInput, 0, usage},
      {{"jms583-outdated", "more"}, {}, kBadInput, 0, usage},
  };
  for (const CommandLine& c : cases) {
    SCOPED_TRACE(c.arguments.empty() ? "no arguments" : c.arguments.front());
    FakeDemoWindow window;
    window.act = c.act;
    EXPECT_EQ(RunDemo(c.arguments, window.Face()), c.code);
    EXPECT_EQ(window.disks, c.disks);
    ASSERT_EQ(window.refusals.size(), c.refusalStart.empty() ? 0U : 1U);
    if (!c.refusalStart.empty()) {
      EXPECT_TRUE(window.refusals[0].starts_with(c.refusalStart)) << window.refusals[0];
    }
  }
}

/// A scenario file whose one enclosure is plugged in 2000 ms after the start.
class LaterScenario {
 public:
  LaterScenario() {
    std::ofstream(path_) << R"({"disks": [{"path": "\\\\?\\usbstor#disk&ven_korvane#1",
                                "bridge": "jms583", "firmware": "0.0.0.8",
                                "plug_in_after_ms": 2000}]})";
  }
  ~LaterScenario() { std::filesystem::remove(path_); }
  LaterScenario(const LaterScenario&) = delete;
  LaterScenario& operator=(const LaterScenario&) = delete;
  std::string path() const { return path_.string(); }

 private:
  std::filesystem::path path_ =
      std::filesystem::temp_directory_path() /
      ("korvane-demo-later-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) + ".json");
};

struct Moment {
  std::chrono::milliseconds real;        ///< the real clock's time since the start
  std::chrono::milliseconds stackSpent;  ///< time the stack spent on its own before the wait
  std::chrono::milliseconds timeout;
  ChangeWait wait;
  std::size_t disks;
};

TEST(DemoProgram, StackTimeKeepsUpWithTheRealTimeSoThatALaterDiskComes) {
  const LaterScenario scenario;
  const std::vector<Moment> moments{
      {0ms, 0ms, 0ms, ChangeWait::Quiet, 0},
      // Time the stack spent on commands and pauses counts: it is not added again.
      {1200ms, 1500ms, 0ms, ChangeWait::Quiet, 0},
      {1999ms, 0ms, 0ms, ChangeWait::Quiet, 0},
      {2000ms, 0ms, 0ms, ChangeWait::Change, 1},
      {2000ms, 0ms, 0ms, ChangeWait::Ended, 1},
  };
  auto loaded = SimulatedDevices(scenario.path());
  ASSERT_TRUE(std::holds_alternative<std::unique_ptr<Devices>>(loaded));
  Devices& stack = *std::get<std::unique_ptr<Devices>>(loaded);
  sim::SimulatedClock real;
  PacedDevices paced(stack, real);
  ASSERT_FALSE(paced.changes().Listen());
  for (const Moment& m : moments) {
    SCOPED_TRACE(m.real.count());
    real.Advance(m.real - std::chrono::duration_cast<std::chrono::milliseconds>(real.Now()));
    paced.clock().Sleep(m.stackSpent);
    EXPECT_EQ(paced.changes().Wait(m.timeout), m.wait);
    EXPECT_EQ(paced.lister().ListDisks().size(), m.disks);
  }

  // A wait longer than the lag is a wait all the same.
  auto again = SimulatedDevices(scenario.path());
  PacedDevices waiting(*std::get<std::unique_ptr<Devices>>(again), real);
  EXPECT_EQ(waiting.changes().Wait(2500ms), ChangeWait::Change);
}

}  // namespace
}  // namespace korvane::demo
