#include "Cli.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Command.h"
#include "KorvaneFwRun.h"

namespace korvane::cli {
namespace {

using ::testing::HasSubstr;
using testing::KorvaneFw;
using testing::Lines;
using testing::Outcome;
using ::testing::StartsWith;
using testing::TempDir;

TEST(KorvaneFwList, TwoEnclosuresGiveTwoDeviceListLines) {
  const Outcome result = KorvaneFw({"--simulate", "two-enclosures", "list"});
  EXPECT_EQ(result.code, exitcode::kOk) << result.err;
  const auto lines = Lines(result.out);
  ASSERT_EQ(lines.size(), 2u) << result.out;
  EXPECT_THAT(lines[0], StartsWith("<<USB>> "));
  EXPECT_THAT(lines[1], StartsWith("<<UASP>> "));
  EXPECT_THAT(result.out, HasSubstr("chip 22 (583)"));
  EXPECT_THAT(result.out, HasSubstr("chip 19 (579)"));
}

TEST(KorvaneFwList, JsonAndTraceDescribeTheOutdatedJms583) {
  const TempDir dir;
  const std::string trace = dir.File("t.jsonl");
  const Outcome result =
      KorvaneFw({"--simulate", "jms583-outdated", "--json", "--trace", trace, "list"});
  ASSERT_EQ(result.code, exitcode::kOk) << result.err;
  const auto json = nlohmann::json::parse(result.out);
  EXPECT_EQ(json["enumerated"], 1);
  ASSERT_EQ(json["disks"].size(), 1u);
  const auto& disk = json["disks"][0];
  EXPECT_EQ(disk["chip_code"], 22);
  EXPECT_EQ(disk["chip"], "583");
  EXPECT_EQ(disk["firmware"], "0.0.0.8");
  EXPECT_EQ(disk["rom_mode"], false);
  EXPECT_EQ(disk["bus"], "USB");
  EXPECT_THAT(disk["line"].get<std::string>(), StartsWith("<<USB>> "));
  EXPECT_EQ(disk["line"].get<std::string>().size(), 8u + 24u);

  const auto records = testing::TraceRecords(trace);
  for (const auto& record : records) {
    for (const char* key : {"path", "cdb", "dir", "len", "ok"}) {
      EXPECT_TRUE(record.contains(key)) << key << " in " << record.dump();
    }
    EXPECT_EQ(record["path"], disk["path"]);
    EXPECT_TRUE(record["dir"] == "in" || record["dir"] == "out") << record.dump();
  }
  EXPECT_GE(records.size(), 3u);  // probe, INQUIRY, identification, firmware read
}

TEST(KorvaneFwList, NothingToListIsOneLine) {
  struct Case {
    std::vector<std::string> args;
    std::string_view answer;
    int code;
  };
  const Case cases[] = {
      {{"--simulate", "no-enclosure", "list"}, "No enclosure found", exitcode::kNothingFound},
      {{"--simulate", "unsupported-bridge", "list"}, "chip 21 (580)", exitcode::kOk},
      {{"list"}, "No enclosure could be examined: ", exitcode::kNothingFound},
      {{"--simulate", "no-rights", "list"}, "lacks the rights", exitcode::kNoRights},
  };
  for (const Case& c : cases) {
    const Outcome result = KorvaneFw(c.args);
    const auto lines = Lines(result.out);
    ASSERT_EQ(lines.size(), 1u) << result.out;
    EXPECT_THAT(lines[0], HasSubstr(c.answer));
    EXPECT_EQ(result.code, c.code) << c.args[1];
  }
}

TEST(KorvaneFwList, BootRomIsSaid) {
  const Outcome result = KorvaneFw({"--simulate", "jms583-rom", "--json", "list"});
  const auto json = nlohmann::json::parse(result.out);
  ASSERT_EQ(json["disks"].size(), 1u);
  EXPECT_EQ(json["disks"][0]["rom_mode"], true);
  EXPECT_THAT(KorvaneFw({"--simulate", "jms583-rom", "list"}).out, HasSubstr("boot ROM"));
}

TEST(KorvaneFw, BadInputEndsWithExitCodeTwoAndNamesWhatIsWrong) {
  const TempDir dir;
  const std::string broken = dir.File("broken.json", "{\"disks\": [");
  const std::string wrongField = dir.File("field.json", R"({"disks": [{"path": 7}]})");
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> said;
  };
  const Case cases[] = {
      {{"--simulate", broken, "list"}, {"broken.json"}},
      {{"--simulate", wrongField, "check"}, {"field.json", "disks[0].path"}},
      {{"--simulate", dir.File("missing.json"), "list"}, {"missing.json"}},
      {{"--simulate", "jms583-outdated", "--trace", dir.path(), "check"}, {"trace file"}},
      {{"--simulate", "jms583-outdated"}, {"name a command"}},
      {{"lst"}, {"lst"}},
      {{"--frobnicate", "list"}, {"--frobnicate"}},
      {{"--save-state", dir.File("s.json"), "check"}, {"--save-state", "--simulate"}},
      {{"--simulate", "jms583-outdated", "--save-state", dir.path(), "check"},
       {"state was not saved"}},
      {{"--simulate", "jms583-outdated", "check", "--yes"}, {"--yes"}},
      {{"--simulate", "jms583-outdated", "--replay", dir.File("t.trace"), "check"},
       {"--replay and --simulate"}},
      {{"--replay", dir.File("missing.trace"), "check"},
       {"cannot read the trace", "missing.trace"}},
      {{"--replay", dir.File("t.trace"), "update"}, {"a replay does not ask", "--yes"}},
      {{"--replay", dir.File("t.trace"), "report"}, {"replay each run of a report"}},
      {{"--simulate", "jms583-outdated", "--trace", dir.File("t.trace"), "report"},
       {"leave out --trace"}},
  };
  for (const Case& c : cases) {
    const Outcome result = KorvaneFw(c.args);
    EXPECT_EQ(result.code, exitcode::kBadInput) << c.args.back() << ": " << result.err;
    for (const std::string& text : c.said) {
      EXPECT_THAT(result.err, HasSubstr(text)) << c.args.back();
    }
  }
  // A usage error is found before any command runs, so nothing was saved either.
  EXPECT_FALSE(std::filesystem::exists(dir.File("s.json")));
}

TEST(KorvaneFw, HelpEndsWithTheExitCodeTable) {
  const Outcome result = KorvaneFw({"--help"});
  EXPECT_EQ(result.code, exitcode::kOk);
  EXPECT_THAT(result.out, HasSubstr(std::string(kExitCodeTable)));
  for (const char* command : {"list", "check", "update", "--save-state"}) {
    EXPECT_THAT(result.out, HasSubstr(command));
  }
}

/// Every exit code of the table, reached as a new user would reach it.
TEST(KorvaneFw, EveryExitCodeIsReachable) {
  struct Case {
    std::vector<std::string> args;
    int code;
  };
  const Case cases[] = {
      {{"--simulate", "jms583-current", "check"}, exitcode::kOk},
      {{"--simulate", "jms578-current", "check"}, exitcode::kOk},
      {{"--simulate", "no-enclosure", "check"}, exitcode::kNothingFound},
      {{"--bogus", "check"}, exitcode::kBadInput},
      {{"--simulate", "jms583-outdated", "check"}, exitcode::kOffered},
      {{"--simulate", "two-enclosures", "check"}, exitcode::kMultiple},
      {{"--simulate", "unsupported-bridge", "check"}, exitcode::kFailure},
      {{"--simulate", "jms583-mounted", "update", "--yes"}, exitcode::kFailure},
      {{"--simulate", "no-rights", "check"}, exitcode::kNoRights},
      {{"--simulate", "no-rights", "update", "--yes"}, exitcode::kNoRights},
      {{"--simulate", "two-enclosures", "update", "--yes"}, exitcode::kMultiple},
      {{"--simulate", "jms583-outdated", "update", "--yes"}, exitcode::kOk},
  };
  for (const Case& c : cases) {
    const Outcome result = KorvaneFw(c.args);
    EXPECT_EQ(result.code, c.code) << c.args[1] << ' ' << c.args[2] << "\n" << result.err;
  }
  // 130 and 143 come from signals during the write: see the update command's tests.
  EXPECT_THAT(std::string(kExitCodeTable), HasSubstr("130"));
}

}  // namespace
}  // namespace korvane::cli
