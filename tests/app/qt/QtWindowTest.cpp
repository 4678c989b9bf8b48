// The Qt window on the offscreen platform, over the built-in scenarios: the controls it builds,
// the verdict it opens with, the click that updates, the close it refuses while the firmware is
// written, the one rescan after a burst of device changes, and the rights it says are missing.
#include <QCloseEvent>
#include <QFile>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "AdministratorRestart.h"
#include "Scenario.h"
#include "WindowLayout.h"
#include "app/qt/WindowRig.h"

namespace korvane::testing {
namespace {

TEST(QtWindow, BuildsEveryControlOfTheLayoutInItsPlace) {
  WindowRig rig("jms578-current");
  rig.Show();
  EXPECT_EQ(rig.window.windowTitle().toStdString(), layout::kCaption);
  EXPECT_EQ(rig.window.size(), QSize(layout::kClientWidth, layout::kClientHeight));
  EXPECT_EQ(rig.window.minimumSize(), rig.window.maximumSize()) << "the window must not resize";
  EXPECT_FALSE(rig.window.windowFlags() & Qt::WindowMaximizeButtonHint);
  const QList<QWidget*> children =
      rig.window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
  ASSERT_EQ(children.size(), static_cast<qsizetype>(layout::kControls.size()));
  for (std::size_t row = 0; row < layout::kControls.size(); ++row) {
    const layout::ControlLayout& control = layout::kControls[row];
    SCOPED_TRACE(std::string(control.name));
    // Drawing order: each control lies above the ones before it.
    EXPECT_EQ(children[static_cast<qsizetype>(row)]->objectName().toStdString(), control.name);
    EXPECT_EQ(children[static_cast<qsizetype>(row)]->geometry(),
              QRect(control.left, control.top, control.width, control.height));
  }
  EXPECT_EQ(rig.Status()->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_TRUE(rig.Shows(Control::Image1, Picture::Background));
}

struct FirstVerdict {
  const char* scenario;
  std::string_view text;
  Picture picture;
  bool clickable;
};

TEST(QtWindow, OpensWithTheVerdictOfEachBuiltInScenario) {
  const std::vector<FirstVerdict> verdicts{
      {"jms583-outdated", status::OfferText(kChipCodeJms583), Picture::Update, true},
      {"jms583-current", status::kNothingFound, Picture::Cross, false},
      {"jms578-outdated", status::OfferText(kChipCodeJms578), Picture::Update, true},
      {"jms578-current", status::kUpToDate, Picture::Good, false},
      {"jms583-rom", status::OfferText(kChipCodeJms583), Picture::Update, true},
      {"two-enclosures", status::kMultiple, Picture::Cross, false},
      {"unsupported-bridge", status::kNothingFound, Picture::Cross, false},
      {"no-enclosure", status::kNothingFound, Picture::Cross, false},
      {"no-rights", qt::rights::kMissing, Picture::Cross, false},
      {"jms583-mounted", status::OfferText(kChipCodeJms583), Picture::Update, true},
  };
  for (const std::string_view name : sim::BuiltInScenarioNames()) {
    EXPECT_TRUE(std::ranges::any_of(verdicts, [&](const auto& v) { return v.scenario == name; }))
        << name << " has no expected verdict here";
  }
  for (const FirstVerdict& expected : verdicts) {
    SCOPED_TRACE(expected.scenario);
    WindowRig rig(expected.scenario);
    EXPECT_FALSE(rig.window.isVisible()) << "the verdict stands before the window is shown";
    EXPECT_EQ(rig.StatusText(), expected.text);
    EXPECT_EQ(rig.Status()->isEnabled(), expected.clickable);
    EXPECT_TRUE(rig.Shows(Control::Image3, expected.picture));
    EXPECT_FALSE(rig.Control(Control::Image3)->isHidden());
    EXPECT_TRUE(rig.Control(Control::Image2)->isHidden());
    EXPECT_TRUE(rig.Control(Control::UpdateProgressBar)->isHidden());
    EXPECT_EQ(rig.devices.writes(), 0);
  }
}

struct ClickOutcome {
  const char* scenario;
  std::string_view text;
  Picture picture;
  bool writes;
};

TEST(QtWindow, AClickOnTheOfferUpdatesWithTheProgressBar) {
  const std::vector<ClickOutcome> outcomes{
      {"jms583-outdated", status::kUpdateComplete, Picture::Good, true},
      {"jms578-outdated", status::kUpdateComplete, Picture::Good, true},
      {"jms583-rom", status::kUpdateComplete, Picture::Good, true},
      // A mounted file system stops the update before anything is written.
      {"jms583-mounted", status::kUpdateFail, Picture::Cross, false},
  };
  for (const ClickOutcome& expected : outcomes) {
    SCOPED_TRACE(expected.scenario);
    WindowRig rig(expected.scenario);
    rig.Show();
    auto* bar = rig.Control<QProgressBar>(Control::UpdateProgressBar);
    std::vector<int> progress;
    QObject::connect(bar, &QProgressBar::valueChanged, [&](int value) {
      if (!bar->isHidden()) progress.push_back(value);
    });
    QTest::mouseClick(rig.Status(), Qt::LeftButton);
    EXPECT_EQ(rig.StatusText(), expected.text);
    EXPECT_TRUE(rig.Shows(Control::Image3, expected.picture));
    EXPECT_TRUE(bar->isHidden());
    EXPECT_FALSE(rig.Status()->isEnabled());
    EXPECT_EQ(rig.devices.writes() > 0, expected.writes);
    if (expected.writes) {
      EXPECT_FALSE(progress.empty());
      EXPECT_TRUE(std::ranges::is_sorted(progress)) << "the bar only moves forward in one pass";
      EXPECT_TRUE(std::ranges::find(progress, 100) != progress.end());
    }
  }
}

TEST(QtWindow, RefusesToCloseWhileTheFirmwareIsWritten) {
  WindowRig rig("jms583-outdated");
  rig.Show();
  std::vector<std::int32_t> flagAtClose;
  std::vector<bool> closed;
  QTimer::singleShot(0, &rig.window, [&] {
    flagAtClose.push_back(rig.window.form().state().UpdateInProgress);
    closed.push_back(rig.window.close());
  });
  QTest::mouseClick(rig.Status(), Qt::LeftButton);
  ASSERT_EQ(closed.size(), 1U) << "the close request did not arrive during the update";
  EXPECT_EQ(flagAtClose[0], 1);
  EXPECT_FALSE(closed[0]);
  EXPECT_TRUE(rig.window.isVisible());
  EXPECT_EQ(rig.StatusText(), status::kUpdateComplete);
  EXPECT_TRUE(rig.window.close()) << "once the outcome shows, the window closes";
}

TEST(QtWindow, ABurstOfDeviceChangesGivesOneRescanAndNoneDuringTheUpdate) {
  WindowRig rig("jms583-outdated");
  rig.Show();
  const int listings = rig.devices.listings();
  rig.devices.scripted().waits.assign(3, ChangeWait::Change);
  rig.window.PollDeviceChanges();
  EXPECT_TRUE(rig.window.view().TimerArmed(kRescanTimerId));
  EXPECT_EQ(rig.window.view().TimerInterval(kRescanTimerId), kRescanInterval);
  EXPECT_EQ(rig.devices.listings(), listings) << "no rescan before the changes have settled";
  rig.window.view().Tick(kRescanTimerId);
  EXPECT_EQ(rig.devices.listings(), listings + 1);
  EXPECT_FALSE(rig.window.view().TimerArmed(kRescanTimerId));

  // Changes that come while the firmware is written are held: no rescan follows the update.
  QTimer::singleShot(0, &rig.window, [&] {
    rig.devices.scripted().waits.assign(2, ChangeWait::Change);
    rig.window.PollDeviceChanges();
  });
  QTest::mouseClick(rig.Status(), Qt::LeftButton);
  EXPECT_EQ(rig.StatusText(), status::kUpdateComplete);
  EXPECT_TRUE(rig.devices.scripted().waits.empty());
  EXPECT_FALSE(rig.window.view().TimerArmed(kRescanTimerId));
  EXPECT_EQ(rig.devices.listings(), listings + 1);
}

TEST(QtWindow, MissingRightsOfferTheRestartInsteadOfNothingFound) {
  int restarts = 0;
  WindowRig rig("no-rights", [&] { ++restarts; });
  rig.Show();
  EXPECT_TRUE(rig.window.rightsMissing());
  EXPECT_EQ(rig.StatusText(), qt::rights::kRestartOffer);
  EXPECT_TRUE(rig.Status()->isEnabled());
  QTest::mouseClick(rig.Status(), Qt::LeftButton);
  EXPECT_EQ(restarts, 1);
  EXPECT_EQ(rig.devices.writes(), 0);
  EXPECT_EQ(rig.StatusText(), qt::rights::kRestartOffer);
}

/// A window that counts the close requests it accepted.
struct ClosingWidget final : QWidget {
  void closeEvent(QCloseEvent* event) override {
    ++closes;
    QWidget::closeEvent(event);
  }
  int closes = 0;
};

// pkexec stands in as a script that ends with the code it is given in place of the program.
TEST(QtWindow, TheRestartHidesTheWindowAndBringsItBackOnlyWhenRefused) {
  QTemporaryDir folder;
  const QString pkexec = folder.filePath(QStringLiteral("pkexec"));
  QFile script(pkexec);
  ASSERT_TRUE(script.open(QIODevice::WriteOnly));
  script.write("#!/bin/sh\nexit \"$1\"\n");
  script.close();
  script.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
  const std::vector<std::pair<int, bool>> backAfter{
      {qt::kPkexecDismissed, true}, {qt::kPkexecNotAuthorised, true}, {0, false}, {1, false}};
  for (const auto& [code, back] : backAfter) {
    SCOPED_TRACE(code);
    ClosingWidget window;
    window.show();
    qt::AdministratorRestart restart(window, pkexec, QString::number(code));
    restart();
    EXPECT_FALSE(window.isVisible()) << "the window hides while the program with rights runs";
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.isVisible() || window.closes > 0; }));
    EXPECT_EQ(window.isVisible(), back);
    EXPECT_EQ(window.closes, back ? 0 : 1);
  }
}

}  // namespace
}  // namespace korvane::testing
