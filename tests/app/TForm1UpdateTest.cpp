// The update command and the rescans after device changes, through a recording window and the
// simulated clock.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "ChipUpdate.h"
#include "FormRig.h"
#include "TForm1.h"

namespace korvane::testing {
namespace {

using namespace std::chrono_literals;
using sim::Chip;
using sim::FaultEffect;
using sim::Operation;

const std::string kLooking = "text " + std::string(status::kLooking);

/// An outdated enclosure of the chip, scanned and showing the offer.
void Offered(FormRig& rig, Chip chip, std::vector<sim::Fault> faults = {},
             std::chrono::microseconds latency = 0us) {
  sim::BridgeConfig config =
      Enclosure(chip, chip == Chip::Jms583 ? sim::FirmwareVersion{0, 0, 0, 8}
                                           : sim::FirmwareVersion{0, 1, 0, 3});
  config.faults = std::move(faults);
  config.latency = latency;
  rig.Plug(kUsbPath, config);
  rig.Scan();
  ASSERT_EQ(rig.form.display(), Display::Offer);
  rig.view.ClearLog();
}

std::size_t Blocks(Chip chip) {
  const ChipUpdate* update =
      FindChipUpdate(chip == Chip::Jms583 ? kChipCodeJms583 : kChipCodeJms578);
  return update->firmwareArea / 1024;
}

// ---- The command -------------------------------------------------------------------------------

TEST(TForm1Update, ASuccessfulUpdateShowsProgressThenUpdateComplete) {
  for (const Chip chip : {Chip::Jms583, Chip::Jms578}) {
    SCOPED_TRACE(chip == Chip::Jms583 ? "JMS583" : "JMS578");
    FormRig rig;
    Offered(rig, chip);
    std::vector<std::int32_t> flagAtPumps;
    rig.view.onPump = [&](std::size_t) {
      flagAtPumps.push_back(rig.form.state().UpdateInProgress);
      // While the update runs both pictures are hidden and the bar shows.
      if (rig.view.text() == status::kUpdating) {
        EXPECT_FALSE(rig.view.visible(Control::Image2));
        EXPECT_FALSE(rig.view.visible(Control::Image3));
        EXPECT_TRUE(rig.view.visible(Control::UpdateProgressBar));
      }
    };
    rig.view.Click();

    const std::vector<std::string> start{"click",
                                         "disable lblStaust",
                                         "pump",
                                         "hide Image2",
                                         "hide Image3",
                                         "text Updating",
                                         "disable lblStaust",
                                         "show UpdateProgressBar",
                                         "pump"};
    EXPECT_EQ(std::vector<std::string>(rig.view.log().begin(), rig.view.log().begin() + 9), start);
    const std::vector<std::string> end{
        "picture Image3 GOOD",  "hide UpdateProgressBar", "hide Image2", "show Image3",
        "text Update complete", "disable lblStaust",      "pump"};
    EXPECT_EQ(std::vector<std::string>(rig.view.log().end() - 7, rig.view.log().end()), end);

    EXPECT_EQ(rig.debug.lines.front(), "btn_upd Press\n");
    EXPECT_EQ(rig.form.display(), Display::UpdateComplete);
    EXPECT_FALSE(rig.form.statusEnabled());
    EXPECT_EQ(rig.form.state().UpdateInProgress, 0);
    // Steps 3 and 4, one pump per written block, and the outcome's.
    EXPECT_EQ(flagAtPumps, std::vector<std::int32_t>(2 + Blocks(chip) + 1, 1));
    ASSERT_FALSE(rig.view.progress().empty());
    EXPECT_EQ(rig.view.progress().front(), 0);
    EXPECT_EQ(rig.view.progress().back(), 100);
    EXPECT_TRUE(std::ranges::is_sorted(rig.view.progress()));

    // After a replug the enclosure runs the new firmware, and a scan offers nothing more.
    rig.bus.Find(kUsbPath)->Replug();
    rig.Scan();
    EXPECT_NE(rig.form.display(), Display::Offer);
  }
}

TEST(TForm1Update, AFailedFirmwareWriteSkipsTheNvramStepAndShowsUpdateFail) {
  FormRig rig;
  // The disk leaves the bus at the third block, so the second attempt fails as well.
  Offered(rig, Chip::Jms583, {On(Operation::WriteBuffer, 3, FaultEffect::Vanish)});
  rig.view.Click();

  EXPECT_EQ(rig.form.display(), Display::UpdateFail);
  EXPECT_EQ(rig.view.text(), status::kUpdateFail);
  EXPECT_EQ(rig.view.picture(Control::Image3), Picture::Cross);
  EXPECT_FALSE(rig.view.visible(Control::UpdateProgressBar));
  EXPECT_FALSE(rig.view.enabled(Control::lblStaust));
  EXPECT_EQ(rig.Received(kUsbPath, Operation::WriteNvram), 0u);
  EXPECT_EQ(rig.form.updateFailure().step, UpdateStep::WriteBlock);
  EXPECT_EQ(rig.form.state().UpdateInProgress, 0);
}

/// A disk that cannot be held for the update is refused before anything is written: the window
/// keeps its "Update Fail" and says why in a box.
TEST(TForm1Update, ADiskInUseShowsUpdateFailAndWhyInABox) {
  FormRig rig;
  rig.holder.refusal = "E:\\ is in use: a program has files open there";
  Offered(rig, Chip::Jms583, {});
  rig.view.Click();

  EXPECT_EQ(rig.view.text(), status::kUpdateFail);
  EXPECT_EQ(rig.form.updateFailure().step, UpdateStep::InUse);
  EXPECT_EQ(rig.Received(kUsbPath, Operation::WriteBuffer), 0u);
  ASSERT_EQ(rig.messages.texts.size(), 1u);
  EXPECT_EQ(rig.messages.texts[0], *rig.holder.refusal);
}

TEST(TForm1Update, AFailedNvramWriteAfterAGoodFirmwareWriteShowsUpdateFail) {
  FormRig rig;
  Offered(rig, Chip::Jms578, {On(Operation::WriteNvram, 1, FaultEffect::Fail)});
  rig.view.Click();

  EXPECT_EQ(rig.form.display(), Display::UpdateFail);
  EXPECT_EQ(rig.view.picture(Control::Image3), Picture::Cross);
  EXPECT_EQ(rig.form.updateFailure().step, UpdateStep::NvramWrite);
  EXPECT_EQ(rig.view.progress().back(), 100) << "the firmware itself was written";
}

TEST(TForm1Update, AClickOnADisabledStatusTextDoesNothing) {
  FormRig rig;
  rig.Plug(kUsbPath, Enclosure(Chip::Jms578, {0, 2, 1, 4}));
  rig.Scan();
  ASSERT_EQ(rig.form.display(), Display::UpToDate);
  const std::size_t commands = rig.bus.Find(kUsbPath)->log().size();
  rig.view.Click();
  rig.form.lblStaustClick();

  EXPECT_EQ(rig.bus.Find(kUsbPath)->log().size(), commands);
  EXPECT_TRUE(rig.debug.lines.empty());
  EXPECT_EQ(rig.form.display(), Display::UpToDate);
}

TEST(TForm1Update, ClicksDuringTheUpdateStartNoSecondOne) {
  FormRig rig;
  Offered(rig, Chip::Jms583);
  rig.view.onPump = [&](std::size_t pump) {
    if (pump == 5) {
      rig.view.Click();
      rig.form.btn_updClick();  // the hidden button's handler, as if it were reached
    }
  };
  rig.view.Click();

  EXPECT_EQ(rig.view.Count("text Updating"), 1u);
  EXPECT_EQ(rig.debug.lines, std::vector<std::string>{"btn_upd Press\n"});
  EXPECT_EQ(rig.Received(kUsbPath, Operation::WriteNvram), 1u);
  EXPECT_EQ(rig.form.display(), Display::UpdateComplete);
}

TEST(TForm1Update, AnExceptionOutOfTheUpdateLeavesTheFormFreeToRescan) {
  FormRig rig;
  Offered(rig, Chip::Jms583);
  rig.view.onPump = [&](std::size_t) {
    if (rig.view.text() == status::kUpdating) throw std::runtime_error("out of memory");
  };
  EXPECT_THROW(rig.view.Click(), std::runtime_error);
  rig.view.onPump = nullptr;

  EXPECT_EQ(rig.form.state().UpdateInProgress, 0);
  EXPECT_FALSE(rig.form.busy());
  rig.view.PostDeviceChange(rig.clock.Now() + 1ms, DeviceChange::NodesChanged);
  rig.view.RunUntil(rig.clock.Now() + 1s);
  EXPECT_EQ(rig.view.Count(kLooking), 1u) << "no rescan after the device change";
}

TEST(TForm1Update, AClickWhileTheCheckFinishesIsIgnoredAndTheOfferStaysClickable) {
  FormRig rig;
  rig.Plug(kUsbPath, Enclosure(Chip::Jms583, {0, 0, 0, 8}));
  bool clicked = false;
  rig.view.onPump = [&](std::size_t) {
    // The check's last pump comes right after it has shown the offer.
    if (!clicked && rig.view.text() == status::OfferText(kChipCodeJms583)) {
      clicked = true;
      rig.view.Click();
    }
  };
  rig.Scan();

  ASSERT_TRUE(clicked);
  EXPECT_EQ(rig.view.Count("text Updating"), 0u);
  EXPECT_TRUE(rig.form.statusEnabled());
  EXPECT_TRUE(rig.view.enabled(Control::lblStaust));
  rig.view.onPump = nullptr;
  rig.view.Click();
  EXPECT_EQ(rig.form.display(), Display::UpdateComplete);
}

// ---- Rescans -----------------------------------------------------------------------------------

/// Records when each scan starts: its first pump follows the searching text.
struct ScanTimes {
  std::vector<std::chrono::microseconds> starts;
  void Watch(FormRig& rig) {
    rig.view.onPump = [this, &rig](std::size_t) {
      const auto& log = rig.view.log();
      if (log.size() >= 3 && log[log.size() - 3] == kLooking) starts.push_back(rig.clock.Now());
    };
  }
};

TEST(TForm1Rescan, ABurstOfChangesGivesOneRescanAfterTheLast) {
  FormRig rig;
  rig.Plug(kUsbPath, Enclosure(Chip::Jms583, {0, 0, 0, 8}));
  ScanTimes scans;
  scans.Watch(rig);
  rig.view.PostDeviceChange(1000ms, DeviceChange::NodesChanged);
  rig.view.PostDeviceChange(1200ms, DeviceChange::NodesChanged);
  rig.view.PostDeviceChange(1400ms, DeviceChange::NodesChanged);
  rig.view.RunUntil(5000ms);

  EXPECT_EQ(scans.starts, std::vector<std::chrono::microseconds>{1900ms});
  EXPECT_FALSE(rig.view.timerArmed(kRescanTimerId)) << "the tick that scans also stops the timer";
  EXPECT_EQ(rig.form.display(), Display::Offer);
}

TEST(TForm1Rescan, OnlyRemovalsAndNodeChangesArmTheTimer) {
  struct Case {
    DeviceChange event;
    std::size_t scans;
  };
  for (const Case& c :
       {Case{DeviceChange::Arrival, 0}, Case{DeviceChange::Other, 0},
        Case{DeviceChange::RemoveComplete, 1}, Case{DeviceChange::NodesChanged, 1}}) {
    FormRig rig;
    ScanTimes scans;
    scans.Watch(rig);
    rig.view.PostDeviceChange(100ms, c.event);
    rig.view.RunUntil(3000ms);
    EXPECT_EQ(scans.starts.size(), c.scans) << "change " << static_cast<int>(c.event);
  }
}

TEST(TForm1Rescan, NodeChangesDuringAnUpdateAreIgnored) {
  FormRig rig;
  Offered(rig, Chip::Jms583);
  rig.view.onPump = [&](std::size_t pump) {
    if (pump == 10) rig.view.PostDeviceChange(rig.clock.Now(), DeviceChange::NodesChanged);
  };
  rig.view.Click();
  rig.view.onPump = nullptr;
  rig.view.RunUntil(rig.clock.Now() + 5s);

  EXPECT_EQ(rig.view.Count(kLooking), 0u);
  EXPECT_EQ(rig.form.display(), Display::UpdateComplete);
}

TEST(TForm1Rescan, ARemovalDuringTheFlashStepHoldsTheRescanUntilTheOutcomeIsShown) {
  FormRig rig;
  // Each command takes 10 ms, so several ticks fall due during the write.
  Offered(rig, Chip::Jms583, {}, 10ms);
  std::vector<std::int32_t> flagAfterRemoval;
  bool removed = false;
  rig.view.onPump = [&](std::size_t pump) {
    if (pump == 10) {
      rig.view.PostDeviceChange(rig.clock.Now(), DeviceChange::RemoveComplete);
      removed = true;
    } else if (removed && rig.view.text() == status::kUpdating) {
      flagAfterRemoval.push_back(rig.form.state().UpdateInProgress);
    }
  };
  rig.view.Click();

  const std::size_t outcome = rig.view.Find("text Update complete");
  ASSERT_LT(outcome, rig.view.log().size());
  EXPECT_EQ(rig.view.Find(kLooking), rig.view.log().size()) << "no scan inside the command";
  EXPECT_GT(rig.view.Count("tick 101"), 1u) << "ticks did fall due during the write";
  ASSERT_FALSE(flagAfterRemoval.empty());
  EXPECT_EQ(flagAfterRemoval.front(), 0) << "the removal cleared the flag";
  EXPECT_TRUE(rig.view.timerArmed(kRescanTimerId));

  // The held rescan runs on the first tick after the command.
  rig.view.onPump = nullptr;
  rig.view.RunUntil(rig.clock.Now() + 2s);
  EXPECT_EQ(rig.view.Count(kLooking), 1u);
  EXPECT_GT(rig.view.Find(kLooking), outcome);
}

TEST(TForm1Rescan, ATimerArmedBeforeTheUpdateRunsTheScanAfterIt) {
  FormRig rig;
  Offered(rig, Chip::Jms583, {}, 10ms);
  rig.view.PostDeviceChange(rig.clock.Now(), DeviceChange::NodesChanged);
  rig.view.RunUntil(rig.clock.Now() + 100ms);
  ASSERT_TRUE(rig.view.timerArmed(kRescanTimerId));
  rig.view.Click();

  EXPECT_EQ(rig.view.Count(kLooking), 0u);
  EXPECT_GT(rig.view.Count("tick 101"), 0u) << "ticks came, and did nothing";
  rig.view.RunUntil(rig.clock.Now() + 2s);
  EXPECT_EQ(rig.view.Count(kLooking), 1u);
}

TEST(TForm1Rescan, ARescanDueDuringAScanWaitsForItToFinish) {
  FormRig rig;
  // Slow enough that the scan's pumps come after the timer fell due.
  sim::BridgeConfig config = Enclosure(Chip::Jms583, {0, 0, 0, 8});
  config.latency = 200ms;
  rig.Plug(kUsbPath, config);
  rig.view.PostDeviceChange(0ms, DeviceChange::NodesChanged);
  rig.view.RunUntil(1ms);  // arms the timer
  rig.Scan();

  EXPECT_EQ(rig.view.Count(kLooking), 1u) << "no scan inside the scan";
  EXPECT_GT(rig.view.Count("tick 101"), 0u);
  EXPECT_EQ(rig.form.display(), Display::Offer);
  rig.view.RunUntil(rig.clock.Now() + 10s);
  EXPECT_EQ(rig.view.Count(kLooking), 2u);
  EXPECT_FALSE(rig.view.timerArmed(kRescanTimerId));
}

}  // namespace
}  // namespace korvane::testing
