#include "TerminalView.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace korvane::cli {
namespace {

using ::testing::ElementsAre;

TEST(TerminalView, ProgressBarIsTwentyCellsAndAPercent) {
  struct Case {
    int percent;
    std::string bar;
  };
  const Case cases[] = {
      {0, "[....................]   0%"},  {4, "[....................]   4%"},
      {5, "[#...................]   5%"},  {45, "[#########...........]  45%"},
      {99, "[###################.]  99%"}, {100, "[####################] 100%"},
      {-3, "[....................]   0%"}, {250, "[####################] 100%"},
  };
  for (const Case& c : cases) EXPECT_EQ(ProgressBar(c.percent), c.bar) << c.percent;
}

/// The progress of one write as each style shows it: the bar is redrawn on one line that ends
/// with the write; lines come at each 10 % step reached; JSON output gets nothing.
TEST(TerminalView, ProgressByStyle) {
  const std::vector<int> percents{0, 3, 3, 9, 10, 27, 55, 100};
  struct Case {
    ProgressStyle style;
    std::string out;
  };
  const Case cases[] = {
      {ProgressStyle::Bar, "\r" + ProgressBar(0) + "\r" + ProgressBar(3) + "\r" + ProgressBar(9) +
                               "\r" + ProgressBar(10) + "\r" + ProgressBar(27) + "\r" +
                               ProgressBar(55) + "\r" + ProgressBar(100) + "\n"},
      {ProgressStyle::Lines,
       "Writing firmware: 0%\nWriting firmware: 10%\nWriting firmware: 20%\n"
       "Writing firmware: 50%\nWriting firmware: 100%\n"},
      {ProgressStyle::None, ""},
  };
  for (const Case& c : cases) {
    std::ostringstream out, err;
    TerminalView view(out, err, c.style);
    view.SetVisible(Control::UpdateProgressBar, true);
    for (const int percent : percents) view.SetProgress(percent);
    view.SetVisible(Control::UpdateProgressBar, false);
    EXPECT_EQ(out.str(), c.out) << static_cast<int>(c.style);
    EXPECT_EQ(err.str(), "");
  }
}

TEST(TerminalView, ASecondPassIsShownAgain) {
  struct Case {
    ProgressStyle style;
    std::string out;
  };
  const Case cases[] = {
      {ProgressStyle::Bar, "\r" + ProgressBar(0) + "\r" + ProgressBar(12) + "\r" +
                               ProgressBar(100) + "\n\r" + ProgressBar(0) + "\r" +
                               ProgressBar(100) + "\n"},
      {ProgressStyle::Lines,
       "Writing firmware: 0%\nWriting firmware: 10%\nWriting firmware: 100%\n"
       "Writing firmware: 0%\nWriting firmware: 100%\n"},
  };
  for (const Case& c : cases) {
    std::ostringstream out, err;
    TerminalView view(out, err, c.style);
    for (const int percent : {0, 12, 100, 0, 100}) view.SetProgress(percent);
    EXPECT_EQ(out.str(), c.out) << static_cast<int>(c.style);
  }
}

TEST(TerminalView, AFailedWriteEndsTheBarLineWhenTheBarIsHidden) {
  std::ostringstream out, err;
  TerminalView view(out, err, ProgressStyle::Bar);
  view.SetVisible(Control::UpdateProgressBar, true);
  view.SetProgress(0);
  view.SetProgress(40);
  view.SetVisible(Control::UpdateProgressBar, false);
  view.SetVisible(Control::UpdateProgressBar, false);
  EXPECT_EQ(out.str(), "\r" + ProgressBar(0) + "\r" + ProgressBar(40) + "\n");
}

TEST(TerminalView, ANoteDuringTheBarStartsOnALineOfItsOwn) {
  std::ostringstream out, err;
  TerminalView view(out, err, ProgressStyle::Bar);
  view.SetProgress(20);
  view.Note("a note");
  view.SetProgress(30);
  view.SetProgress(100);
  EXPECT_EQ(out.str(),
            "\r" + ProgressBar(20) + "\n\r" + ProgressBar(30) + "\r" + ProgressBar(100) + "\n");
  EXPECT_EQ(err.str(), "a note\n");
}

TEST(TerminalView, KeepsWhatTheLogicSets) {
  std::ostringstream out, err;
  TerminalView view(out, err, ProgressStyle::None);
  EXPECT_EQ(view.SelectedDevice(), -1);
  EXPECT_FALSE(view.picture(Control::Image3));
  EXPECT_FALSE(view.visible(Control::UpdateProgressBar));

  view.AddDeviceLine("<<USB>> one");
  view.AddDeviceLine("<<UASP>> two");
  view.SelectDevice(1);
  view.ShowPicture(Control::Image3, Picture::Update);
  view.SetStatusText("text");
  view.SetEnabled(Control::lblStaust, false);
  view.SetVisible(Control::Image2, false);
  EXPECT_THAT(view.deviceLines(), ElementsAre("<<USB>> one", "<<UASP>> two"));
  EXPECT_EQ(view.SelectedDevice(), 1);
  EXPECT_EQ(view.picture(Control::Image3), Picture::Update);
  EXPECT_FALSE(view.picture(Control::Image1));
  EXPECT_EQ(view.statusText(), "text");
  EXPECT_FALSE(view.enabled(Control::lblStaust));
  EXPECT_TRUE(view.enabled(Control::cbb_DeviceList));
  EXPECT_FALSE(view.visible(Control::Image2));

  view.ClearDeviceList();
  EXPECT_TRUE(view.deviceLines().empty());
  EXPECT_EQ(view.SelectedDevice(), -1);
}

TEST(TerminalView, EveryPumpRunsTheHooksInOrder) {
  std::ostringstream out, err;
  TerminalView view(out, err, ProgressStyle::None);
  std::string calls;
  view.AddPumpHook([&] { calls += 'a'; });
  view.AddPumpHook([&] { calls += 'b'; });
  view.ProcessMessages();
  view.ProcessMessages();
  EXPECT_EQ(calls, "abab");
  EXPECT_EQ(view.pumps(), 2);
}

}  // namespace
}  // namespace korvane::cli
