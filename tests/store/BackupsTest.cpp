#include "Backups.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <thread>

#include "ChipUpdate.h"
#include "Sha256.h"
#include "cli/KorvaneFwRun.h"
#include "store/FailingCalls.h"

namespace korvane::store {
namespace {

using cli::testing::ReadWhole;
using ::testing::HasSubstr;

/// A backup of a JMS583 whose bytes tell it apart from another's by seed.
FirmwareBackup MadeBackup(std::uint8_t seed) {
  FirmwareBackup backup;
  backup.end = BackupEnd::Saved;
  backup.chip = FindChipUpdate(kChipCodeJms583);
  backup.identity.version = {0, 0, 0, 8};
  backup.image.assign(backup.chip->firmwareArea + 512, seed);
  return backup;
}

std::string Bytes(const FirmwareBackup& backup) {
  return {backup.image.begin(), backup.image.end()};
}

/// The names in a folder, hidden ones included.
std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

const std::chrono::system_clock::time_point kWhen(std::chrono::seconds(1796000000));

/// What a backup is saved with, its SHA-256 as the reader hashed it.
BackupFacts FactsOf(const FirmwareBackup& backup, bool simulated = false) {
  return {kWhen, simulated, Sha256Hex(backup.image)};
}

/// Cut at every call it makes, a backup to a named file leaves the file and its record both whole,
/// or neither and nothing else: no temporary, no file without its record.
TEST(Backups, AFileAndItsRecordArePutInPlaceTogetherOrNotAtAll) {
  const FirmwareBackup backup = MadeBackup(0x5A);
  int failures = 0;
  for (int failAt = 0;; ++failAt) {
    const cli::testing::TempDir dir;
    testing::FailingCalls calls(failAt);
    std::variant<std::filesystem::path, std::string> saved = std::string("not opened");
    {
      auto destination = BackupDestination::ToFile(dir.path() + "/b.bin", calls);
      if (auto* opened = std::get_if<BackupDestination>(&destination)) {
        saved = opened->Save(backup, FactsOf(backup));
      }
    }
    const std::set<std::string> names = Names(dir.path());
    if (std::holds_alternative<std::string>(saved)) {
      EXPECT_TRUE(names.empty()) << failAt << ": " << std::get<std::string>(saved);
      ++failures;
      continue;
    }
    EXPECT_EQ(names, (std::set<std::string>{"b.bin", "b.bin.json"})) << failAt;
    EXPECT_EQ(ReadWhole(dir.path() + "/b.bin"), Bytes(backup));
    EXPECT_EQ(failAt, static_cast<int>(calls.calls.size())) << "no call failed";
    break;
  }
  EXPECT_GE(failures, 10);
}

/// A backup never takes the place of a file: neither an earlier backup nor its record is
/// touched, and the refusal comes before anything is read.
TEST(Backups, ANamedBackupReplacesNothing) {
  const cli::testing::TempDir dir;
  const std::string old = dir.File("old.bin", "earlier backup");
  const std::string lone = dir.File("lone.bin.json", "{}");
  std::filesystem::create_directory(dir.path() + "/folder.bin.json");
  const struct {
    std::string path;
    std::string refusal;
  } cases[] = {
      {old, "old.bin exists: remove it or choose another name"},
      {dir.path() + "/lone.bin", "lone.bin.json exists"},
      {dir.path() + "/folder.bin", "folder.bin.json is a folder"},
      {dir.path() + "/missing/b.bin", "cannot write beside"},
  };
  for (const auto& c : cases) {
    auto destination = BackupDestination::ToFile(c.path);
    ASSERT_TRUE(std::holds_alternative<std::string>(destination)) << c.path;
    EXPECT_THAT(std::get<std::string>(destination), HasSubstr(c.refusal));
  }
  EXPECT_EQ(ReadWhole(old), "earlier backup");
  EXPECT_EQ(ReadWhole(lone), "{}");
  EXPECT_EQ(Names(dir.path()),
            (std::set<std::string>{"old.bin", "lone.bin.json", "folder.bin.json"}));
}

/// Runs that back up twin enclosures in the same second each claim a name of their own; none
/// holds the other's bytes. A simulated enclosure's backup says so in its name and record.
TEST(Backups, RunsAtOnceClaimNamesOfTheirOwn) {
  const cli::testing::TempDir dir;
  constexpr int kRuns = 8;
  std::vector<std::string> paths(kRuns);
  std::vector<std::thread> runs;
  for (int run = 0; run < kRuns; ++run) {
    runs.emplace_back([&, run] {
      auto destination = BackupDestination::InStateFolder(dir.path());
      if (!std::holds_alternative<BackupDestination>(destination)) return;
      const FirmwareBackup backup = MadeBackup(static_cast<std::uint8_t>(run));
      auto saved =
          std::get<BackupDestination>(destination).Save(backup, FactsOf(backup, run % 2 == 1));
      if (auto* path = std::get_if<std::filesystem::path>(&saved)) paths[run] = path->string();
    });
  }
  for (std::thread& run : runs) run.join();
  std::set<std::string> distinct;
  for (int run = 0; run < kRuns; ++run) {
    ASSERT_FALSE(paths[run].empty()) << run;
    distinct.insert(paths[run]);
    EXPECT_EQ(ReadWhole(paths[run]), Bytes(MadeBackup(static_cast<std::uint8_t>(run))));
    const auto record = nlohmann::json::parse(ReadWhole(paths[run] + ".json"));
    EXPECT_EQ(record["simulated"], run % 2 == 1) << paths[run];
    EXPECT_EQ(record["file"], std::filesystem::path(paths[run]).filename().string());
    EXPECT_EQ(std::filesystem::path(paths[run]).filename().string().starts_with("simulated-"),
              run % 2 == 1);
  }
  EXPECT_EQ(distinct.size(), static_cast<std::size_t>(kRuns));
  // Nothing but the backups and their records is left.
  EXPECT_EQ(Names(BackupFolder(dir.path()).string()).size(), 2u * kRuns);
}

}  // namespace
}  // namespace korvane::store
