#include "Store.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "HistoryCommand.h"
#include "KorvaneFwRun.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace korvane::cli {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testing::KorvaneFw;
using ::testing::Not;
using testing::Outcome;
using testing::TempDir;
// The history is the store's; these tests drive it as korvane-fw does.
using namespace korvane::store;

/// An update event told apart from others by its reason.
HistoryEvent Numbered(const std::string& reason) {
  HistoryEvent event;
  event.time = std::chrono::system_clock::now();
  event.event = "update";
  event.enclosure = {"JMS583", 22, "/dev/sg1", "<<USB>> Korvane NVMe Enclosure  "};
  event.versionBefore = "0.0.0.8";
  event.written = HistoryImage{"JMS583_V234_01_00_02", std::string(64, 'a'), "234.01.00.02"};
  event.result = "fail";
  event.failedStep = "verify";
  event.reason = reason;
  return event;
}

std::string Stored(const HistoryEvent& event) {
  return HistoryJson(event).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string ReasonOf(const nlohmann::ordered_json& event) { return event["reason"]; }

TEST(History, AnEventReadsBackAsItWasAppended) {
  HistoryEvent backup = Numbered("");
  backup.event = "backup";
  backup.written.reset();
  backup.backup = "/state/backups/JMS583-0.0.0.8-20261208T154059Z.bin";
  HistoryEvent replugged = Numbered("");
  replugged.replug = nlohmann::ordered_json{{"verdict", "nothing-to-update"}};
  // Nothing known of the enclosure, and a model text that is not UTF-8: replaced, not fatal.
  HistoryEvent unknown = Numbered("the check failed");
  unknown.enclosure = {std::nullopt, std::nullopt, "", "<<USB>> \xff\xfe model\nnext"};
  unknown.versionBefore.reset();
  const HistoryEvent cases[] = {backup, replugged, unknown};

  const TempDir state;
  for (const HistoryEvent& event : cases) {
    EXPECT_EQ(AppendHistory(state.path(), event), std::nullopt);
  }
  const HistoryRead read = ReadHistory(state.path());
  EXPECT_THAT(read.warnings, IsEmpty());
  ASSERT_EQ(read.events.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(read.events[i].dump(), Stored(cases[i])) << i;
  }
}

/// Each damaged line is skipped with one warning naming it; the lines around it are read, and an
/// event appended after a line cut short stays whole.
TEST(History, DamagedLinesAreSkippedWithAWarningEach) {
  struct Case {
    std::string name;
    std::string content;  ///< between two good events
    std::size_t events;
    std::string warning;  ///< empty: none
  };
  const std::string good = Stored(Numbered("good")) + "\n";
  const std::string overlong =
      R"({"event": "update", "reason": ")" + std::string(kHistoryLineLimit, 'x') + "\"}\n";
  const std::string deep =
      "{\"event\": \"update\", \"x\": " + std::string(5000, '[') + std::string(5000, ']') + "}\n";
  const Case cases[] = {
      {"blank", "\n  \n", 2, ""},
      {"crlf", Stored(Numbered("good")) + "\r\n", 3, ""},
      {"not JSON", "garbage\n", 2, "line 2 is not JSON"},
      {"not an object", "[1, 2]\n", 2, "line 2 is not a JSON object"},
      {"no event", "{\"event\": 7}\n", 2, "line 2 names no event"},
      {"overlong", overlong, 2, "line 2 is longer than 65536 bytes"},
      {"nested", deep, 2, "line 2 is nested too deep"},
      {"not UTF-8", "{\"event\": \"\xff\"}\n", 2, "line 2 is not JSON"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TempDir state;
    const std::string path = HistoryPath(state.path());
    std::ofstream(path, std::ios::binary) << good << c.content << good;
    const HistoryRead read = ReadHistory(state.path());
    EXPECT_EQ(read.events.size(), c.events);
    if (c.warning.empty()) {
      EXPECT_THAT(read.warnings, IsEmpty());
    } else {
      ASSERT_EQ(read.warnings.size(), 1U);
      EXPECT_THAT(read.warnings[0], HasSubstr(path + ": " + c.warning));
    }
  }
  // A last line without its end: a write that failed. The next event starts a line of its own.
  const TempDir state;
  std::ofstream(HistoryPath(state.path()), std::ios::binary) << good << "{\"event\": \"upd";
  HistoryRead read = ReadHistory(state.path());
  EXPECT_EQ(read.events.size(), 1U);
  ASSERT_EQ(read.warnings.size(), 1U);
  EXPECT_THAT(read.warnings[0], HasSubstr("line 2 has no end"));
  ASSERT_EQ(AppendHistory(state.path(), Numbered("after")), std::nullopt);
  read = ReadHistory(state.path());
  ASSERT_EQ(read.events.size(), 2U);
  EXPECT_EQ(ReasonOf(read.events[1]), "after");
  ASSERT_EQ(read.warnings.size(), 1U);
  EXPECT_THAT(read.warnings[0], HasSubstr("line 2 is not JSON"));
}

/// The numbers of the events that writer wrote, in the order the history holds them.
std::vector<int> NumbersOf(const HistoryRead& read, int writer) {
  std::vector<int> numbers;
  const std::string prefix = std::to_string(writer) + ":";
  for (const auto& event : read.events) {
    const std::string reason = ReasonOf(event);
    if (reason.starts_with(prefix)) numbers.push_back(std::stoi(reason.substr(prefix.size())));
  }
  return numbers;
}

/// What is wrong with a history that writers each filled with their numbered events, one after
/// the other: what is kept is a stretch of the newest lines, so each writer's events in it follow
/// one another with none missing. Empty when nothing is wrong.
std::string Lost(const HistoryRead& read, int writers) {
  if (!read.warnings.empty()) return read.warnings.front();
  for (int writer = 0; writer < writers; ++writer) {
    const std::vector<int> numbers = NumbersOf(read, writer);
    for (std::size_t i = 1; i < numbers.size(); ++i) {
      if (numbers[i] != numbers[i - 1] + 1) {
        return "writer " + std::to_string(writer) + ": " + std::to_string(numbers[i - 1]) +
               " then " + std::to_string(numbers[i]);
      }
    }
  }
  return {};
}

/// Appends that would pass the bound cut the history to about its newest half: what is kept is,
/// for each writer, its newest events with none missing between them, also while writers append
/// at the same time and a reader looks on.
TEST(History, CuttingKeepsTheNewestLinesAndLosesNoneOfThem) {
  struct Case {
    int writers;
    int events;  ///< each
    std::uintmax_t limit;
  };
  const Case cases[] = {{1, 120, 4 * 1024}, {1, 40, 64 * 1024}, {4, 50, 4 * 1024}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.writers) + " writers, limit " + std::to_string(c.limit));
    const TempDir state;
    // What each thread found wrong, looked at once they are all done.
    std::vector<std::vector<std::string>> problems(static_cast<std::size_t>(c.writers) + 1);
    std::atomic<int> writing = c.writers;
    std::vector<std::thread> threads;
    for (int writer = 0; writer < c.writers; ++writer) {
      threads.emplace_back([&state, &c, &problems, &writing, writer] {
        for (int number = 100; number < 100 + c.events; ++number) {
          const std::string reason = std::to_string(writer) + ":" + std::to_string(number);
          auto problem = AppendHistory(state.path(), Numbered(reason), c.limit);
          if (problem) problems[static_cast<std::size_t>(writer)].push_back(*problem);
        }
        --writing;
      });
    }
    threads.emplace_back([&state, &c, &problems, &writing] {
      while (writing > 0) {
        std::string lost = Lost(ReadHistory(state.path()), c.writers);
        if (lost.empty()) continue;
        problems.back().push_back(std::move(lost));
        return;
      }
    });
    for (std::thread& thread : threads) thread.join();
    for (const auto& said : problems) EXPECT_THAT(said, IsEmpty());

    EXPECT_LE(std::filesystem::file_size(HistoryPath(state.path())), c.limit);
    const HistoryRead read = ReadHistory(state.path());
    EXPECT_EQ(Lost(read, c.writers), "");
    const std::size_t line = Stored(Numbered("0:100")).size() + 1;
    const auto everything = static_cast<std::size_t>(c.writers * c.events);
    if (everything * line <= c.limit) {
      EXPECT_EQ(read.events.size(), everything);
    } else {
      // At least the newest half of the bound, in whole lines.
      EXPECT_GE(read.events.size(), c.limit / 2 / line - 1);
    }
    // A writer's events that are kept end with its last.
    for (int writer = 0; writer < c.writers; ++writer) {
      const std::vector<int> numbers = NumbersOf(read, writer);
      if (!numbers.empty()) {
        EXPECT_EQ(numbers.back(), 100 + c.events - 1) << writer;
      }
    }
  }
}

