#include "Cli.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "Command.h"
#include "EmbeddedImages.h"
#include "KorvaneFwRun.h"
#include "Scenario.h"

namespace korvane::cli {
namespace {

using ::testing::HasSubstr;
using testing::KorvaneFw;
using testing::Lines;
using ::testing::Not;
using testing::Outcome;
using testing::ReadWhole;
using ::testing::StartsWith;
using testing::TempDir;

TEST(KorvaneFwList, TwoEnclosuresGiveTwoDeviceListLines) {
  const Outcome result = KorvaneFw({"--simulate", "two-enclosures", "list"});
  EXPECT_EQ(result.code, exitcode::kOk) << result.err;
  const auto lines = Lines(result.out);
  ASSERT_EQ(lines.size(), 2u) << result.out;
  EXPECT_THAT(lines[0], StartsWith("<<USB>> "));
  EXPECT_THAT(lines[1], StartsWith("<<UASP>> "));
  EXPECT_THAT(result.out, HasSubstr("JMS583 (chip code 22, revision 0)"));
  EXPECT_THAT(result.out, HasSubstr("JMS578 (chip code 19, revision 1)"));
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
  EXPECT_EQ(disk["chip"], "JMS583");
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

/// Options given before the command are recorded with it, and the same command line replays.
TEST(KorvaneFw, ATraceReplaysWithTheCommandLineItWasRecordedWith) {
  const TempDir dir;
  const std::vector<std::vector<std::string>> lines{
      {"--json", "check"}, {"--verbose", "list"}, {"--json", "--verbose", "update", "--yes"}};
  for (const auto& words : lines) {
    const std::string trace = dir.File("t.jsonl");
    std::vector<std::string> recording{"--simulate", "jms583-outdated", "--trace", trace};
    recording.insert(recording.end(), words.begin(), words.end());
    const Outcome recorded = KorvaneFw(recording);
    std::vector<std::string> replay{"--replay", trace};
    replay.insert(replay.end(), words.begin(), words.end());
    const Outcome replayed = KorvaneFw(replay);
    EXPECT_EQ(replayed.code, recorded.code) << words.front() << ": " << replayed.err;
    // The replay's own command line is its own.
    EXPECT_EQ(testing::WithoutBackupFile(testing::WithoutArgv(replayed.out)),
              testing::WithoutBackupFile(testing::WithoutArgv(recorded.out)))
        << words.front();
  }
}

// The paths of the scenario two-enclosures, as list shows them.
const std::string kNvmePath =
    R"(\\?\usbstor#disk&ven_korvane&prod_nvme_enclosure&rev_0100#0001&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b})";
const std::string kSataPath =
    R"(\\?\scsi#disk&ven_korvane&prod_sata_enclosure#4&2f8a1c3b&0&000000#{53f56307-b6bf-11d0-94f2-00a0c91efb8b})";
const std::string kFlashDiskPath =
    R"(\\?\usbstor#disk&ven_generic&prod_flash_disk&rev_8.07#0004&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b})";
const std::string kInternalDiskPath =
    R"(\\?\ide#diskgeneric_ssd_512gb_____________________________1.0_____#5&1e2c3d4f&0&0.0.0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b})";

/// The enclosures of two-enclosures on a bus that outlives the run, so that what each bridge
/// received can be read from the simulator's own record afterwards.
class KeptEnclosures {
 public:
  KeptEnclosures() {
    sim::PlugIn(std::get<sim::Scenario>(sim::LoadScenario("two-enclosures")), bus_);
  }
  PlatformFactory Machine() {
    return [this](const PlatformChoices&) { return std::make_unique<OnBus>(*this); };
  }
  std::size_t Received(const std::string& path) const { return bus_.Find(path)->log().size(); }

 private:
  class OnBus final : public Devices {
   public:
    explicit OnBus(KeptEnclosures& kept) : kept_(kept) {}
    Port& port() override { return kept_.bus_; }
    DiskLister& lister() override { return lister_; }
    Clock& clock() override { return kept_.clock_; }
    DeviceChanges& changes() override { return changes_; }
    Enclosures enclosures() const override { return Enclosures::Simulated; }
    MountState CheckMounts(std::string_view) override { return {}; }

   private:
    KeptEnclosures& kept_;
    sim::SimulatedDiskLister lister_{kept_.bus_};
    NoDeviceChanges changes_;
  };
  sim::SimulatedClock clock_;
  sim::SimulatedBus bus_{clock_};
};

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// --device with two enclosures attached: the chosen one alone receives commands, by the
// simulator's own record, and the verdict that several are attached does not arise.
TEST(KorvaneFw, TheDeviceChosenAloneReceivesCommands) {
  const TempDir dir;
  struct Case {
    std::vector<std::string> args;
    std::string device;  ///< empty: none chosen, both receive
    int code;
    std::string said;
  };
  const Case cases[] = {
      {{"list"}, kNvmePath, exitcode::kOk, "<<USB>> Korvane NVMe"},
      {{"list"}, kSataPath, exitcode::kOk, "<<UASP>> Korvane SATA"},
      {{"check"}, kNvmePath, exitcode::kOffered, "An update to"},
      {{"check"}, Upper(kNvmePath), exitcode::kOffered, "An update to"},
      {{"--json", "check"}, kSataPath, exitcode::kOk, "\"verdict\": \"up-to-date\""},
      {{"update", "--yes", "--no-replug"}, kNvmePath, exitcode::kOk, "Update complete"},
      {{"backup", "-o", dir.File("b.bin")}, kSataPath, exitcode::kOk, "b.bin"},
      {{"report", "-o", dir.File("r.jsonl")}, kNvmePath, exitcode::kOk, "r.jsonl"},
      {{"check"}, "", exitcode::kMultiple, "Several enclosures are attached"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front() + " " + c.device);
    KeptEnclosures kept;
    std::vector<std::string> args = c.args;
    if (!c.device.empty()) args.insert(args.begin(), {"--device", c.device});
    const Outcome result = testing::KorvaneFwOn(kept.Machine(), args);
    EXPECT_EQ(result.code, c.code) << result.out << result.err;
    EXPECT_THAT(result.out, HasSubstr(c.said));
    if (!c.device.empty()) {
      EXPECT_THAT(result.out, Not(HasSubstr("Several enclosures")));
    }
    const bool nvme = c.device.empty() || Upper(c.device) == Upper(kNvmePath);
    const bool sata = c.device.empty() || c.device == kSataPath;
    EXPECT_EQ(kept.Received(kNvmePath) > 0, nvme);
    EXPECT_EQ(kept.Received(kSataPath) > 0, sata);
  }
}

// A trace taken with --device holds what the choice showed: it replays with the choice or
// without it.
TEST(KorvaneFw, ATraceTakenWithADeviceReplays) {
  const TempDir dir;
  const std::string trace = dir.File("t.jsonl");
  const Outcome recorded =
      KorvaneFw({"--simulate", "two-enclosures", "--device", kNvmePath, "--trace", trace, "check"});
  ASSERT_EQ(recorded.code, exitcode::kOffered) << recorded.err;
  for (const auto& record : testing::TraceRecords(trace)) EXPECT_EQ(record["path"], kNvmePath);
  for (const bool chosen : {false, true}) {
    std::vector<std::string> args{"--replay", trace, "check"};
    if (chosen) args.insert(args.begin(), {"--device", kNvmePath});
    const Outcome replayed = KorvaneFw(args);
    EXPECT_EQ(replayed.code, recorded.code) << replayed.err;
    EXPECT_EQ(replayed.out, recorded.out);
  }
}

TEST(KorvaneFwList, NothingToListIsOneLine) {
  struct Case {
    std::vector<std::string> args;
    std::string_view answer;
    int code;
  };
  const Case cases[] = {
      {{"--simulate", "no-enclosure", "list"}, "No enclosure found", exitcode::kNothingFound},
      {{"--simulate", "unsupported-bridge", "list"},
       "580 (chip code 21, revision 1) | firmware not read",
       exitcode::kOk},
      {{"list"}, "No enclosure could be examined: ", exitcode::kNothingFound},
      {{"--simulate", "no-rights", "list"}, "lacks the rights", exitcode::kNoRights},
      {{"--simulate", "no-enclosure", "--device", kFlashDiskPath, "list"},
       "No enclosure found",
       exitcode::kNothingFound},
  };
  for (const Case& c : cases) {
    const Outcome result = KorvaneFw(c.args);
    const auto lines = Lines(result.out);
    ASSERT_EQ(lines.size(), 1u) << result.out;
    EXPECT_THAT(lines[0], HasSubstr(c.answer));
    EXPECT_EQ(result.code, c.code) << c.args[1];
  }
  // Asked for, each disk left out is named with why.
  const Outcome verbose = KorvaneFw({"--simulate", "no-enclosure", "--verbose", "list"});
  EXPECT_THAT(verbose.err, HasSubstr("Left out " + std::string(kInternalDiskPath) +
                                     ": not a USB, UASP or FireWire disk"));
  EXPECT_THAT(verbose.err,
              HasSubstr("Left out " + std::string(kFlashDiskPath) + ": it answered no bridge"));
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
  const std::string replugged = dir.File("replugged.json", R"({"disks": [
    {"path": "usbstor#1", "bridge": "jms583", "firmware": "0.0.0.8", "replug_after_ms": 3000}]})");
  const std::string withReplug = dir.File("replug.trace");
  ASSERT_EQ(
      KorvaneFw({"--simulate", replugged, "--trace", withReplug, "update", "--yes", "--replug"})
          .code,
      exitcode::kOk);
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> said;
    int code = exitcode::kBadInput;
  };
  const Case cases[] = {
      {{"--simulate", broken, "list"}, {"broken.json"}},
      {{"--simulate", wrongField, "check"}, {"field.json", "disks[0].path"}},
      {{"--simulate", dir.File("missing.json"), "list"}, {"missing.json"}},
      {{"--simulate", "jms583-outdated", "--trace", dir.path(), "check"},
       {"trace file", "is a folder"}},
      {{"--simulate", "jms583-outdated"}, {"name a command"}},
      {{"lst"}, {"lst"}},
      {{"--frobnicate", "list"}, {"--frobnicate"}},
      {{"--save-state", dir.File("s.json"), "check"}, {"--save-state", "--simulate"}},
      {{"--simulate", "jms583-outdated", "--save-state", dir.path(), "check"},
       {"state file", "is a folder"}},
      {{"--simulate", "jms583-outdated", "report", "-o", dir.path()}, {"report", "is a folder"}},
      {{"--simulate", "jms583-outdated", "check", "--yes"}, {"--yes"}},
      {{"--simulate", "jms583-outdated", "--replay", dir.File("t.trace"), "check"},
       {"--replay and --simulate"}},
      {{"--replay", dir.File("missing.trace"), "check"},
       {"cannot read the trace", "missing.trace"}},
      {{"--replay", dir.File("t.trace"), "update"}, {"a replay does not ask", "--yes"}},
      {{"--replay", dir.File("t.trace"), "report"}, {"replay each run of a report"}},
      {{"--simulate", "jms583-outdated", "--trace", dir.File("t.trace"), "report"},
       {"leave out --trace"}},
      {{"--simulate", "two-enclosures", "--device", "/dev/sg9", "check"},
       {"--device /dev/sg9: no disk is attached", "korvane-fw list"}},
      {{"--simulate", "no-enclosure", "--device", kInternalDiskPath, "check"},
       {"not a USB, UASP or FireWire disk"}},
      {{"--simulate", "two-enclosures", "--device", kNvmePath, "check", "--device", kSataPath},
       {"--device was given 2 times: give it once"}},
      {{"--simulate", "jms583-outdated", "--device", "", "check"}, {"--device", "empty path"}},
      {{"--simulate", "jms583-outdated", "-o", dir.File("x.bin"), "backup"},
       {"-o belongs to backup: give it after the command, as in korvane-fw backup -o"}},
      {{"--simulate", "check"}, {"--simulate took the command check", "SCENARIO"}},
      {{"--replay", withReplug, "update", "--yes"}, {"recorded with --replug: add it"}},
      // Said once, as a warning: the run goes on without it.
      {{"--simulate", "jms583-current", "update", "--yes", "--replug-wait", "5"},
       {"warning: --replug-wait has no effect"},
       exitcode::kOk},
      {{"--device", "/dev/sg1", "history"}, {"leave out", "--device"}},
  };
  for (const Case& c : cases) {
    const Outcome result = KorvaneFw(c.args);
    EXPECT_EQ(result.code, c.code) << c.args.back() << ": " << result.err;
    for (const std::string& text : c.said) {
      EXPECT_THAT(result.err, HasSubstr(text)) << c.args.back();
    }
    // The argument parser's lines too: a script tells our errors by their start.
    for (const std::string& line : testing::Lines(result.err)) {
      EXPECT_THAT(line, StartsWith("korvane-fw: ")) << c.args.back();
    }
  }
  // A usage error is found before any command runs, so nothing was saved either.
  EXPECT_FALSE(std::filesystem::exists(dir.File("s.json")));
}

