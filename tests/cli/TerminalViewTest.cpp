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
    view.BeginJob();
    for (const int percent : percents) view.ShowProgress(percent, "Writing firmware");
    view.EndJob();
    EXPECT_EQ(out.str(), c.out) << static_cast<int>(c.style);
    EXPECT_EQ(err.str(), "");
  }
}

/// The job's steps share the bar, so it reaches 100 % only once the NVRAM record is written; the
/// window's own bar is kept, not shown.
TEST(TerminalView, TheWholeJobSharesTheBar) {
  std::ostringstream out, err;
  TerminalView view(out, err, ProgressStyle::Lines);
  view.SetProgress(100);
  const std::pair<UpdateStep, int> steps[] = {
      {UpdateStep::WriteBlock, 0},   {UpdateStep::WriteBlock, 50}, {UpdateStep::WriteBlock, 100},
      {UpdateStep::ReadBack, 50},    {UpdateStep::ReadBack, 100},  {UpdateStep::Verify, 100},
      {UpdateStep::NvramWrite, 100}, {UpdateStep::WriteBlock, 0}};
  for (const auto& [step, percent] : steps) view.StepProgress(step, percent);
  EXPECT_EQ(out.str(),
            "Writing firmware: 0%\nWriting firmware: 30%\nWriting firmware: 60%\n"
            "Verifying firmware: 70%\nVerifying firmware: 90%\nWriting the NVRAM record: 100%\n"
            "Writing firmware: 0%\n");
  EXPECT_EQ(view.windowProgress(), 100);
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
    for (const int percent : {0, 12, 100, 0, 100}) view.ShowProgress(percent, "Writing firmware");
    EXPECT_EQ(out.str(), c.out) << static_cast<int>(c.style);
  }
}

TEST(TerminalView, AFailedWriteEndsTheBarLineWhenTheJobEnds) {
  std::ostringstream out, err;
  TerminalView view(out, err, ProgressStyle::Bar);
  view.BeginJob();
  view.ShowProgress(0, "Writing firmware");
  view.ShowProgress(40, "Writing firmware");
  view.EndJob();
  view.EndJob();
  EXPECT_EQ(out.str(), "\r" + ProgressBar(0) + "\r" + ProgressBar(40) + "\n");
}

TEST(TerminalView, ANoteDuringTheBarStartsOnALineOfItsOwn) {
  std::ostringstream out, err;
  TerminalView view(out, err, ProgressStyle::Bar);
  view.ShowProgress(20, "Writing firmware");
  view.Note("a note");
  view.ShowProgress(30, "Writing firmware");
  view.ShowProgress(100, "Writing firmware");
  EXPECT_EQ(out.str(),
            "\r" + ProgressBar(20) + "\n\r" + ProgressBar(30) + "\r" + ProgressBar(100) + "\n");
  EXPECT_EQ(err.str(), "a note\n");
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
