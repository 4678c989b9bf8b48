// korvane-fw's own files as a power cut or a kill leaves them: each file an update writes is on
// the disk before the run reports it, and a run killed at any of its file calls leaves every file
// whole or as it was, for the next run to use as it is. Linux only: the kill needs fork.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "Cli.h"
#include "History.h"
#include "KorvaneFwRun.h"
#include "Sha256.h"

namespace korvane::cli {
namespace {

namespace fs = std::filesystem;
using testing::Lines;
using testing::ReadWhole;
using testing::TempDir;

/// One file call: its letter (c create, w write, s sync, a adopt, x close, r replace, l claim,
/// d remove, f sync the folder, ! the run's report) and the kind of file it was for.
struct Call {
  char letter;
  std::string kind;
};

/// The kind of file a path is, by the names the runs below give their files; temporaries carry
/// their target's name.
std::string KindOf(const std::string& path) {
  const std::string name = fs::path(path).filename().string();
  const auto has = [&name](std::string_view part) { return name.find(part) != std::string::npos; };
  if (has("history.jsonl")) return "history";
  if (has(".bin.json")) return "record";
  if (has("backup") || has(".bin")) return "image";
  if (has("run.trace")) return "trace";
  if (has("saved.state")) return "state";
  return "other " + name;
}

/// The machine's file calls, noted in their order; the call of number killAt (1 the first) kills
/// the process before it is made, as a power cut or SIGKILL would stop it.
class WatchedCalls final : public store::FileCalls {
 public:
  explicit WatchedCalls(std::size_t killAt = 0) : killAt_(killAt) {}

  int CreateNew(const std::string& path, std::error_code& error) override {
    Note('c', path);
    return machine_.CreateNew(path, error);
  }
  std::error_code Write(int descriptor, std::string_view bytes) override {
    Note('w', PathOf(descriptor));
    return machine_.Write(descriptor, bytes);
  }
  std::error_code Sync(int descriptor) override {
    Note('s', PathOf(descriptor));
    return machine_.Sync(descriptor);
  }
  std::error_code Adopt(int descriptor, const store::Ownership& ownership) override {
    Note('a', PathOf(descriptor));
    return machine_.Adopt(descriptor, ownership);
  }
  std::error_code Close(int descriptor) override {
    Note('x', PathOf(descriptor));
    return machine_.Close(descriptor);
  }
  std::error_code Replace(const std::string& from, const std::string& to) override {
    Note('r', to);
    return machine_.Replace(from, to);
  }
  std::error_code Claim(const std::string& from, const std::string& to) override {
    Note('l', to);
    return machine_.Claim(from, to);
  }
  std::error_code Remove(const std::string& path) override {
    Note('d', path);
    return machine_.Remove(path);
  }
  std::error_code SyncFolder(const std::string& folder) override {
    // Counted for the file the call before it put in place, when this is that file's folder.
    const bool its = fs::path(last_).parent_path() == fs::path(folder);
    syncedFolders.push_back(folder);
    Note('f', its ? last_ : folder + "/(folder)");
    return machine_.SyncFolder(folder);
  }

  std::vector<Call> calls;
  std::vector<std::string> syncedFolders;

 private:
  static std::string PathOf(int descriptor) {
    std::error_code error;
    return fs::read_symlink("/proc/self/fd/" + std::to_string(descriptor), error).string();
  }
  void Note(char letter, const std::string& path) {
    last_ = path;
    calls.push_back({letter, KindOf(path)});
    if (calls.size() == killAt_) std::raise(SIGKILL);
  }

  store::FileCalls& machine_ = store::MachineFileCalls();
  std::size_t killAt_;
  std::string last_;
};

/// Standard output that notes among the file calls when the run says where its backup went.
class ReportingOut final : public std::stringbuf {
 public:
  explicit ReportingOut(std::vector<Call>& calls) : calls_(calls) {}

 protected:
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    const std::streamsize written = std::stringbuf::xsputn(text, count);
    Look();
    return written;
  }
  int_type overflow(int_type c) override {
    const int_type put = std::stringbuf::overflow(c);
    Look();
    return put;
  }