// ---- korvane-fw ---------------------------------------------------------------------------------

/// Whether every member of part is in whole and alike there.
bool Holds(const nlohmann::json& whole, const nlohmann::json& part) {
  if (!part.is_object()) return whole == part;
  return whole.is_object() && std::ranges::all_of(part.items(), [&whole](const auto& member) {
           return whole.contains(member.key()) && Holds(whole[member.key()], member.value());
         });
}

/// Commands run one after the other on one state folder, and the event each adds, which history
/// --json lists last and history last of its lines. An update that wrote nothing since none was
/// offered or the question was answered no adds none, nor does a replay.
TEST(KorvaneFwHistory, ListsWhatUpdateAndBackupDid) {
  struct Case {
    std::vector<std::string> args;  ///< after --simulate jms583-outdated, unless they name one
    std::string input;
    std::string added;  ///< what the event holds; empty: none is added
    std::string listed;
  };
  const TempDir state;
  const std::string backup = state.File("backup.bin"), trace = state.File("update.trace");
  // The history names a file given by a relative path by its absolute one, as JSON writes it.
  // (Under Wine the temporary folder may be on another drive, which no relative path reaches.)
  const std::filesystem::path relativePath = std::filesystem::relative(backup);
  const std::string relative = relativePath.empty() ? backup : relativePath.string();
  const std::string named = nlohmann::json(std::filesystem::weakly_canonical(backup)).dump();
  const Case cases[] = {
      {{"update", "--yes", "--trace", trace},
       "",
       R"({"event": "update", "simulated": true, "enclosure": {"chip": "JMS583", "serial":
          "0123456789ABCDEF"}, "version_before": "0.0.0.8", "written": {"version": "0.0.1.2",
          "release": "234.01.00.02"}, "result": "complete"})",
       "update  JMS583 \"Korvane NVMe Enclosure\" serial \"0123456789ABCDEF\"  0.0.0.8 -> 0.0.1.2, "
       "release 234.01.00.02  complete, wrote JMS583_V234_01_00_02  (simulated)"},
      {{"--replay", trace, "update", "--yes"}, "", "", ""},
      {{"backup", "-o", relative},
       "",
       R"({"event": "backup", "written": null, "result": "saved", "backup": )" + named + "}",
       "backup  JMS583 \"Korvane NVMe Enclosure\" serial \"0123456789ABCDEF\"  0.0.0.8  saved to "},
      {{"update", "--yes", "--image", relative},
       "",
       R"({"written": {"name": )" + named + R"(, "version": "0.0.0.8"}, "result": "fail",
          "failed_step": "version", "backup": null})",
       "0.0.0.8 -> 0.0.0.8  refused (version), nothing written of "},
      {{"update", "--yes", "--image", backup, "--allow-reinstall", "--restore-nvram"},
       "",
       R"({"written": {"name": )" + named + R"(}, "result": "complete"})",
       "0.0.0.8 -> 0.0.0.8  complete, wrote "},
      {{"--simulate", "jms583-rom", "update", "--yes"},
       "",
       R"({"version_before": "boot-rom", "result": "complete", "backup": null})",
       "boot ROM -> 0.0.1.2, release 234.01.00.02  complete, wrote JMS583_V234_01_00_02"},
      {{"--simulate", "jms583-mounted", "update", "--yes"},
       "",
       R"({"result": "fail", "failed_step": "mounted"})",
       "refused (mounted), nothing written"},
      {{"--simulate", "jms583-current", "update", "--yes"}, "", "", ""},
      {{"update"}, "n\n", "", ""},
  };
  std::size_t events = 0;
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    if (args[0] != "--simulate" && args[0] != "--replay") {
      args.insert(args.begin(), {"--simulate", "jms583-outdated"});
    }
    SCOPED_TRACE(args[1] + " " + args[2]);
    testing::RunConsole console = testing::TerminalAnswering(c.input);
    console.stateFolder = state.path();
    const Outcome run = KorvaneFw(args, console);
    EXPECT_THAT(run.err, Not(HasSubstr("history")));

    const auto inState = testing::InStateFolder(state.path());
    const Outcome json = KorvaneFw({"--simulate", "jms583-outdated", "history", "--json"}, inState);
    const auto listed = nlohmann::json::parse(json.out).at("events");
    events += c.added.empty() ? 0 : 1;
    ASSERT_EQ(listed.size(), events);
    if (c.added.empty()) continue;
    EXPECT_TRUE(Holds(listed.back(), nlohmann::json::parse(c.added))) << listed.back().dump(2);
    if (const auto& written = listed.back()["written"]; !written.is_null()) {
      EXPECT_EQ(written["sha256"].get<std::string>().size(), 64U);
    }
    const Outcome text = KorvaneFw({"history"}, inState);
    EXPECT_THAT(testing::Lines(text.out).back(), HasSubstr(c.listed));
  }
}