/// What went wrong is an error line on standard error, with the prefix a script tells them by;
/// standard output holds only the result.
TEST(KorvaneFw, ErrorsAndRefusalsAreErrorLinesNeverOnStandardOutput) {
  const TempDir dir;
  // The disk leaves during the write: the flash holds part of the firmware.
  const std::string broken =
      dir.File("broken.json",
               testing::Jms583With(
                   R"(, "faults": [{"command": "WriteBuffer", "nth": 5, "effect": "vanish"}])"));
  const std::string unreadable =
      dir.File("unreadable.json",
               testing::Jms583With(
                   R"(, "faults": [{"command": "ReadBuffer", "nth": 3, "effect": "fail"}])"));
  const struct {
    std::vector<std::string> args;
    std::string said;
  } cases[] = {
      {{"--simulate", "no-rights", "check"}, "korvane-fw: Missing rights: "},
      {{"--simulate", "no-rights", "update", "--yes"}, "korvane-fw: Missing rights: "},
      {{"--simulate", "jms583-mounted", "update", "--yes"}, "korvane-fw: Refused: "},
      {{"--simulate", unreadable, "update", "--yes"}, "korvane-fw: Refused: "},
      {{"--simulate", unreadable, "backup", "-o", dir.File("b.bin")},
       "korvane-fw: Backup failed: "},
      {{"--simulate", broken, "update", "--yes"}, "run korvane-fw update again"},
      {{"--simulate", "two-enclosures", "check"}, "--device PATH"},
      {{"--simulate", "two-enclosures", "backup"}, "--device PATH"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1] + " " + c.args[2]);
    const Outcome result = KorvaneFw(c.args);
    EXPECT_NE(result.code, exitcode::kOk);
    EXPECT_THAT(result.err, HasSubstr(c.said));
    for (const char* error : {"Refused", "Missing rights", "Backup failed", "korvane-fw: "}) {
      EXPECT_THAT(result.out, Not(HasSubstr(error)));
    }
  }
}

