#include "CheckCommand.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "Desktop.h"
#include "EmbeddedImages.h"
#include "KorvaneFwRun.h"
#include "Scenario.h"
#include "TForm1.h"
#include "TraceJson.h"
#include "app/FakeMainView.h"

namespace korvane::cli {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::KorvaneFw;
using ::testing::Not;
using testing::Outcome;
using testing::TempDir;

using testing::Jms583With;

nlohmann::json CheckJsonOf(const std::string& scenario, int* code = nullptr) {
  const Outcome result = KorvaneFw({"--simulate", scenario, "--json", "check"});
  if (code != nullptr) *code = result.code;
  return nlohmann::json::parse(result.out);
}

/// Each verdict as the built-in scenarios and a few files reach it: the window's text, picture
/// and clickable state, what was read, the reason and the exit code.
TEST(KorvaneFwCheck, VerdictsOfTheBuiltInsAndFiles) {
  const TempDir dir;
  const std::string nvramFails = dir.File(
      "nvram.json", Jms583With(R"(, "faults": [{"command": "ReadNvram", "effect": "fail"}])"));
  const std::string unknownChip = dir.File("odd.json", R"({"disks": [
    {"path": "\\\\?\\usbstor#disk&ven_korvane&prod_odd#3#{53f56307}", "bridge": "custom",
     "identity":     "F4 E7 15 2D 05 80 03 05 39 39 39 31 00 01 02 00",
     "identity_alt": "F4 E7 15 2D 05 80 03 05 39 39 39 31 00 01 02 00", "config_word": 0}]})");
  const std::string excluded = dir.File(
      "excluded.json", Jms583With(R"(, "inquiry": {"vendor": "Acme", "product": "vornix box"})"));
  struct Case {
    std::string scenario;
    std::string verdict;
    std::string_view text;
    std::string picture;
    bool clickable;
    nlohmann::json chipCode, firmware;
    std::size_t disks;
    std::string reason;  ///< empty: null
    int code;
  };
  const Case cases[] = {
      {"jms583-outdated", "offer", status::OfferText(kChipCodeJms583), "UPDATE", true, 22,
       "0.0.0.8", 1, "", exitcode::kOffered},
      {"jms578-outdated", "offer", status::OfferText(kChipCodeJms578), "UPDATE", true, 19,
       "0.1.0.3", 1, "", exitcode::kOffered},
      {"jms578-current", "up-to-date", status::kUpToDate, "GOOD", false, 19, "0.2.1.4", 1, "",
       exitcode::kOk},
      {"jms583-current", "nothing-to-update", status::kNothingFound, "CROSS", false, 22, "0.0.1.2",
       1, "runs firmware 0.0.1.2", exitcode::kOk},
      {"two-enclosures", "multiple", status::kMultiple, "CROSS", false, nullptr, nullptr, 2,
       "2 enclosures", exitcode::kMultiple},
      {"unsupported-bridge", "failure", status::kNothingFound, "CROSS", false, 21, nullptr, 1,
       "580 bridge", exitcode::kFailure},
      {nvramFails, "failure", status::kNothingFound, "CROSS", false, 22, "0.0.0.8", 1,
       "reading the NVRAM record failed", exitcode::kFailure},
      {excluded, "failure", status::kNothingFound, "CROSS", false, 22, "0.0.0.8", 1, "vornix box",
       exitcode::kFailure},
      {unknownChip, "not-found", status::kNothingFound, "CROSS", false, nullptr, nullptr, 0,
       "no bridge chip this tool knows", exitcode::kNothingFound},
      {"no-enclosure", "not-found", status::kNothingFound, "CROSS", false, nullptr, nullptr, 0,
       "no USB, UASP or FireWire disk", exitcode::kNothingFound},
      {"no-rights", "no-rights", status::kNothingFound, "CROSS", false, nullptr, nullptr, 0,
       "lacks the rights", exitcode::kNoRights},
  };
  for (const Case& c : cases) {
    int code = -1;
    const nlohmann::json json = CheckJsonOf(c.scenario, &code);
    SCOPED_TRACE(c.scenario);
    EXPECT_EQ(json["verdict"], c.verdict);
    EXPECT_EQ(json["status_text"], c.text);
    EXPECT_EQ(json["picture"], c.picture);
    EXPECT_EQ(json["clickable"], c.clickable);
    EXPECT_EQ(json["chip_code"], c.chipCode);
    EXPECT_EQ(json["firmware"], c.firmware);
    EXPECT_EQ(json["disks"].size(), c.disks);
    if (c.reason.empty()) {
      EXPECT_TRUE(json["reason"].is_null()) << json["reason"];
    } else {
      EXPECT_THAT(json["reason"].get<std::string>(), HasSubstr(c.reason));
    }
    EXPECT_EQ(code, c.code);
  }
}

