#include "EnclosureWait.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "KorvaneFwRun.h"

namespace korvane::cli {
namespace {

using ::testing::HasSubstr;
using testing::KorvaneFw;
using testing::Outcome;
using testing::TempDir;

/// How often the note stands in a text.
int NotesIn(const std::string& text) {
  int count = 0;
  for (auto at = text.find(kPlugInNote); at != std::string::npos;
       at = text.find(kPlugInNote, at + 1)) {
    ++count;
  }
  return count;
}

/// A second enclosure, on UASP, plugged in at the given time.
std::string TwoPluggedAt(int first, int second) {
  return R"({"disks": [
    {"path": "usbstor#disk&ven_korvane#1", "bridge": "jms583", "firmware": "0.0.0.8",
     "plug_in_after_ms": )" +
         std::to_string(first) + R"(},
    {"path": "scsi#disk&ven_korvane#2", "bridge": "jms578", "firmware": "0.1.0.3",
     "plug_in_after_ms": )" +
         std::to_string(second) + "}]}";
}

TEST(KorvaneFwWait, WaitsOnlyWhenNothingIsAttachedAndThenReportsTheEnclosureThatCame) {
  const TempDir dir;
  const std::string later =
      dir.File("later.json", testing::Jms583With(R"(, "plug_in_after_ms": 1500)"));
  const std::string both = dir.File("both.json", TwoPluggedAt(1000, 1200));
  struct Case {
    std::vector<std::string> args;
    int code;
    int notes;
    std::string out;
  };
  const Case cases[] = {
      {{"--simulate", later, "check", "--wait"}, exitcode::kOffered, 1, "An update to"},
      {{"--simulate", later, "check"}, exitcode::kNothingFound, 0, "No enclosure found"},
      {{"--simulate", "jms583-outdated", "check", "--wait"}, exitcode::kOffered, 0, "offered"},
      // The simulated bus knows that nothing more will come, so the wait ends there.
      {{"--simulate", "no-enclosure", "check", "--wait"},
       exitcode::kNothingFound,
       1,
       "No enclosure found"},
      {{"--simulate", "no-rights", "check", "--wait"}, exitcode::kNoRights, 0, "lacks the rights"},
      // Two enclosures plugged in within one interval make one rescan, which finds both.
      {{"--simulate", both, "update", "--wait", "--yes"},
       exitcode::kMultiple,
       1,
       "Several enclosures"},
      {{"--simulate", later, "--json", "update", "--wait", "--yes"},
       exitcode::kOk,
       1,
       R"("result": "complete")"},
  };
  for (const Case& c : cases) {
    std::string words;
    for (const std::string& arg : c.args) words += arg + " ";
    SCOPED_TRACE(words);
    const Outcome result = KorvaneFw(c.args);
    EXPECT_EQ(result.code, c.code) << result.err;
    EXPECT_EQ(NotesIn(result.err), c.notes) << result.err;
    EXPECT_THAT(result.out + result.err, HasSubstr(c.out));
    EXPECT_EQ(NotesIn(result.out), 0);
  }
}

TEST(KorvaneFwWait, ARecordedWaitReplaysWithItsRescan) {
  const TempDir dir;
  const std::string later =
      dir.File("later.json", testing::Jms583With(R"(, "plug_in_after_ms": 700)"));
  const std::string trace = dir.File("wait.trace");
  const Outcome recorded = KorvaneFw({"--simulate", later, "--trace", trace, "check", "--wait"});
  ASSERT_EQ(recorded.code, exitcode::kOffered) << recorded.err;
  const Outcome replayed = KorvaneFw({"--replay", trace, "check", "--wait"});
  EXPECT_EQ(replayed.code, recorded.code) << replayed.err;
  EXPECT_EQ(replayed.out, recorded.out);
  EXPECT_EQ(NotesIn(replayed.err), 1);
}

/// Ctrl-C while the program waits for a device change.
struct CtrlC final : DeviceChanges {
  std::optional<std::string> Listen() override { return std::nullopt; }
  ChangeWait Wait(std::chrono::milliseconds) override {
    std::raise(SIGINT);
    return ChangeWait::Quiet;
  }
};

TEST(KorvaneFwWait, CtrlCWhileWaitingEndsWithTheInterruptCodeAndNoReport) {
  const Outcome result = testing::KorvaneFwOn(
      [](const PlatformChoices&) {
        return std::make_unique<testing::LockedMachine>(std::vector<DiskInterface>{},
                                                        std::make_unique<CtrlC>());
      },
      {"check", "--wait"});
  EXPECT_EQ(result.code, exitcode::kInterrupted);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(NotesIn(result.err), 1);
  EXPECT_EQ(std::signal(SIGINT, SIG_DFL), SIG_DFL) << "the handler found before is back";
}

}  // namespace
}  // namespace korvane::cli