 private:
  void Look() {
    if (noted_ || str().find("Backup written to") == std::string::npos) return;
    noted_ = true;
    calls_.push_back({'!', "image"});
    calls_.push_back({'!', "record"});
  }
  std::vector<Call>& calls_;
  bool noted_ = false;
};

/// A history line of about 400 bytes.
std::string OldEvent(int number) {
  return R"({"time":"2026-01-01T00:00:00Z","event":"backup","n":)" + std::to_string(number) +
         R"(,"result":"saved","pad":")" + std::string(320, 'x') + "\"}\n";
}

/// What a state folder held before the run, and the files beside it.
struct Seed {
  std::string history;
  std::string backup = std::string(4096, '\x5A');
  std::string record = "{\"format\":\"korvane-backup\"}\n";
  std::string trace = "{\"old\":\"trace\"}\n";
  std::string saved = "old saved state\n";
};

Seed SeedOf(bool nearLimit) {
  Seed seed;
  const int events = nearLimit ? 2700 : 3;
  for (int i = 0; i < events; ++i) seed.history += OldEvent(i);
  return seed;
}

/// A scratch folder laid out as the seed says: home/state/ (its history and one backup with its
/// record), run.trace and saved.state.
struct Scratch {
  TempDir dir;
  std::string state = dir.File("home/state");
  std::string trace = dir.File("run.trace");
  std::string saved = dir.File("saved.state");

  explicit Scratch(const Seed& seed) {
    fs::create_directories(fs::path(state) / "backups");
    Put(store::HistoryPath(state), seed.history);
    Put(OldBackup(), seed.backup);
    Put(OldBackup() + ".json", seed.record);
    Put(trace, seed.trace);
    Put(saved, seed.saved);
  }
  std::string OldBackup() const { return (fs::path(state) / "backups" / "old.bin").string(); }
  static void Put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
};

/// An update of a simulated outdated enclosure that writes a backup, the history, a trace and
/// a saved state, through calls.
int RunUpdate(const Scratch& scratch, store::FileCalls& calls, std::ostream& out) {
  std::istringstream in;
  std::ostringstream err;
  const Console console{in, out, err, false, false, {}, scratch.state, &calls};
  const std::vector<std::string> args{"--simulate",   "jms583-outdated", "--trace", scratch.trace,
                                      "--save-state", scratch.saved,     "update",  "--yes"};
  return RunKorvaneFw(args, console, [](const PlatformChoices&) {
    return std::make_unique<testing::LockedMachine>();
  });
}

/// The calls of one kind of file, as letters.
std::string LettersOf(const std::vector<Call>& calls, std::string_view kind) {
  std::string letters;
  for (const Call& call : calls) {
    if (call.kind == kind) letters += call.letter;
  }
  return letters;
}

TEST(KorvaneFwFiles, EachFileIsOnTheDiskBeforeTheRunReportsIt) {
  // Written whole beside its place, synced, closed, put in place, its folder synced; the report
  // comes after. A file replaced takes the old one's permissions first; a history line is
  // appended where it is and synced.
  const struct {
    const char* kind;
    bool nearLimit;
    const char* order;
  } cases[] = {
      {"image", false, "cw+sxlf!"}, {"record", false, "cw+sxlf!"}, {"trace", false, "cw+asxrf"},
      {"state", false, "cw+asxrf"}, {"history", false, "ws"},      {"history", true, "cw+asxrf"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.kind) + (c.nearLimit ? " (cut to half)" : ""));
    const Scratch scratch(SeedOf(c.nearLimit));
    WatchedCalls calls;
    ReportingOut report(calls.calls);
    std::ostream out(&report);
    ASSERT_EQ(RunUpdate(scratch, calls, out), 0) << report.str();
    EXPECT_TRUE(std::regex_match(LettersOf(calls.calls, c.kind), std::regex(c.order)))
        << LettersOf(calls.calls, c.kind);
  }
}