/// Every JSON answer comes in one frame: its format version, the program and its arguments, the
/// exit status the command ends with, and what it said, each message with its weight.
TEST(KorvaneFw, JsonAnswersSayHowTheCommandEndedAndWhy) {
  const TempDir dir;
  const bool development = EmbeddedImages().development();
  struct Case {
    std::vector<std::string> args;
    bool real;
    std::string severity, text;  ///< a message the answer must hold; empty: none
  };
  const Case cases[] = {
      {{"--simulate", "jms583-outdated", "--json", "check"}, false, "", ""},
      {{"--simulate", "no-rights", "--json", "check"}, false, "error", "lacks the rights"},
      {{"--simulate", "no-rights", "--json", "list"}, false, "error", "lacks the rights"},
      {{"--simulate", "unsupported-bridge", "--json", "update", "--yes"}, false, "error", "580"},
      {{"--simulate", "jms583-outdated", "--json", "report", "-o", dir.File("r.jsonl")},
       false,
       "information",
       "serial number"},
      {{"--json", "history"}, false, "", ""},
      {{"--json", "check"}, true, development ? "information" : "", "update --image"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const Outcome result =
        c.real ? testing::KorvaneFwOnRealLooking("jms583-outdated", c.args) : KorvaneFw(c.args);
    const auto answer = nlohmann::json::parse(result.out);
    EXPECT_EQ(answer["json_format_version"], 1);
    EXPECT_EQ(answer["exit_status"], result.code);
    std::vector<std::string> argv{"korvane-fw"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(answer["program"]["argv"], argv);
    EXPECT_EQ(answer["program"]["development_images"], development);
    const auto& messages = answer["messages"];
    const bool found = std::ranges::any_of(messages, [&c](const nlohmann::json& message) {
      return message["severity"] == c.severity &&
             message["text"].get<std::string>().find(c.text) != std::string::npos;
    });
    EXPECT_EQ(found, !c.severity.empty()) << messages;
  }
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

/// A trace with the first five bytes of every INQUIRY answer's model text replaced.
std::string WithModelBytes(const std::string& trace, std::string_view hex) {
  static constexpr std::string_view kModel = "4b6f727661";  // "Korva"
  std::istringstream lines(trace);
  std::string edited;
  for (std::string line; std::getline(lines, line);) {
    if (const auto at = line.find(kModel);
        at != std::string::npos && line.find(R"("cdb":"12)") != std::string::npos) {
      line.replace(at, kModel.size(), hex);
    }
    edited += line + "\n";
  }
  return edited;
}

/// A bridge's text is shown made printable: it cannot move the cursor, clear the screen, ring the
/// bell or start a line of its own that reads like ours.
TEST(KorvaneFw, TextFromABridgeNeitherDrawsOnTheTerminalNorForgesALine) {
  const TempDir dir;
  const std::vector<std::vector<std::string>> commands{{"list"}, {"check"}, {"update", "--yes"}};
  const std::string_view hostile[] = {
      "1b5b324a07",  // ESC [ 2 J, BEL
      "0a55706421",  // a newline, then "Upd!"
      "0d0a0a0d0a",  // carriage returns and newlines
      "c29b324aff",  // the C1 CSI, then a byte that is not UTF-8
  };
  for (const auto& command : commands) {
    const std::string recorded = dir.File("recorded");
    std::vector<std::string> args{"--simulate", "jms583-outdated", "--trace", recorded};
    args.insert(args.end(), command.begin(), command.end());
    const Outcome plain = KorvaneFw(args);
    for (const std::string_view bytes : hostile) {
      const std::string trace = dir.File("hostile", WithModelBytes(ReadWhole(recorded), bytes));
      std::vector<std::string> replay{"--replay", trace};
      replay.insert(replay.end(), command.begin(), command.end());
      const Outcome shown = KorvaneFw(replay);
      const std::string what = command.front() + " with " + std::string(bytes);
      EXPECT_EQ(shown.code, plain.code) << what << ": " << shown.err;
      EXPECT_THAT(shown.out, HasSubstr("\\x")) << what << " shows no escaped byte";
      const std::string all = shown.out + shown.err;
      EXPECT_TRUE(std::ranges::none_of(
          all, [](char c) { return static_cast<unsigned char>(c) < 0x20 && c != '\n'; }))
          << what << ":\n"
          << all;
      EXPECT_EQ(Lines(shown.out).size(), Lines(plain.out).size()) << what << ":\n" << shown.out;
      EXPECT_EQ(Lines(shown.err).size(), Lines(plain.err).size()) << what << ":\n" << shown.err;
    }
  }
}

/// Takes some bytes, then fails every write, as a pipe does whose reader went away.
class ClosingBuffer final : public std::streambuf {
 public:
  explicit ClosingBuffer(int room) : room_(room) {}

 protected:
  int_type overflow(int_type c) override { return room_-- > 0 ? c : traits_type::eof(); }

 private:
  int room_;
};

/// An output that breaks is said once, and the update goes on to its outcome and its state.
TEST(KorvaneFw, AClosedOutputIsSaidOnceAndTheUpdateGoesOn) {
  const TempDir dir;
  const std::string state = dir.File("state.json");
  ClosingBuffer closing(40);
  std::ostream out(&closing);
  std::istringstream in;
  std::ostringstream err;
  const Console console{in, out, err, false, false, {}, testing::StateFolder()};
  const std::vector<std::string> args{"--simulate", "jms583-outdated", "--save-state",
                                      state,        "update",          "--yes"};
  const int code = RunKorvaneFw(args, console, [](const PlatformChoices&) {
    return std::make_unique<testing::LockedMachine>();
  });
  EXPECT_EQ(code, exitcode::kOk) << err.str();
  const auto warnings = Lines(err.str());
  EXPECT_EQ(std::ranges::count_if(warnings,
                                  [](const std::string& line) {
                                    return line.find("standard output was closed") !=
                                           std::string::npos;
                                  }),
            1)
      << err.str();
  EXPECT_EQ(KorvaneFw({"--simulate", state, "check"}).code, exitcode::kOk)
      << "the saved enclosure still offers the update";
}

/// A file the run writes that cannot take its place once the command is done (here a folder put
/// there while it runs): a command that succeeded ends with its own code for that, and says why;
/// one that did not keeps its code.
TEST(KorvaneFw, AnOutputNotSavedAfterASuccessHasItsOwnCode) {
  struct Case {
    std::string scenario;  ///< a name, or a scenario file's text
    std::string option;    ///< what names the file that is not saved
    std::vector<std::string> command;
    int code;
  };
  const Case cases[] = {
      {"jms583-outdated", "--save-state", {"update", "--yes"}, exitcode::kOutputNotSaved},
      {"jms583-outdated", "--trace", {"update", "--yes"}, exitcode::kOutputNotSaved},
      {"jms583-outdated", "--output", {"report", "--update", "--yes"}, exitcode::kOutputNotSaved},
      {testing::Jms583With(
           R"(, "faults": [{"command": "WriteBuffer", "nth": 5, "effect": "vanish"}])"),
       "--save-state",
       {"update", "--yes"},
       exitcode::kFailure},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option + " " + c.command[0]);
    const TempDir dir;
    const std::string target = dir.File("out");
    const auto blockTarget = [&target] {
      if (std::filesystem::exists(target + "/held")) return;
      std::filesystem::create_directory(target);
      std::ofstream(target + "/held") << "x";
    };
    const std::string scenario =
        c.scenario.starts_with('{') ? dir.File("scenario.json", c.scenario) : c.scenario;
    std::vector<std::string> args{"--simulate", scenario, "--json"};
    args.insert(args.end(), c.command.begin(), c.command.end());
    args.insert(args.end(), {c.option, target});
    const Outcome result = KorvaneFw(args, testing::PumpHook(blockTarget));
    EXPECT_EQ(result.code, c.code) << result.err;
    EXPECT_THAT(result.err, HasSubstr("was not saved: cannot put " + target + " in place"))
        << result.err;
    const auto answer = nlohmann::json::parse(result.out);
    EXPECT_EQ(answer["exit_status"], c.code);
    EXPECT_THAT(answer["messages"].dump(), HasSubstr("was not saved")) << answer.dump(2);
  }
}

#ifdef _WIN32
// A forced dismount loses other programs' unsaved work: only the option asks for it.
TEST(KorvaneFwUpdate, OnlyTheOptionAsksThePlatformForAForcedDismount) {
  for (const bool asked : {false, true}) {
    std::vector<std::string> args{"update", "--yes"};
    if (asked) args.emplace_back("--force-dismount");
    std::optional<bool> forced;
    testing::KorvaneFwOn(
        [&forced](const PlatformChoices& choices) {
          forced = choices.forceDismount;
          return std::make_unique<testing::LockedMachine>();
        },
        args);
    EXPECT_EQ(forced, std::optional<bool>(asked));
  }
}
#endif

}  // namespace
}  // namespace korvane::cli
