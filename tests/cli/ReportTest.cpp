#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "KorvaneFwRun.h"

namespace korvane::cli {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

/// The report holds each run's command, exit code and JSON result, and each run replays from the
/// report to the same exit code; an update is in it only when asked for.
TEST(KorvaneFwReport, HoldsEachRunAndEachRunReplays) {
  const testing::TempDir dir;
  for (const bool update : {false, true}) {
    const std::string file = dir.File(update ? "with-update.jsonl" : "report.jsonl");
    std::vector<std::string> args{"--simulate", "jms583-outdated", "report", "-o", file};
    if (update) args.insert(args.end(), {"--update", "--yes"});
    const testing::Outcome result = testing::KorvaneFw(args);
    ASSERT_EQ(result.code, exitcode::kOk) << result.err;
    EXPECT_THAT(result.out, HasSubstr("serial number"));

    std::vector<std::string> commands;
    std::vector<int> codes;
    for (const std::string& line : testing::Lines(testing::ReadWhole(file))) {
      const auto json = nlohmann::json::parse(line);
      if (!json.contains("run")) continue;
      commands.push_back(json["run"][0]);
      codes.push_back(json["exit"]);
      EXPECT_TRUE(json["result"].is_object()) << line;
    }
    if (update) {
      EXPECT_THAT(commands, ElementsAre("list", "check", "update"));
    } else {
      EXPECT_THAT(commands, ElementsAre("list", "check"));
    }
    for (std::size_t i = 0; i < commands.size(); ++i) {
      std::vector<std::string> replay{"--replay", file, commands[i], "--json"};
      if (commands[i] == "update") replay.push_back("--yes");
      EXPECT_EQ(testing::KorvaneFw(replay).code, codes[i]) << commands[i];
    }
  }
}

}  // namespace
}  // namespace korvane::cli
