#include "OutputFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "cli/KorvaneFwRun.h"
#include "store/FailingCalls.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#endif

namespace korvane::store {
namespace {

using cli::testing::ReadWhole;
using ::testing::HasSubstr;

/// The old file stays whole until the new one is complete; an abandoned file leaves nothing.
TEST(OutputFile, ReplacesTheTargetOnlyWhenCommitted) {
  const cli::testing::TempDir dir;
  const std::string target = dir.File("trace", "old");
  {
    auto abandoned = std::get<OutputFile>(OutputFile::Open(target));
    ASSERT_TRUE(abandoned.Write("half"));
  }
  EXPECT_EQ(ReadWhole(target), "old");
  EXPECT_FALSE(std::filesystem::exists(target + ".partial"));

  auto file = std::get<OutputFile>(OutputFile::Open(target));
  ASSERT_TRUE(file.Write("new"));
  EXPECT_EQ(ReadWhole(target), "old");
  EXPECT_EQ(file.Commit(), std::nullopt);
  EXPECT_EQ(ReadWhole(target), "new");
}

TEST(OutputFile, WindowsDeviceNames) {
  const struct {
    std::string_view path;
    OutputKind kind;
  } cases[] = {
      {"NUL", OutputKind::Direct},
      {"nul", OutputKind::Direct},
      {"C:\\logs\\Nul.txt", OutputKind::Direct},
      {"con:", OutputKind::Direct},
      {"CONOUT$", OutputKind::Direct},
      {"PRN", OutputKind::Refused},
      {"aux.jsonl", OutputKind::Refused},
      {"COM1", OutputKind::Refused},
      {"lpt9", OutputKind::Refused},
      {"COM0", OutputKind::Replace},
      {"null", OutputKind::Replace},
      {"console.log", OutputKind::Replace},
      {"dir/trace.jsonl", OutputKind::Replace},
  };
  for (const auto& c : cases) EXPECT_EQ(KindOfWindowsName(c.path), c.kind) << c.path;
}

#ifndef _WIN32
std::optional<std::string> WriteWhole(const std::string& path, std::string_view text) {
  auto opened = OutputFile::Open(path);
  if (auto* problem = std::get_if<std::string>(&opened)) return *problem;
  auto& file = std::get<OutputFile>(opened);
  if (!file.Write(text)) return file.failure();
  return file.Commit();
}

TEST(OutputFile, KindByFileType) {
  const struct {
    unsigned mode;
    OutputKind kind;
  } cases[] = {
      {S_IFREG | 0644, OutputKind::Replace}, {S_IFCHR | 0666, OutputKind::Direct},
      {S_IFIFO | 0600, OutputKind::Direct},  {S_IFDIR | 0755, OutputKind::Refused},
      {S_IFBLK | 0660, OutputKind::Refused}, {S_IFSOCK | 0777, OutputKind::Refused},
  };
  for (const auto& c : cases) EXPECT_EQ(KindOfMode(c.mode), c.kind) << std::oct << c.mode;
}

/// A link planted where the file is first written is stepped around; a link the user gave at the
/// target is followed, and stays a link.
TEST(OutputFile, LinksAreNeverReplacedNorWrittenThroughUnasked) {
  const cli::testing::TempDir dir;
  const std::string victim = dir.File("victim", "keep");
  const std::string chosen = dir.File("chosen", "old");
  const std::string target = dir.path() + "/trace";
  std::filesystem::create_symlink(victim, dir.path() + "/chosen.partial");
  std::filesystem::create_symlink("chosen", target);
  EXPECT_EQ(WriteWhole(target, "trace"), std::nullopt);
  EXPECT_EQ(ReadWhole(victim), "keep");
  EXPECT_TRUE(std::filesystem::is_symlink(target));
  EXPECT_EQ(ReadWhole(chosen), "trace");

  // A link to a file that is not there yet makes the file there.
  const std::string dangling = dir.path() + "/dangling";
  std::filesystem::create_symlink("made", dangling);
  EXPECT_EQ(WriteWhole(dangling, "state"), std::nullopt);
  EXPECT_TRUE(std::filesystem::is_symlink(dangling));
  EXPECT_EQ(ReadWhole(dir.path() + "/made"), "state");
}

/// What is at the path decides how it is written; a FIFO keeps being a FIFO, and one that nobody
/// reads is refused at once instead of waiting for a reader.
TEST(OutputFile, EachKindOfPath) {
  const cli::testing::TempDir dir;
  const std::string fifo = dir.path() + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string folder = dir.path() + "/folder";
  std::filesystem::create_directory(folder);
  std::filesystem::create_symlink(folder, dir.path() + "/to-folder");
  const std::string socketPath = dir.path() + "/socket";
  const int listening = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

  const struct {
    std::string name;
    std::function<int()> reader;  ///< opens a reader first, when there is one
    std::string refusal;          ///< empty: written
  } cases[] = {
      {"new", {}, ""},
      {"fifo", [&] { return open(fifo.c_str(), O_RDONLY | O_NONBLOCK); }, ""},
      {"fifo", {}, "is a FIFO that no program reads"},
      {"folder", {}, "is a folder"},
      {"to-folder", {}, "is a folder"},
      {"socket", {}, "is a socket"},
      {"missing/trace", {}, "cannot write beside"},
  };
  for (const auto& c : cases) {
    const std::string path = dir.path() + "/" + c.name;
    const int reader = c.reader ? c.reader() : -1;
    const auto problem = WriteWhole(path, "line\n");
    if (c.refusal.empty()) {
      EXPECT_EQ(problem, std::nullopt) << c.name;
    } else {
      EXPECT_THAT(problem.value_or(""), HasSubstr(c.refusal)) << c.name;
    }
    if (reader >= 0) {
      std::array<char, 16> got{};
      EXPECT_EQ(read(reader, got.data(), got.size()), 5) << c.name;
      close(reader);
    }
  }
  close(listening);
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
  EXPECT_EQ(ReadWhole(dir.path() + "/new"), "line\n");
  EXPECT_TRUE(std::filesystem::is_empty(folder));
}

/// A reader that goes away fails the writes after it, once and for good, without a signal.
TEST(OutputFile, AFifoWhoseReaderLeftFailsItsWrites) {
  const cli::testing::TempDir dir;
  const std::string fifo = dir.path() + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  auto file = std::get<OutputFile>(OutputFile::Open(fifo));
  close(reader);
  const auto previous = std::signal(SIGPIPE, SIG_IGN);
  EXPECT_FALSE(file.Write("lost"));
  EXPECT_FALSE(file.Write("after"));
  std::signal(SIGPIPE, previous);
  EXPECT_TRUE(file.direct());
  EXPECT_THAT(file.failure(), HasSubstr("pipe"));
  EXPECT_THAT(file.Commit().value_or(""), HasSubstr("cannot write " + fifo));
}
#endif

/// Cut at every call it makes, a replacing write leaves the earlier file whole or the new one,
/// and nothing beside it; the calls come in the order that puts the file on the disk before its
/// name, and its name before the run says it is done.
TEST(OutputFile, AReplacementIsWholeOrNotThereAtAnyCut) {
#ifdef _WIN32
  // Windows has no permission bits to carry over.
  const std::vector<std::string> order{"create", "write",   "sync",
                                       "close",  "replace", "sync-folder"};
#else
  const std::vector<std::string> order{"create", "write",   "adopt",      "sync",
                                       "close",  "replace", "sync-folder"};
#endif
  for (int failAt = 0; failAt <= static_cast<int>(order.size()); ++failAt) {
    const cli::testing::TempDir dir;
    const std::string target = dir.File("state.json", "earlier");
    testing::FailingCalls calls(failAt);
    std::optional<std::string> problem;
    {
      auto opened = OutputFile::Open(target, Existing::Replace, calls);
      if (auto* refused = std::get_if<std::string>(&opened)) {
        problem = *refused;
      } else {
        auto& file = std::get<OutputFile>(opened);
        problem = file.Write("later") ? file.Commit() : std::optional(file.failure());
      }
    }
    const std::string now = ReadWhole(target);
    EXPECT_TRUE(now == "earlier" || now == "later") << failAt;
    EXPECT_EQ(problem.has_value(), failAt < static_cast<int>(order.size())) << failAt;
    if (failAt < static_cast<int>(order.size()) - 1) {
      EXPECT_EQ(now, "earlier") << failAt;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << failAt;
    if (failAt == static_cast<int>(order.size())) {
      EXPECT_EQ(calls.calls, order);
    }
  }
}

#ifndef _WIN32
/// A replaced file keeps its permissions and, where the user may give it, its owner; what a
/// killed run left beside it stands in no later run's way.
TEST(OutputFile, AReplacedFileKeepsWhatItWas) {
  const cli::testing::TempDir dir;
  const std::string target = dir.File("backup.bin", "earlier");
  ASSERT_EQ(chmod(target.c_str(), 0400), 0);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(target.c_str(), 65534, 65534), 0);
  }
  dir.File(".backup.bin.1-00000000.partial", "left by a killed run");
  dir.File("backup.bin.partial", "left by an older version");
  EXPECT_EQ(WriteWhole(target, "later"), std::nullopt);
  struct stat status {};
  ASSERT_EQ(stat(target.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0400u);
  if (root) {
    EXPECT_EQ(status.st_uid, 65534u);
  }
  EXPECT_EQ(ReadWhole(target), "later");
}
#endif

}  // namespace
}  // namespace korvane::store