TEST(KorvaneFwCheck, JsonKeysComeInTheirOrderAndDisksAreListsDisks) {
  const nlohmann::ordered_json json = nlohmann::ordered_json::parse(
      KorvaneFw({"--simulate", "jms583-outdated", "--json", "check"}).out);
  std::vector<std::string> keys;
  for (const auto& item : json.items()) keys.push_back(item.key());
  EXPECT_THAT(keys,
              ElementsAre("json_format_version", "program", "exit_status", "messages", "verdict",
                          "status_text", "picture", "clickable", "chip_code", "firmware", "disks",
                          "reason", "firmware_release", "offered_version", "offered_release",
                          "carried_version", "carried_release"));
  const nlohmann::ordered_json listed = nlohmann::ordered_json::parse(
      KorvaneFw({"--simulate", "jms583-outdated", "--json", "list"}).out);
  // The checked disk's firmware comes from the check itself, so it equals what list reads.
  EXPECT_EQ(json["disks"], listed["disks"]);

  // Of several enclosures the check reads no firmware, and says so.
  const auto several = CheckJsonOf("two-enclosures");
  for (const auto& disk : several["disks"]) EXPECT_TRUE(disk["firmware"].is_null()) << disk;
}

TEST(KorvaneFwCheck, SaysInWordsWhatIsAttachedAndWhatIsOffered) {
  struct Case {
    std::string scenario;
    std::vector<std::string> said;
  };
  const Case cases[] = {
      {"jms583-outdated",
       {"Enclosure: <<USB>> Korvane NVMe Enclosure  \n",
        "Path:      \\\\?\\usbstor#disk&ven_korvane", "JMS583 (chip code 22",
        "Firmware:  0.0.0.8\n",
        "An update to 0.0.1.2, release 234.01.00.02 is offered: run korvane-fw update\n",
        "Window:    \"" + std::string(status::OfferText(kChipCodeJms583)) + "\"\n"}},
      {"jms578-outdated",
       {"JMS578 (chip code 19", "An update to 0.2.1.4, release 02.14 is offered"}},
      {"jms578-current", {"up to date", "Window:    \"Your product is up to date\""}},
      {"two-enclosures", {"<<USB>> Korvane NVMe", "<<UASP>> Korvane SATA", "Disconnect all but"}},
      {"no-rights", {"Window:    \"Cannot find any outdated Korvane devices. \""}},
  };
  for (const Case& c : cases) {
    const Outcome result = KorvaneFw({"--simulate", c.scenario, "--verbose", "check"});
    for (const std::string& text : c.said) EXPECT_THAT(result.out, HasSubstr(text)) << c.scenario;
    // The window's text is not the command line's verdict: it is shown only when asked for.
    const Outcome plain = KorvaneFw({"--simulate", c.scenario, "check"});
    EXPECT_THAT(plain.out, Not(HasSubstr("Window:"))) << c.scenario;
  }
}

/// A chip's scenario at a running version, as a file.
std::string AtVersion(const TempDir& dir, std::string_view chip, std::string_view version) {
  return dir.File(std::string(chip) + "-" + std::string(version) + ".json",
                  R"({"disks": [{"path": "\\\\?\\usbstor#disk&ven_korvane&prod_x#1#{53f56307}",
                      "bridge": ")" +
                      std::string(chip) + R"(", "firmware": ")" + std::string(version) + "\"}]}");
}

