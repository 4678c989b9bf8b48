#include "ReplugProof.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "KorvaneFwRun.h"

namespace korvane::cli {
namespace {

using ::testing::HasSubstr;
using testing::KorvaneFw;
using ::testing::Not;
using testing::Outcome;
using testing::TempDir;

// The scenario's enclosure is unplugged once its update has written the flash, and comes back
// after the replug time running what its scenario says.
TEST(KorvaneFwReplug, TheReplugAfterAnUpdateShowsWhatRunsWithItsOwnExitCode) {
  struct Case {
    const char* what;
    const char* keys;
    std::vector<std::string> options;
    int code;
    const char* result;  ///< in the JSON
    const char* said;    ///< in the words
  };
  const Case cases[] = {
      {"back with the version written",
       R"(, "replug_after_ms": 4000)",
       {"--replug"},
       exitcode::kOk,
       "runs-written",
       "After the replug the enclosure runs 0.0.1.2, release 234.01.00.02, the firmware"},
      {"back in its boot ROM",
       R"(, "replug_after_ms": 4000, "replug_into": "rom")",
       {"--replug"},
       exitcode::kReplugBootRom,
       "boot-rom",
       "Run korvane-fw update again"},
      {"back with another version",
       R"(, "replug_after_ms": 4000, "replug_into": "0.0.0.9")",
       {"--replug"},
       exitcode::kReplugOtherVersion,
       "other-version",
       "runs 0.0.0.9, not the 0.0.1.2, release 234.01.00.02 written"},
      {"back with the old version",
       R"(, "replug_after_ms": 4000, "replug_into": "0.0.0.8")",
       {"--replug"},
       exitcode::kReplugOtherVersion,
       "other-version",
       "runs 0.0.0.8, not the"},
      {"back too late",
       R"(, "replug_after_ms": 90000)",
       {"--replug", "--replug-wait", "60"},
       exitcode::kReplugNotBack,
       "not-back",
       "did not come back within 1 minute"},
      // Nothing is waited for: the scenario says at once that it never comes back.
      {"never unplugged",
       "",
       {"--replug"},
       exitcode::kReplugNotBack,
       "not-back",
       "was not replugged: the scenario never replugs this simulated enclosure"},
  };
  const TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string scenario = dir.File("replug.json", testing::Jms583With(c.keys));
    std::vector<std::string> args{"--simulate", scenario, "update", "--yes"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const Outcome human = KorvaneFw(args);
    EXPECT_EQ(human.code, c.code) << human.out << human.err;
    EXPECT_THAT(human.out, HasSubstr("Update complete\n"));
    EXPECT_THAT(human.out, HasSubstr(c.said));
    EXPECT_EQ(human.err.find("Unplug the enclosure and plug it in again") == std::string::npos,
              std::string_view(c.keys).empty());

    args.insert(args.begin(), "--json");
    const TempDir state;
    const Outcome json = KorvaneFw(args, testing::InStateFolder(state.path()));
    EXPECT_EQ(json.code, c.code);
    const auto parsed = nlohmann::json::parse(json.out);
    EXPECT_EQ(parsed["result"], "complete");
    EXPECT_EQ(parsed["replug"]["result"], c.result);
    const auto history = nlohmann::json::parse(
        KorvaneFw({"history", "--json"}, testing::InStateFolder(state.path())).out);
    EXPECT_EQ(history["events"].back()["replug"]["result"], c.result);
  }
}

// With --device, the scans after the replug find the enclosure at its path again, and the
// enclosure left alone receives nothing before, during or after the wait.
TEST(KorvaneFwReplug, WithADeviceChosenTheOtherEnclosureReceivesNothing) {
  const TempDir dir;
  const std::string nvme = R"(\\?\usbstor#disk&ven_korvane&prod_nvme#1#{53f56307})";
  const std::string scenario = dir.File("two.json", R"({"disks": [
    {"path": "\\\\?\\usbstor#disk&ven_korvane&prod_nvme#1#{53f56307}", "bridge": "jms583",
     "firmware": "0.0.0.8", "replug_after_ms": 4000},
    {"path": "\\\\?\\usbstor#disk&ven_korvane&prod_sata#2#{53f56307}", "bridge": "jms578",
     "firmware": "0.1.0.3", "replug_after_ms": 4000}]})");
  const std::string trace = dir.File("t.jsonl");
  const Outcome run = KorvaneFw(
      {"--simulate", scenario, "--device", nvme, "--trace", trace, "update", "--yes", "--replug"});
  EXPECT_EQ(run.code, exitcode::kOk) << run.out << run.err;
  EXPECT_THAT(run.out, HasSubstr("After the replug the enclosure runs 0.0.1.2"));
  EXPECT_THAT(run.out, Not(HasSubstr("It came back as")));
  const auto records = testing::TraceRecords(trace);
  EXPECT_GT(records.size(), 10u);
  for (const auto& record : records) EXPECT_EQ(record["path"], nvme) << record.dump();
}

TEST(KorvaneFwReplug, OnlyATerminalOrTheOptionWaitsForTheReplug) {
  struct Case {
    const char* what;
    testing::RunConsole console;
    std::vector<std::string> options;
    bool waits;
  };
  testing::RunConsole terminal;
  terminal.inIsTerminal = true;
  terminal.outIsTerminal = true;
  const Case cases[] = {
      {"a pipe", {}, {}, false},
      {"a pipe, asked for", {}, {"--replug"}, true},
      {"a terminal", terminal, {}, true},
      {"a terminal, declined", terminal, {"--no-replug"}, false},
  };
  const TempDir dir;
  const std::string scenario =
      dir.File("replug.json", testing::Jms583With(R"(, "replug_after_ms": 4000)"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args{"--simulate", scenario, "update", "--yes"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const Outcome run = testing::KorvaneFwOn(
        [](const PlatformChoices&) { return std::make_unique<testing::LockedMachine>(); }, args,
        c.console);
    EXPECT_EQ(run.code, exitcode::kOk) << run.err;
    const auto proof = HasSubstr("After the replug the enclosure runs 0.0.1.2");
    if (c.waits) {
      EXPECT_THAT(run.out, proof);
    } else {
      EXPECT_THAT(run.out, Not(proof));
      EXPECT_THAT(run.out, HasSubstr("Unplug the enclosure and plug it in again"));
    }
  }
}

}  // namespace
}  // namespace korvane::cli