/// Whatever is wrong with the history, the update goes on to its own outcome and exit code.
TEST(KorvaneFwHistory, AHistoryThatCannotBeWrittenIsAWarning) {
  enum class InTheWay : std::uint8_t { Folder, LockFolder, FileAsStateFolder, Link, Fifo };
  struct Case {
    InTheWay what;
    std::string warning;
    std::size_t recorded;
  };
  const Case cases[] = {
      {InTheWay::Folder, "is a folder: the event was not recorded", 0},
      {InTheWay::LockFolder, "the event was recorded without the lock", 1},
      {InTheWay::FileAsStateFolder, "plain/korvane: cannot be made", 0},
#ifndef _WIN32
      {InTheWay::Link, "is a link: it is not followed", 0},
      {InTheWay::Fifo, "is not a regular file", 0},
#endif
  };
  // What a link points at keeps what it held.
  constexpr std::string_view kElsewhere = "{\"event\": \"elsewhere\"}\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.warning);
    const TempDir dir;
    std::string folder = dir.path();
    const std::string history = HistoryPath(folder);
    switch (c.what) {
      case InTheWay::Folder:
        std::filesystem::create_directory(history);
        break;
      case InTheWay::LockFolder:
        std::filesystem::create_directory(HistoryLockPath(folder));
        break;
      case InTheWay::FileAsStateFolder:
        folder = dir.File("plain", "x") + "/korvane";
        break;
      case InTheWay::Link:
        std::filesystem::create_symlink(dir.File("elsewhere", kElsewhere), history);
        break;
      case InTheWay::Fifo:
#ifndef _WIN32
        mkfifo(history.c_str(), 0600);
#endif
        break;
    }
    const Outcome run =
        KorvaneFw({"--simulate", "jms583-outdated", "update", "--yes", "--no-backup"},
                  testing::InStateFolder(folder));
    EXPECT_EQ(run.code, exitcode::kOk) << run.err;
    EXPECT_THAT(run.out, HasSubstr("Update complete"));
    EXPECT_THAT(run.err, HasSubstr("korvane-fw: warning: history: "));
    EXPECT_THAT(run.err, HasSubstr(c.warning));
    EXPECT_EQ(ReadHistory(folder).events.size(), c.recorded);
    if (c.what == InTheWay::Link) {
      EXPECT_EQ(testing::ReadWhole(dir.File("elsewhere")), kElsewhere);
    }
  }
}