TEST(KorvaneFwFiles, FoldersAndAHistoryTheRunMakesHaveTheirEntriesSynced) {
  const Scratch scratch(SeedOf(false));
  fs::remove_all(scratch.state);
  WatchedCalls calls;
  std::ostringstream out;
  ASSERT_EQ(RunUpdate(scratch, calls, out), 0) << out.str();
  EXPECT_EQ(LettersOf(calls.calls, "history"), "wsf");
  const auto synced = [&calls](const fs::path& folder) {
    return std::ranges::count(calls.syncedFolders, folder.string()) > 0;
  };
  EXPECT_TRUE(synced(fs::path(scratch.state).parent_path())) << "the state folder's entry";
  EXPECT_TRUE(synced(scratch.state)) << "the backups folder's entry";
}

// ---- The kill sweep ---------------------------------------------------------------------------

/// The trace is written a line at a time, hundreds of writes alike: every Nth of them is cut, and
/// every other call, so that each file's calls are cut more than once.
constexpr std::size_t kEveryTraceWrite = 10;

std::string Sha256Of(const std::string& bytes) {
  return Sha256Hex(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

/// The lines of the seeded history that any history after the run must still hold: all of them,
/// or, where the run cuts the file, those of its newest half.
std::vector<std::string> KeptLines(const std::string& history, bool cut) {
  if (!cut) return Lines(history);
  // The cut keeps the whole lines of the newest half: the first line of that half goes.
  const std::string tail = history.substr(history.size() - store::kHistoryLimit / 2);
  return Lines(tail.substr(tail.find('\n') + 1));
}

void ExpectHistoryKept(const Scratch& scratch, const Seed& seed, bool cut) {
  const store::HistoryRead read = store::ReadHistory(scratch.state);
  EXPECT_TRUE(read.warnings.empty()) << read.warnings.front();
  const std::vector<std::string> now = Lines(ReadWhole(store::HistoryPath(scratch.state)));
  const std::set<std::string> present(now.begin(), now.end());
  for (const std::string& line : KeptLines(seed.history, cut)) {
    ASSERT_TRUE(present.contains(line)) << "lost: " << line.substr(0, 80);
  }
}

/// Whether a trace is one whole run: every line JSON, the last its exit code.
bool WholeTrace(const std::string& text) {
  const std::vector<std::string> lines = Lines(text);
  if (lines.empty() || text.back() != '\n') return false;
  for (const std::string& line : lines) {
    if (nlohmann::json::parse(line, nullptr, false).is_discarded()) return false;
  }
  return nlohmann::json::parse(lines.back()).contains("exit");
}

/// The backups folder: every record matches its image; an image without its record (killed
/// between the two) is named by no history line; temporaries are left alone. The images without
/// a record, counted.
int ExpectBackupsWhole(const Scratch& scratch) {
  int orphans = 0;
  const std::string history = ReadWhole(store::HistoryPath(scratch.state));
  for (const auto& entry : fs::directory_iterator(fs::path(scratch.state) / "backups")) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(".") || name == "old.bin" || name == "old.bin.json") continue;
    if (name.ends_with(".json")) {
      EXPECT_TRUE(fs::exists(entry.path().parent_path() / name.substr(0, name.size() - 5))) << name;
      continue;
    }
    const std::string image = ReadWhole(entry.path());
    const std::string recordPath = entry.path().string() + ".json";
    if (!fs::exists(recordPath)) {
      ++orphans;
      EXPECT_EQ(history.find(name), std::string::npos) << name << " has no record";
      continue;
    }
    const auto record = nlohmann::json::parse(ReadWhole(recordPath), nullptr, false);
    EXPECT_FALSE(record.is_discarded()) << recordPath;
    if (record.is_discarded()) continue;
    EXPECT_EQ(record.value("size", std::size_t{0}), image.size()) << name;
    EXPECT_EQ(record.value("sha256", std::string()), Sha256Of(image)) << name;
  }
  return orphans;
}

