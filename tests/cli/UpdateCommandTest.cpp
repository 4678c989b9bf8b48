#include "UpdateCommand.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "EmbeddedImages.h"
#include "KorvaneFwRun.h"
#include "TerminalView.h"
#include "TraceFormat.h"
#include "Verdict.h"

namespace korvane::cli {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::KorvaneFw;
using ::testing::Not;
using testing::Outcome;
using testing::TempDir;

using testing::Jms583With;

std::size_t Count(const std::string& text, std::string_view part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

/// The main job: after an update and a simulated replug, no update is offered.
TEST(KorvaneFwUpdate, AfterTheUpdateAndAReplugNoUpdateIsOffered) {
  struct Case {
    std::string scenario;
    std::string verdictAfter;
  };
  const Case cases[] = {
      {"jms583-outdated", "nothing-to-update"},
      {"jms578-outdated", "up-to-date"},
      {"jms583-rom", "nothing-to-update"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    const TempDir dir;
    const std::string state = dir.File("s.json");
    const Outcome before = KorvaneFw({"--simulate", c.scenario, "--json", "check"});
    EXPECT_EQ(before.code, exitcode::kOffered);
    EXPECT_EQ(nlohmann::json::parse(before.out)["verdict"], "offer");

    // Global options may also follow the command, as a user would write them.
    const Outcome update =
        KorvaneFw({"--simulate", c.scenario, "--json", "update", "--yes", "--save-state", state});
    ASSERT_EQ(update.code, exitcode::kOk) << update.err;
    const auto json = nlohmann::json::parse(update.out);
    EXPECT_EQ(json["result"], "complete");
    EXPECT_EQ(json["status_text"], status::kUpdateComplete);
    EXPECT_TRUE(json["failed_step"].is_null());
    EXPECT_EQ(json["check"]["verdict"], "offer");

    const Outcome after = KorvaneFw({"--simulate", state, "--json", "check"});
    EXPECT_EQ(after.code, exitcode::kOk) << after.err;
    EXPECT_EQ(nlohmann::json::parse(after.out)["verdict"], c.verdictAfter);
  }
}

TEST(KorvaneFwUpdate, TheStateMayReplaceTheFileItWasReadFrom) {
  const TempDir dir;
  const std::string state = dir.File("s.json");
  ASSERT_EQ(KorvaneFw({"--simulate", "jms578-outdated", "--save-state", state, "check"}).code,
            exitcode::kOffered);
  ASSERT_EQ(KorvaneFw({"--simulate", state, "--save-state", state, "update", "--yes"}).code,
            exitcode::kOk);
  const Outcome after = KorvaneFw({"--simulate", state, "--json", "check"});
  EXPECT_EQ(nlohmann::json::parse(after.out)["verdict"], "up-to-date") << after.err;
  EXPECT_FALSE(std::filesystem::exists(state + ".partial"));
}

/// Every way the update ends without writing: the trace holds no command that sends data.
TEST(KorvaneFwUpdate, WritesNothingUnlessOfferedFreeAndAgreed) {
  struct Case {
    std::string scenario;
    std::vector<std::string> extra;  ///< after "update"
    std::string input;
    std::string result;
    nlohmann::json failedStep;
    std::string reason;  ///< part of it; empty: null
    int code;
  };
  const Case cases[] = {
      {"jms583-mounted",
       {"--yes"},
       "",
       "fail",
       "mounted",
       "is mounted at /media/korvane/NVME: unmount it first, then run the update again",
       exitcode::kFailure},
      {"jms583-current",
       {"--yes"},
       "",
       "not-offered",
       nullptr,
       "runs firmware 0.0.1.2",
       exitcode::kOk},
      {"jms578-current", {"--yes"}, "", "not-offered", nullptr, "", exitcode::kOk},
      {"two-enclosures",
       {"--yes"},
       "",
       "not-offered",
       nullptr,
       "2 enclosures",
       exitcode::kMultiple},
      {"no-enclosure", {"--yes"}, "", "not-offered", nullptr, "no USB", exitcode::kNothingFound},
      {"unsupported-bridge", {"--yes"}, "", "not-offered", nullptr, "580", exitcode::kFailure},
      {"no-rights", {"--yes"}, "", "not-offered", nullptr, "rights", exitcode::kNoRights},
      {"jms583-outdated", {}, "n\n", "declined", nullptr, "", exitcode::kOk},
      {"jms583-outdated", {}, "", "declined", nullptr, "", exitcode::kOk},
      {"jms583-outdated", {}, "yes please\n", "declined", nullptr, "", exitcode::kOk},
      {"jms583-outdated", {}, "\n", "declined", nullptr, "", exitcode::kOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario + " answering \"" + c.input + "\"");
    const TempDir dir;
    const std::string trace = dir.File("t.jsonl");
    std::vector<std::string> args{"--simulate", c.scenario, "--trace", trace, "--json", "update"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const Outcome result = KorvaneFw(args, testing::TerminalAnswering(c.input));
    EXPECT_EQ(result.code, c.code) << result.err;
    const auto json = nlohmann::json::parse(result.out);
    EXPECT_EQ(json["result"], c.result);
    EXPECT_EQ(json["failed_step"], c.failedStep);
    if (c.reason.empty()) {
      EXPECT_TRUE(json["reason"].is_null()) << json["reason"];
    } else {
      EXPECT_THAT(json["reason"].get<std::string>(), HasSubstr(c.reason));
    }
    // Nothing started, so the window still shows what the check left.
    EXPECT_EQ(json["status_text"], json["check"]["status_text"]);
    const auto records = testing::TraceRecords(trace);
    EXPECT_FALSE(records.empty());
    EXPECT_EQ(testing::Writes(records), 0);
  }
}

/// A build of development images refuses its carried firmware to a real enclosure before it
/// asks or backs up, and says what it can write instead; in words and in JSON.
TEST(KorvaneFwUpdate, ADevelopmentBuildRefusesItsCarriedFirmwareToARealEnclosureUpFront) {
  if (!EmbeddedImages().development()) GTEST_SKIP() << "this build carries the vendor's images";
  for (const bool json : {false, true}) {
    SCOPED_TRACE(json ? "--json" : "in words");
    const TempDir dir;
    const std::string trace = dir.File("t.jsonl");
    std::vector<std::string> args{"--trace", trace, "update"};
    if (json) args.insert(args.begin(), "--json");
    const Outcome result =
        testing::KorvaneFwOnRealLooking("jms583-outdated", args, testing::TerminalAnswering("y\n"));
    EXPECT_EQ(result.code, exitcode::kFailure) << result.err;
    EXPECT_THAT(result.err, Not(HasSubstr("Continue?")));
    EXPECT_EQ(testing::Writes(testing::TraceRecords(trace)), 0);
    if (!json) {
      EXPECT_THAT(result.err, HasSubstr("Refused: this build carries development firmware images "
                                        "only"));
      EXPECT_THAT(result.err, HasSubstr("--image"));
      EXPECT_THAT(result.out, Not(HasSubstr("Backing up")));
      continue;
    }
    const auto answer = nlohmann::json::parse(result.out);
    EXPECT_EQ(answer["result"], "fail");
    EXPECT_EQ(answer["failed_step"], "guard");
    EXPECT_TRUE(answer["backup"].is_null());
    EXPECT_EQ(answer["exit_status"], exitcode::kFailure);
  }
}

TEST(KorvaneFwUpdate, AsksBeforeWritingAndTakesYesInAnyCase) {
  for (const std::string answer : {"y\n", "YES\n", " Yes \r\n", "yEs"}) {
    SCOPED_TRACE(answer);
    const Outcome result =
        KorvaneFw({"--simulate", "jms583-outdated", "update"}, testing::TerminalAnswering(answer));
    EXPECT_EQ(result.code, exitcode::kOk) << result.err;
    EXPECT_THAT(result.out, HasSubstr("Update complete\n"));
    EXPECT_THAT(result.err, HasSubstr("<<USB>> Korvane NVMe Enclosure  "));
    EXPECT_THAT(result.err, HasSubstr("from 0.0.0.8 to 0.0.1.2, release 234.01.00.02"));
    EXPECT_THAT(result.err, HasSubstr("Do not unplug the enclosure while it is written"));
  }
  const Outcome declined =
      KorvaneFw({"--simulate", "jms583-outdated", "update"}, testing::TerminalAnswering("no\n"));
  EXPECT_THAT(declined.out, HasSubstr("Nothing was written."));
  EXPECT_THAT(declined.out, Not(HasSubstr("Update")));
}

TEST(KorvaneFwUpdate, WithoutATerminalToAskItWantsYesBeforeTouchingADisk) {
  const TempDir dir;
  const std::string trace = dir.File("t.jsonl");
  const Outcome result = KorvaneFw({"--simulate", "jms583-outdated", "--trace", trace, "update"},
                                   testing::PipedInput("y\n"));
  EXPECT_EQ(result.code, exitcode::kBadInput);
  EXPECT_THAT(result.err, HasSubstr("add --yes"));
  EXPECT_EQ(result.out, "");
  EXPECT_FALSE(std::filesystem::exists(trace));
}

/// A bridge that turns down writes: the failed step and why, in words and in JSON.
TEST(KorvaneFwUpdate, AFailedStepIsNamedWithItsReason) {
  const TempDir dir;
  struct Case {
    std::string faults;
    std::string step;
    std::string reason;
    std::string secondStep;
  };
  const Case cases[] = {
      {R"([{"command": "WriteBuffer", "nth": 1, "effect": "fail"}, {"command": "WriteBuffer", "nth": 2, "effect": "fail"}])",
       "write-block", "block at offset 0: the device rejected command 0x3b", "write-block"},
      {R"([{"command": "WriteBuffer", "nth": 3, "effect": "vanish"}])", "write-block",
       "block at offset 2048", "descriptor"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.faults);
    const std::string scenario = dir.File("fault.json", Jms583With(", \"faults\": " + c.faults));
    const Outcome human = KorvaneFw({"--simulate", scenario, "update", "--yes"});
    EXPECT_EQ(human.code, exitcode::kFailure);
    EXPECT_THAT(human.err, HasSubstr("korvane-fw: Update Fail\nkorvane-fw: Failed step: " + c.step +
                                     "\nkorvane-fw: Reason: "));
    EXPECT_THAT(human.err, HasSubstr(c.reason));
    EXPECT_THAT(human.out, Not(HasSubstr("Update complete")));

    const Outcome json = KorvaneFw({"--simulate", scenario, "--json", "update", "--yes"});
    const auto parsed = nlohmann::ordered_json::parse(json.out);
    std::vector<std::string> keys;
    for (const auto& item : parsed.items()) keys.push_back(item.key());
    EXPECT_THAT(keys, ElementsAre("json_format_version", "program", "exit_status", "messages",
                                  "result", "status_text", "failed_step", "reason",
                                  "failed_command", "attempts", "backup", "image", "replug",
                                  "check", "written_version", "written_release"));
    // The write began: what it was to leave running is named, though it failed.
    EXPECT_EQ(parsed["written_version"], "0.0.1.2");
    EXPECT_EQ(parsed["written_release"], "234.01.00.02");
    EXPECT_EQ(parsed["result"], "fail");
    EXPECT_EQ(parsed["status_text"], status::kUpdateFail);
    EXPECT_EQ(parsed["failed_step"], c.step);
    EXPECT_THAT(parsed["reason"].get<std::string>(), HasSubstr(c.reason));
    // Both attempts failed; the first is where things went wrong, the second keeps its own words.
    ASSERT_EQ(parsed["attempts"].size(), 2u);
    EXPECT_EQ(parsed["attempts"][0]["step"], c.step);
    EXPECT_EQ(parsed["attempts"][1]["step"], c.secondStep);
    EXPECT_THAT(human.err, HasSubstr("korvane-fw: Attempt 2: " + c.secondStep + ": "));
    EXPECT_EQ(parsed["check"]["verdict"], "offer");
  }
}

TEST(KorvaneFwUpdate, ProgressFitsWhereTheOutputGoes) {
  const std::vector<std::string> update{"--simulate", "jms583-outdated", "update", "--yes"};
  const Outcome piped = KorvaneFw(update);
  std::vector<std::string> steps;
  for (const std::string& line : testing::Lines(piped.out)) {
    if (line.ends_with("%")) steps.push_back(line);
  }
  // The backup is a job of its own. The update's steps share the rest: the bar reaches 100 % with
  // the NVRAM record, not before the read-back.
  EXPECT_THAT(steps,
              ElementsAre("Backing up the firmware: 0%", "Backing up the firmware: 50%",
                          "Backing up the firmware: 100%", "Writing firmware: 0%",
                          "Writing firmware: 10%", "Writing firmware: 20%", "Writing firmware: 30%",
                          "Writing firmware: 40%", "Writing firmware: 50%", "Writing firmware: 60%",
                          "Verifying firmware: 70%", "Verifying firmware: 80%",
                          "Verifying firmware: 90%", "Writing the NVRAM record: 100%"));
  EXPECT_EQ(piped.out.find('\r'), std::string::npos);

  const Outcome terminal = KorvaneFw(update, testing::TerminalOutput());
  EXPECT_THAT(terminal.out, HasSubstr("\r" + ProgressBar(100) + "\nUpdate complete\n"));
  EXPECT_THAT(terminal.out, Not(HasSubstr("Writing firmware: ")));

  const Outcome json = KorvaneFw({"--simulate", "jms583-outdated", "--json", "update", "--yes"},
                                 testing::TerminalOutput());
  EXPECT_TRUE(nlohmann::json::accept(json.out)) << json.out;
}

volatile std::sig_atomic_t gOuterHandlerCalls = 0;
extern "C" void OuterHandler(int signal) {
  gOuterHandlerCalls = gOuterHandlerCalls + 1;
  std::signal(signal, OuterHandler);
}

/// A signal that would end the program, while the flash is written: the write goes on to its
/// outcome, which is recorded (history, saved state, a trace whose last line is the exit code),
/// and only then does the command end with 128 plus the signal's number.
TEST(KorvaneFwUpdate, ASignalWaitsForTheOutcomeAndItsRecords) {
  struct Case {
    int signal;
    int code;
  };
  const Case cases[] = {
      {SIGINT, exitcode::kInterrupted},
      {SIGTERM, exitcode::kTerminated},
#ifdef _WIN32
      {SIGBREAK, 149},
#else
      {SIGHUP, exitcode::kHungUp},
      {SIGQUIT, 131},
      {SIGALRM, 142},
      {SIGUSR1, 138},
      {SIGUSR2, 140},
#endif
  };
  EXPECT_EQ(std::size(cases), kHeldSignals.size());
  for (const Case c : cases) {
    SCOPED_TRACE(c.signal);
    gOuterHandlerCalls = 0;
    const auto previous = std::signal(c.signal, OuterHandler);
    const TempDir dir;
    const std::string state = dir.File("s.json"), trace = dir.File("update.trace");
    int pumps = 0;
    // The check pumps a few times; from the 20th pump on the update is writing blocks.
    testing::RunConsole console = testing::PumpHook([&] {
      if (++pumps == 20) std::raise(c.signal);
    });
    console.stateFolder = dir.File("state");
    const Outcome result = KorvaneFw({"--simulate", "jms583-outdated", "--save-state", state,
                                      "--trace", trace, "update", "--yes"},
                                     console);
    EXPECT_EQ(result.code, c.code) << result.err;
    EXPECT_THAT(result.out, HasSubstr("Writing the NVRAM record: 100%\nUpdate complete\n"));
    EXPECT_EQ(Count(result.err, kInterruptNote), 1u) << result.err;
    EXPECT_GT(pumps, 40) << "the write stopped at the signal";
    EXPECT_EQ(gOuterHandlerCalls, 0);

    const Outcome after = KorvaneFw({"--simulate", state, "check"});
    EXPECT_EQ(after.code, exitcode::kOk) << "the state after the update was saved";
    const Outcome history =
        KorvaneFw({"history", "--json"}, testing::InStateFolder(console.stateFolder));
    const auto events = nlohmann::json::parse(history.out).at("events");
    ASSERT_EQ(events.size(), 1u) << history.out;
    EXPECT_EQ(events[0]["result"], "complete");
    const auto traced = testing::Lines(testing::ReadWhole(trace));
    ASSERT_FALSE(traced.empty());
    EXPECT_EQ(traced.back(), trace::ExitLine(c.code)) << "the trace ends with the exit code";

    // The handler that was there before the update is back.
    std::raise(c.signal);
    EXPECT_EQ(gOuterHandlerCalls, 1);
    std::signal(c.signal, previous);
  }
}

TEST(KorvaneFwUpdate, NoInterruptNoteWithoutAnInterrupt) {
  const Outcome result = KorvaneFw({"--simulate", "jms583-outdated", "update", "--yes"});
  EXPECT_EQ(result.code, exitcode::kOk);
  EXPECT_THAT(result.err, Not(HasSubstr("Interrupt")));
  EXPECT_THAT(result.out,
              HasSubstr("Update complete\nUnplug the enclosure and plug it in again, so that the "
                        "new firmware starts.\n"));
}

/// The command that failed comes as fields beside the reason's words, for scripts to act on.
TEST(KorvaneFwUpdate, TheFailedCommandComesAsFields) {
  const TempDir dir;
  struct Case {
    std::string fault;
    std::string step;
    nlohmann::json command;  ///< without the sense's words, which end in its numbers
    std::string senseNumbers;
  };
  const nlohmann::json nvramWrite = {{"opcode", 0xDF},    {"direction", "out"}, {"stage", "status"},
                                     {"os_error", 0},     {"scsi_status", 2},   {"host_status", 0},
                                     {"driver_status", 0}};
  const Case cases[] = {
      {R"({"command": "WriteNvram", "nth": 1, "effect": "refuse"})", "nvram-write", nvramWrite,
       "(05/24/00)"},
      {R"({"command": "WriteNvram", "nth": 1, "effect": "fail"})", "nvram-write", nvramWrite,
       "(04/44/00)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    const std::string scenario =
        dir.File("fault.json", Jms583With(", \"faults\": [" + c.fault + "]"));
    const Outcome result = KorvaneFw({"--simulate", scenario, "--json", "update", "--yes"});
    EXPECT_EQ(result.code, exitcode::kFailure) << result.err;
    const auto json = nlohmann::json::parse(result.out);
    EXPECT_EQ(json["failed_step"], c.step);
    nlohmann::json command = json["failed_command"];
    const std::string words = command["sense"]["text"];
    EXPECT_TRUE(words.ends_with(c.senseNumbers)) << words;
    EXPECT_THAT(json["reason"].get<std::string>(), HasSubstr(words));
    const std::string numbers = c.senseNumbers.substr(1, 8);
    EXPECT_EQ(command["sense"]["key"], std::stoi(numbers.substr(0, 2), nullptr, 16));
    EXPECT_EQ(command["sense"]["asc"], std::stoi(numbers.substr(3, 2), nullptr, 16));
    EXPECT_EQ(command["sense"]["ascq"], std::stoi(numbers.substr(6, 2), nullptr, 16));
    command.erase("sense");
    EXPECT_EQ(command, c.command);
  }
  const Outcome complete =
      KorvaneFw({"--simulate", "jms583-outdated", "--json", "update", "--yes"});
  EXPECT_TRUE(nlohmann::json::parse(complete.out)["failed_command"].is_null());
}

TEST(IsYes, OnlyYAndYes) {
  for (const std::string_view yes : {"y", "Y", "yes", "YES", " yes\t", "Yes\r"}) {
    EXPECT_TRUE(IsYes(yes)) << yes;
  }
  for (const std::string_view no : {"", "n", "no", "ye", "yess", "y y", "sure", "oui"}) {
    EXPECT_FALSE(IsYes(no)) << no;
  }
}

}  // namespace
}  // namespace korvane::cli
