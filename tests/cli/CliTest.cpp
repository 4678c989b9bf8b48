#include "Cli.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "Command.h"
#include "Scenario.h"
#include "SimulatedBus.h"
#include "SimulatedClock.h"

namespace korvane::cli {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

struct Outcome {
  int code;
  std::string out, err;
};

/// Stands in for this machine: one disk that the platform lists but nobody may open.
class LockedMachine final : public Devices {
 public:
  Port& port() override { return bus_; }
  DiskLister& lister() override { return lister_; }
  Clock& clock() override { return clock_; }

 private:
  struct Lister final : DiskLister {
    std::vector<DiskInterface> ListDisks() override { return {{"/dev/sg1", {.usbStorage = true}}}; }
  };
  sim::SimulatedClock clock_;
  sim::SimulatedBus bus_{clock_};
  Lister lister_;
};

Outcome KorvaneFw(std::vector<std::string> args) {
  std::ostringstream out, err;
  const int code = RunKorvaneFw(args, out, err, [] { return std::make_unique<LockedMachine>(); });
  return {code, out.str(), err.str()};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

/// A file in a fresh temporary directory, removed with it.
class TempDir {
 public:
  TempDir() {
    path_ = std::filesystem::temp_directory_path() /
            ("korvane-cli-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string File(std::string_view name, std::string_view content = {}) const {
    const auto file = path_ / name;
    if (!content.empty()) std::ofstream(file) << content;
    return file.string();
  }
  std::string path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

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

  std::ifstream file(trace);
  int commands = 0;
  for (std::string line; std::getline(file, line); ++commands) {
    const auto record = nlohmann::json::parse(line);
    for (const char* key : {"path", "cdb", "dir", "len", "ok"}) {
      EXPECT_TRUE(record.contains(key)) << key << " in " << line;
    }
    EXPECT_EQ(record["path"], disk["path"]);
    EXPECT_TRUE(record["dir"] == "in" || record["dir"] == "out") << line;
  }
  EXPECT_GE(commands, 3);  // probe, INQUIRY, identification, firmware read
}

TEST(KorvaneFwList, NothingToListIsOneLineAndExitCodeOne) {
  struct Case {
    std::vector<std::string> args;
    std::string_view answer;
  };
  const Case cases[] = {
      {{"--simulate", "no-enclosure", "list"}, "No enclosure found"},
      {{"--simulate", "unsupported-bridge", "list"}, "chip 21 (580)"},
      {{"list"}, "No enclosure could be examined: "},
  };
  for (const Case& c : cases) {
    const Outcome result = KorvaneFw(c.args);
    const auto lines = Lines(result.out);
    ASSERT_EQ(lines.size(), 1u) << result.out;
    EXPECT_THAT(lines[0], HasSubstr(c.answer));
  }
  EXPECT_EQ(KorvaneFw({"--simulate", "no-enclosure", "list"}).code, exitcode::kNothingFound);
}

TEST(KorvaneFwList, BootRomIsSaid) {
  const Outcome result = KorvaneFw({"--simulate", "jms583-rom", "--json", "list"});
  const auto json = nlohmann::json::parse(result.out);
  ASSERT_EQ(json["disks"].size(), 1u);
  EXPECT_EQ(json["disks"][0]["rom_mode"], true);
  EXPECT_THAT(KorvaneFw({"--simulate", "jms583-rom", "list"}).out, HasSubstr("boot ROM"));
}

TEST(KorvaneFwList, BadInputEndsWithExitCodeTwoAndNamesWhatIsWrong) {
  const TempDir dir;
  const std::string broken = dir.File("broken.json", "{\"disks\": [");
  const std::string wrongField = dir.File("field.json", R"({"disks": [{"path": 7}]})");
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> said;
  };
  const Case cases[] = {
      {{"--simulate", broken, "list"}, {"broken.json"}},
      {{"--simulate", wrongField, "list"}, {"field.json", "disks[0].path"}},
      {{"--simulate", dir.File("missing.json"), "list"}, {"missing.json"}},
      {{"--simulate", "jms583-outdated", "--trace", dir.path(), "list"}, {"trace file"}},
      {{"--simulate", "jms583-outdated"}, {"name a command"}},
      {{"lst"}, {"lst"}},
      {{"--frobnicate", "list"}, {"--frobnicate"}},
  };
  for (const Case& c : cases) {
    const Outcome result = KorvaneFw(c.args);
    EXPECT_EQ(result.code, exitcode::kBadInput) << c.args[0];
    for (const std::string& text : c.said) EXPECT_THAT(result.err, HasSubstr(text)) << c.args[0];
  }
}

}  // namespace
}  // namespace korvane::cli