/// A missing history is an empty one, a damaged line a warning; text from the file reaches the
/// terminal only made printable.
TEST(KorvaneFwHistory, AMissingOrDamagedHistoryStillLists) {
  struct Case {
    std::string content;  ///< the history file; "-": none
    std::string out;
    std::string err;  ///< empty: nothing said there
  };
  HistoryEvent escaping = Numbered("good");
  escaping.enclosure.chip = "\x1b[2J";
  const Case cases[] = {
      {"-", "No history yet (", ""},
      {"", "No history yet (", ""},
      {"\n" + Stored(Numbered("good")) + "\n{\"ev",
       "0.0.0.8 -> 234.01.00.02  failed at verify writing JMS583_V234_01_00_02\n",
       "korvane-fw: warning: "},
      {Stored(escaping) + "\n", "  \\x1b[2J \"Korvane NVMe Enclosure\"  0.0.0.8", ""},
  };
  for (const Case& c : cases) {
    const TempDir state;
    if (c.content != "-") std::ofstream(HistoryPath(state.path()), std::ios::binary) << c.content;
    const auto inState = testing::InStateFolder(state.path());
    const Outcome text = KorvaneFw({"history"}, inState);
    EXPECT_EQ(text.code, exitcode::kOk);
    EXPECT_THAT(text.out, HasSubstr(c.out));
    EXPECT_EQ(text.err.empty(), c.err.empty()) << text.err;
    EXPECT_THAT(text.err, HasSubstr(c.err));
    EXPECT_THAT(text.err + text.out, Not(HasSubstr("\x1b")));
    const Outcome json = KorvaneFw({"history", "--json"}, inState);
    EXPECT_EQ(json.code, exitcode::kOk);
    EXPECT_TRUE(nlohmann::json::parse(json.out).at("events").is_array());
  }
}

/// An event's words tell an interrupted run from a refused or failed one, whatever its step.
TEST(KorvaneFwHistory, AnInterruptedRunIsSaidAsSuch) {
  const std::pair<std::string, std::string> cases[] = {
      {R"({"event": "update", "result": "fail", "failed_step": "backup", "reason":
           "interrupted while the bridge was read: no backup was written"})",
       "interrupted (backup), nothing written"},
      {R"({"event": "update", "result": "fail", "failed_step": "backup", "reason": "no space"})",
       "refused (backup), nothing written"},
      {R"({"event": "update", "result": "fail", "failed_step": "write-block", "reason": "x"})",
       "failed at write-block"},
      {R"({"event": "backup", "result": "fail", "reason":
           "interrupted while the bridge was read: no backup was written"})",
       "interrupted, nothing saved"},
      {R"({"event": "backup", "result": "fail", "reason": "no answer"})", "failed"},
  };
  for (const auto& [event, said] : cases) {
    EXPECT_THAT(HistoryEventText(nlohmann::ordered_json::parse(event)), HasSubstr(said)) << event;
  }
}

}  // namespace
}  // namespace korvane::cli
