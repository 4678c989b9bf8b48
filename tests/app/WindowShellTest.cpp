// The window shell around the window's logic on a simulated bus: what a close request meets while
// handlers run and nest, what an escaping exception leaves, and the stack's device changes handed
// to the logic up to the rescan they bring.
#include "WindowShell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "FormRig.h"

namespace korvane::testing {
namespace {

using namespace std::chrono_literals;

/// A window that logs what the shell asks of it. A repeated close is a close request of its own,
/// which the window makes once its event loop comes round again.
struct LoggingWindow final : ShellWindow {
  void RepeatClose() override {
    const bool closes = shell != nullptr && shell->RequestClose() == CloseAnswer::Close;
    log.emplace_back(closes ? "closed" : "close waits again");
  }
  void OfferClose(bool offered) override {
    log.emplace_back(offered ? "offer close" : "withdraw close");
  }
  WindowShell* shell = nullptr;
  std::vector<std::string> log;
};

/// Every message box, as "caption|icon|text".
struct BoxLog final : MessageSink {
  void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override {
    boxes.push_back(std::string(caption) + (icon == MessageIcon::Error ? "|error|" : "|warning|") +
                    std::string(text));
  }
  std::vector<std::string> boxes;
};

/// Device changes handed in by the test, one answer per wait; quiet when none is left.
struct ScriptedChanges final : DeviceChanges {
  std::optional<std::string> Listen() override { return refusal; }
  ChangeWait Wait(std::chrono::milliseconds) override {
    ++waited;
    if (waits.empty()) return ChangeWait::Quiet;
    const ChangeWait next = waits.front();
    waits.pop_front();
    return next;
  }
  std::optional<std::string> refusal;
  std::deque<ChangeWait> waits;
  int waited = 0;
};

/// The shell around the logic, over a bus that holds an enclosure offered an update.
struct ShellRig {
  explicit ShellRig(bool enclosure = true) {
    window.shell = &shell;
    if (enclosure) rig.Plug(kUsbPath, Enclosure(sim::Chip::Jms583, {0, 0, 0, 8}));
  }
  /// The logic's rescan timer runs out.
  void RescanTimerRunsOut() { rig.view.RunUntil(rig.clock.Now() + kRescanInterval); }

