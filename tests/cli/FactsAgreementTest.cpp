// Every output names an enclosure alike: list, check, the backup's record and the history give
// one chip name, revision and version for it, on every built-in scenario.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "KorvaneFwRun.h"

namespace korvane::cli {
namespace {

using testing::InStateFolder;
using testing::KorvaneFw;
using testing::Lines;
using testing::ReadWhole;
using testing::RunConsole;
using testing::TempDir;
using Json = nlohmann::ordered_json;

/// What an output says about one enclosure; the version as the history words it.
struct Named {
  Json chip, revision, version;
  bool operator==(const Named&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Named& named) {
  return out << named.chip << ' ' << named.revision << ' ' << named.version;
}

/// A disk of list or check: its version "boot-rom" while the boot ROM runs.
Named OfDisk(const Json& disk) {
  const Json version = disk["rom_mode"] == true ? Json("boot-rom") : disk["firmware"];
  return {disk["chip"], disk["revision"], version};
}

/// The disks of a list or check answer, by path.
std::map<std::string, Named> Disks(const Json& answer) {
  std::map<std::string, Named> disks;
  for (const Json& disk : answer["disks"]) disks[disk["path"]] = OfDisk(disk);
  return disks;
}

Json Answer(const std::string& scenario, const std::string& command, const RunConsole& console) {
  return Json::parse(KorvaneFw({"--simulate", scenario, "--json", command}, console).out);
}

/// The backup's record and each history event must name the one enclosure as list does.
void ExpectStoredAlike(const std::map<std::string, Named>& listed, const TempDir& dir,
                       const RunConsole& console) {
  const std::string record = dir.File("backup.bin.json");
  if (listed.size() == 1 && std::filesystem::exists(record)) {
    const Json saved = Json::parse(ReadWhole(record));
    EXPECT_EQ((Named{saved["chip"], saved["revision"], saved["version"]}), listed.begin()->second);
  }
  const Json history = Json::parse(KorvaneFw({"--json", "history"}, console).out);
  for (const Json& event : history["events"]) {
    const Json& enclosure = event["enclosure"];
    ASSERT_TRUE(listed.contains(enclosure["path"])) << enclosure;
    EXPECT_EQ((Named{enclosure["chip"], enclosure["revision"], event["version_before"]}),
              listed.at(enclosure["path"]));
  }
}

TEST(FactsAgreementTest, EveryOutputNamesAnEnclosureAlike) {
  for (const std::string& scenario : Lines(KorvaneFw({"--list-scenarios"}).out)) {
    SCOPED_TRACE(scenario);
    const TempDir dir;
    const RunConsole console = InStateFolder(dir.path());
    const std::map<std::string, Named> listed = Disks(Answer(scenario, "list", console));
    const std::map<std::string, Named> checked = Disks(Answer(scenario, "check", console));
    for (const auto& [path, named] : checked) {
      ASSERT_TRUE(listed.contains(path)) << path;
      // The check reads the firmware of the one enclosure it checks, and of no other.
      Named expected = listed.at(path);
      if (listed.size() > 1 && named.version.is_null()) expected.version = nullptr;
      EXPECT_EQ(named, expected);
    }
    KorvaneFw({"--simulate", scenario, "backup", "-o", dir.File("backup.bin")}, console);
    ExpectStoredAlike(listed, dir, console);
  }
}

}  // namespace
}  // namespace korvane::cli