/// Everything the killed run may have left: each file whole or as it was.
int ExpectWholeOrAsItWas(const Scratch& scratch, const Seed& seed, const std::string& newSaved,
                         bool cut) {
  EXPECT_EQ(ReadWhole(scratch.OldBackup()), seed.backup);
  EXPECT_EQ(ReadWhole(scratch.OldBackup() + ".json"), seed.record);
  const std::string saved = ReadWhole(scratch.saved);
  EXPECT_TRUE(saved == seed.saved || saved == newSaved) << saved.substr(0, 80);
  const std::string trace = ReadWhole(scratch.trace);
  EXPECT_TRUE(trace == seed.trace || WholeTrace(trace)) << trace.substr(0, 80);
  ExpectHistoryKept(scratch, seed, cut);
  return ExpectBackupsWhole(scratch);
}

/// Runs the update in a child killed at file call killAt; false when it was not killed.
bool KilledAt(const Scratch& scratch, std::size_t killAt) {
  std::cout.flush();
  const pid_t child = fork();
  if (child == 0) {
    WatchedCalls calls(killAt);
    std::ostringstream out;
    RunUpdate(scratch, calls, out);
    _exit(0);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return false;
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

/// The file calls to kill the run at, numbered from 1.
std::vector<std::size_t> Positions(const std::vector<Call>& calls) {
  std::vector<std::size_t> positions;
  std::size_t traceWrites = 0;
  for (std::size_t at = 1; at <= calls.size(); ++at) {
    const bool traceWrite = calls[at - 1].letter == 'w' && calls[at - 1].kind == "trace";
    if (!traceWrite || traceWrites++ % kEveryTraceWrite == 0) positions.push_back(at);
  }
  return positions;
}

/// How many positions fall in each kind of file's calls.
std::map<std::string, int> CutsByKind(const std::vector<Call>& calls,
                                      const std::vector<std::size_t>& positions) {
  std::map<std::string, int> cuts;
  for (const std::size_t at : positions) ++cuts[calls[at - 1].kind];
  return cuts;
}

/// Whether the run's history line is appended or makes the history be cut to its newest half: two
/// tests, which run side by side.
class KillSweep : public ::testing::TestWithParam<bool> {};

TEST_P(KillSweep, LeavesEveryFileWholeOrAsItWas) {
  int positions = 0, orphans = 0;
  const bool cut = GetParam();
  const Seed seed = SeedOf(cut);
  // An uninterrupted run counts the calls and leaves the state every finished run saves.
  WatchedCalls counted;
  const Scratch whole(seed);
  std::ostringstream out;
  ASSERT_EQ(RunUpdate(whole, counted, out), 0) << out.str();
  const std::string newSaved = ReadWhole(whole.saved);
  const std::vector<std::size_t> killAt = Positions(counted.calls);
  const std::map<std::string, int> cuts = CutsByKind(counted.calls, killAt);
  for (const char* kind : {"image", "record", "trace", "state", "history"}) {
    EXPECT_GE(cuts.contains(kind) ? cuts.at(kind) : 0, 2) << kind << " is cut too seldom";
  }
  for (const std::size_t at : killAt) {
    SCOPED_TRACE("killed at file call " + std::to_string(at));
    const Scratch scratch(seed);
    ASSERT_TRUE(KilledAt(scratch, at));
    ++positions;
    orphans += ExpectWholeOrAsItWas(scratch, seed, newSaved, cut);
    // The next run works with whatever was left, nothing cleaned up.
    std::ostringstream next;
    ASSERT_EQ(RunUpdate(scratch, store::MachineFileCalls(), next), 0) << next.str();
    ExpectWholeOrAsItWas(scratch, seed, newSaved, cut);
  }
  std::cout << "Kill sweep (" << (GetParam() ? "history cut to half" : "history appended")
            << "): " << positions << " positions, " << orphans
            << " left an image without its record\n";
  ::testing::Test::RecordProperty("KillSweepPositions", positions);
}

INSTANTIATE_TEST_SUITE_P(KorvaneFwFiles, KillSweep, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return param.param ? "HistoryCut" : "HistoryAppended";
                         });

}  // namespace
}  // namespace korvane::cli

#endif