  FormRig rig;
  LoggingWindow window;
  BoxLog boxes;
  ScriptedChanges changes;
  WindowShell shell{ShellServices{rig.form, window, boxes, rig.debug, &changes}};
};

struct CloseCase {
  const char* what;
  /// Runs the handlers through the shell; the close request comes at their first pump.
  std::function<void(ShellRig&)> handlers;
  bool removalFirst;  ///< the enclosure's removal comes at that pump before the close request
  CloseAnswer answer;
  std::vector<std::string> window;  ///< what the shell asked of the window, in order
};

TEST(WindowShell, ACloseWaitsForAScanAndIsRefusedWhileTheFirmwareIsWritten) {
  const auto scan = [](ShellRig& s) { s.shell.Run(Running::Scan, [&] { s.rig.Scan(); }); };
  const auto update = [](ShellRig& s) {
    s.shell.Run(Running::Update, [&] { s.rig.form.lblStaustClick(); });
  };
  const auto nested = [&](ShellRig& s) { s.shell.Run(Running::Scan, [&] { scan(s); }); };
  const std::vector<CloseCase> cases{
      {"nothing runs", [](ShellRig&) {}, false, CloseAnswer::Close, {}},
      {"the first scan",
       [](ShellRig& s) { s.shell.FirstScan(); },
       false,
       CloseAnswer::Deferred,
       {"closed"}},
      {"a scan", scan, false, CloseAnswer::Deferred, {"closed"}},
      {"a scan inside a scan", nested, false, CloseAnswer::Deferred, {"closed"}},
      {"the update", update, false, CloseAnswer::Refused, {"withdraw close", "offer close"}},
      // The removal clears UpdateInProgress while the flash step still runs.
      {"the update after a removal",
       update,
       true,
       CloseAnswer::Refused,
       {"withdraw close", "offer close"}},
  };
  for (const CloseCase& c : cases) {
    SCOPED_TRACE(c.what);
    ShellRig s;
    s.rig.Scan();
    std::vector<CloseAnswer> answers;
    s.rig.view.onPump = [&](std::size_t) {
      if (!answers.empty()) return;
      if (c.removalFirst) s.shell.OnDeviceChange(DeviceChange::RemoveComplete);
      answers.push_back(s.shell.RequestClose());
    };
    s.rig.view.ClearLog();
    c.handlers(s);
    if (answers.empty()) answers.push_back(s.shell.RequestClose());
    EXPECT_EQ(answers.front(), c.answer);
    EXPECT_EQ(s.window.log, c.window);
    // Once the handlers have returned, a close is carried out.
    EXPECT_FALSE(s.shell.updateRunning());
    EXPECT_EQ(s.shell.RequestClose(), CloseAnswer::Close);
  }
}

TEST(WindowShell, AnExceptionIsShownAndLeavesNothingRunning) {
  ShellRig s;
  const auto throws = [] { throw std::runtime_error("the disk went away"); };
  s.shell.Run(Running::Update, throws);
  s.shell.Run(Running::Scan, [] { throw 7; });
  EXPECT_EQ(s.boxes.boxes, (std::vector<std::string>{"KORVANE Update Tool|error|the disk went away",
                                                     "KORVANE Update Tool|error|"}));
  EXPECT_EQ(s.window.log, (std::vector<std::string>{"withdraw close", "offer close"}));
  EXPECT_EQ(s.shell.RequestClose(), CloseAnswer::Close);

  // The first scan's exception ends the start-up; it is not shown here.
  s.rig.view.onPump = [&](std::size_t) { throw std::runtime_error("no window"); };
  EXPECT_THROW(s.shell.FirstScan(), std::runtime_error);
  EXPECT_EQ(s.boxes.boxes.size(), 2U);
  EXPECT_EQ(s.shell.RequestClose(), CloseAnswer::Close);
}

struct PollCase {
  const char* what;
  std::optional<std::string> refusal;
  std::deque<ChangeWait> waits;
  bool keepPolling;
  int waited;
  bool rescanArmed;
};

TEST(WindowShell, ThePollHandsEachChangeToTheLogicUntilNoneCanCome) {
  const std::deque<ChangeWait> flood(kChangesPerPoll + 5, ChangeWait::Change);
  const std::vector<PollCase> cases{
      {"quiet", {}, {}, true, 1, false},
      {"a burst", {}, {ChangeWait::Change, ChangeWait::Change}, true, 3, true},
      {"a flood is read in parts", {}, flood, true, kChangesPerPoll, true},
      {"the end of all changes", {}, {ChangeWait::Change, ChangeWait::Ended}, false, 2, true},
      {"a stack that cannot tell", "no uevents", {ChangeWait::Change}, false, 0, false},
  };
  for (const PollCase& c : cases) {
    SCOPED_TRACE(c.what);
    ShellRig s;
    s.rig.Scan();
    s.changes.refusal = c.refusal;
    s.changes.waits = c.waits;
    s.shell.ListenForChanges();
    EXPECT_EQ(s.shell.listening(), !c.refusal);
    EXPECT_EQ(s.shell.PollDeviceChanges(), c.keepPolling);
    EXPECT_EQ(s.changes.waited, c.waited);
    EXPECT_EQ(s.rig.view.timerArmed(kRescanTimerId), c.rescanArmed);
    const auto noted =
        std::ranges::count(s.rig.debug.lines, "Device changes cannot be followed: no uevents\n");
    EXPECT_EQ(noted, c.refusal ? 1 : 0);
  }
}

TEST(WindowShell, AnEnclosurePluggedInLaterIsFoundByTheRescanItsChangeBrings) {
  ShellRig s(false);
  s.shell.ListenForChanges();
  s.shell.FirstScan();
  ASSERT_EQ(s.rig.form.display(), Display::NothingFound);

  s.rig.Plug(kUsbPath, Enclosure(sim::Chip::Jms583, {0, 0, 0, 8}));
  s.changes.waits = {ChangeWait::Change};
  EXPECT_TRUE(s.shell.PollDeviceChanges());
  EXPECT_EQ(s.rig.form.scans(), 1U) << "no rescan before the changes have settled";
  s.RescanTimerRunsOut();
  EXPECT_EQ(s.rig.form.scans(), 2U);
  EXPECT_EQ(s.rig.form.display(), Display::Offer);

  // Changes that come while the firmware is written are held: no rescan follows the update.
  s.rig.view.onPump = [&](std::size_t) {
    s.changes.waits = {ChangeWait::Change};
    s.shell.PollDeviceChanges();
  };
  s.shell.Run(Running::Update, [&] { s.rig.form.lblStaustClick(); });
  EXPECT_EQ(s.rig.form.display(), Display::UpdateComplete);
  EXPECT_FALSE(s.rig.view.timerArmed(kRescanTimerId));
}

TEST(WindowShell, AWindowWithoutTheStacksChangesNeitherListensNorPolls) {
  FormRig rig;
  LoggingWindow window;
  BoxLog boxes;
  WindowShell shell{ShellServices{rig.form, window, boxes, rig.debug}};
  shell.ListenForChanges();
  EXPECT_FALSE(shell.listening());
  EXPECT_FALSE(shell.PollDeviceChanges());
  EXPECT_TRUE(rig.debug.lines.empty());
}

}  // namespace
}  // namespace korvane::testing