/// Versions in words: the release beside the bytes where the catalogue names one, and "up to
/// date" only for the very firmware carried, so that a user can tell an update took. A real
/// enclosure offered an update by a build of development images is told what that build can do.
TEST(KorvaneFwCheck, NamesReleasesAndSaysUpToDateOnlyOfTheCarriedFirmware) {
  const TempDir dir;
  const std::string note(kDevelopmentBuildNote);
  const bool development = EmbeddedImages().development();
  struct Case {
    std::string scenario;
    bool real;
    std::vector<std::string> said, unsaid;
  };
  const Case cases[] = {
      {"jms583-current",
       false,
       {"Firmware:  0.0.1.2, release 234.01.00.02\n",
        "The firmware is up to date: it runs 0.0.1.2, release 234.01.00.02, the version this "
        "tool carries.\n"},
       {}},
      {"jms578-current",
       false,
       {"The firmware is up to date: it runs 0.2.1.4, release 02.14, the version this tool"},
       {}},
      {AtVersion(dir, "jms578", "0.2.1.9"),
       false,
       {"Firmware:  0.2.1.9\n",
        "No update is offered: the version rules count the running "
        "firmware as current; this tool carries 0.2.1.4, release 02.14.\n"},
       {"up to date:"}},
      {AtVersion(dir, "jms583", "0.0.2.0"),
       false,
       {"runs firmware 0.0.2.0, which the firmware this tool carries (0.0.1.2, release "
        "234.01.00.02) does not replace.\n"},
       {"up to date:"}},
      {"jms583-outdated", false, {}, {note}},
      {"jms583-outdated", true, {development ? note : "An update to"}, {development ? "" : note}},
      {"jms583-current", true, {"up to date:"}, {note}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario + (c.real ? " as a real enclosure" : ""));
    const Outcome result = c.real ? testing::KorvaneFwOnRealLooking(c.scenario, {"check"})
                                  : KorvaneFw({"--simulate", c.scenario, "check"});
    for (const std::string& text : c.said) EXPECT_THAT(result.out, HasSubstr(text));
    for (const std::string& text : c.unsaid) {
      if (!text.empty()) {
        EXPECT_THAT(result.out, Not(HasSubstr(text)));
      }
    }
  }
}

/// The commands the window's start-up scan sends for a scenario, as trace lines.
std::vector<std::string> WindowCommands(const std::string& scenario) {
  sim::SimulatedClock clock;
  sim::SimulatedBus bus(clock);
  sim::PlugIn(std::get<sim::Scenario>(sim::LoadScenario(scenario)), bus);
  sim::SimulatedDiskLister lister(bus);
  Transport io(bus);
  std::vector<std::string> commands;
  io.SetTrace([&](const TraceRecord& record) { commands.push_back(TraceJson(record)); });
  korvane::testing::FakeMainView view(clock);
  KeptMessages messages;
  StreamDebugOutput debug(nullptr);
  EmbeddedImages images;
  NoDesktop desktop;
  const DeviceServices devices{io, lister, clock};
  TForm1 form({devices, view, messages, debug, images, desktop});
  form.btn_RefreshClick();
  return commands;
}

TEST(KorvaneFwCheck, SendsTheCommandsTheWindowSendsInItsOrder) {
  for (const std::string scenario :
       {"jms583-outdated", "jms578-current", "two-enclosures", "unsupported-bridge"}) {
    const TempDir dir;
    const std::string trace = dir.File("t.jsonl");
    KorvaneFw({"--simulate", scenario, "--trace", trace, "check"});
    std::vector<std::string> sent;
    for (const auto& record : testing::TraceRecords(trace)) sent.push_back(record.dump());
    std::vector<std::string> window;
    for (const std::string& line : WindowCommands(scenario)) {
      window.push_back(nlohmann::json::parse(line).dump());
    }
    EXPECT_EQ(sent, window) << scenario;
    EXPECT_EQ(testing::Writes(testing::TraceRecords(trace)), 0) << scenario;
  }
}

}  // namespace
}  // namespace korvane::cli
