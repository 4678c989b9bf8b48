// Recorded runs replayed: every trace of the corpus must lead korvane-fw to the recorded output
// and exit code, sending exactly the recorded commands.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "CorpusReplay.h"

namespace korvane::cli {
namespace {

using ::testing::HasSubstr;
using testing::ReadWhole;

TEST(Corpus, EveryRecordedRunReplaysToItsOutputAndExitCode) {
  ExpectEveryRunReplays(KORVANE_SIM_CORPUS, 10);
}

/// The answers are what decide: the same recording with another running version in the bridge's
/// identity answers gets the other verdict.
TEST(Corpus, TheRecordedVersionDecidesTheVerdict) {
  const std::string recorded =
      ReadWhole(std::filesystem::path(KORVANE_SIM_CORPUS) / "jms583-outdated-check.trace");
  const testing::TempDir dir;
  // The identity block's last four bytes are the running version: 0.0.0.8 becomes 0.0.1.8, which
  // the carried firmware does not replace.
  const std::regex identity(R"(("cdb":"e0f4e7[0-9a-f]*".*"answer":"f4e7[0-9a-f]{20})00000008")");
  const std::string current = std::regex_replace(recorded, identity, "$0100000108\"");
  ASSERT_TRUE(current != recorded) << "no identity answer to change";
  const std::string file = dir.File("current.trace", current);

  const testing::Outcome outdated =
      Replay((std::filesystem::path(KORVANE_SIM_CORPUS) / "jms583-outdated-check.trace").string());
  const testing::Outcome upToDate = Replay(file);
  EXPECT_EQ(outdated.code, exitcode::kOffered) << outdated.err;
  EXPECT_EQ(upToDate.code, exitcode::kOk) << upToDate.err;
  EXPECT_THAT(upToDate.out, HasSubstr("No update is offered"));
}

/// Each way a program can leave its recording stops the replay with exit code 2 and says where;
/// a recording that ends early is the enclosure going away, which the program reports itself.
TEST(Corpus, EveryDifferenceFromTheRecordingIsNamed) {
  struct Case {
    std::string trace;
    std::string pattern, replacement;  ///< an edit of the recording
    int code;
    std::string said;
    std::vector<std::string> words = {};  ///< the command replayed, when not the recorded one
  };
  const Case cases[] = {
      {"jms583-outdated-check", R"("cdb":"ff0423040000)", R"("cdb":"ff0423080000)",
       exitcode::kBadInput, ":7: the replay differs from the recording at command 6 ("},
      {"jms583-outdated-check", R"("cdb":"ff0423040000)", R"("cdb":"ff0423080000)",
       exitcode::kBadInput,
       "recorded CDB ff0423080000000000000000, sent CDB ff0423040000000000000000"},
      {"jms583-outdated-update", R"("data":"0100152d)", R"("data":"0100152e)", exitcode::kBadInput,
       "the data sent differs from the recording at byte 3"},
      {"jms583-outdated-check", R"(\{"exit":3\})", "", exitcode::kBadInput, "sent none"},
      {"jms583-mounted-update", R"(\{"mounts".*\n)", "", exitcode::kBadInput, "is in use"},
      {"jms583-outdated-check", R"(\{"path":[^\n]*"cdb":"ff0412[^\n]*\n(.|\n)*)", "",
       exitcode::kFailure, ""},
      {"jms583-outdated-check", R"(\{"path":[^\n]*"cdb":"12[^\n]*\n(\{"exit":3\}))", "$1",
       exitcode::kBadInput, "the program sent CDB 120000002800000000000000, recorded none"},
      {"jms583-outdated-check",
       "^",
       "",
       exitcode::kBadInput,
       "the trace recorded \"check\": replay it with that command",
       {"list"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.trace + ": " + c.pattern);
    std::string text = ReadWhole(std::filesystem::path(KORVANE_SIM_CORPUS) / (c.trace + ".trace"));
    if (c.said == "sent none")
      text += R"({"path":"/dev/sg9","cdb":"12","dir":"in","len":0,)"
              R"("ok":true,"stage":"none","os_error":0,"status":0,)"
              R"("host":0,"driver":0,"transferred":0,"answer":""})"
              "\n";
    const std::string edited = std::regex_replace(text, std::regex(c.pattern), c.replacement);
    ASSERT_TRUE(edited != text || !c.words.empty()) << "the edit changed nothing";
    const testing::TempDir dir;
    const testing::Outcome replayed = Replay(dir.File("edited.trace", edited), c.words);
    EXPECT_EQ(replayed.code, c.code) << replayed.err;
    EXPECT_THAT(replayed.err, HasSubstr(c.said));
    if (c.code == exitcode::kBadInput) {
      EXPECT_EQ(replayed.out, "");
    }
  }
}

}  // namespace
}  // namespace korvane::cli
