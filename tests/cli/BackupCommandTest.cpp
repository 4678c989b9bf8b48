#include "BackupCommand.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "EmbeddedImages.h"
#include "KorvaneFwRun.h"
#include "Sha256.h"
#include "Store.h"
#include "Text.h"

namespace korvane::cli {
namespace {

using ::testing::HasSubstr;
using testing::KorvaneFw;
using ::testing::Not;
using testing::Outcome;
using testing::TempDir;

constexpr std::size_t kJms583Area = 66560;
constexpr std::size_t kSecondBlock = 512;

std::vector<std::uint8_t> Bytes(const std::string& path) {
  const std::string text = testing::ReadWhole(path);
  return {text.begin(), text.end()};
}

void WriteBytes(const std::string& path, std::span<const std::uint8_t> bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

/// Backs up the scenario's enclosure to dir/name and checks that it took.
std::string BackUp(const TempDir& dir, const std::string& scenario, std::string_view name) {
  const std::string file = dir.File(name);
  const Outcome backup = KorvaneFw({"--simulate", scenario, "backup", "--output", file});
  EXPECT_EQ(backup.code, exitcode::kOk) << backup.err << backup.out;
  return file;
}

TEST(KorvaneFwBackup, WhatTheBridgeRunsIsKeptOrNothingIs) {
  struct Case {
    std::string scenario;
    int code;
    std::size_t size;  ///< 0: no file
    std::string said;
  };
  const TempDir dir;
  const std::string differing = dir.File(
      "differs.json",
      testing::Jms583With(
          R"(, "faults": [{"command": "ReadBuffer", "nth": 70, "effect": "corrupt", "byte": 9}])"));
  const std::string failing = dir.File(
      "fails.json",
      testing::Jms583With(R"(, "faults": [{"command": "ReadNvram", "nth": 2, "effect": "fail"}])"));
  const Case cases[] = {
      {"jms583-outdated", exitcode::kOk, 67072, "Backup written to "},
      {"jms578-outdated", exitcode::kOk, 50688, "Backup written to "},
      {"jms583-rom", exitcode::kNothingToSave, 0, "no firmware to save"},
      {differing, exitcode::kFailure, 0, "it did not answer alike twice"},
      {failing, exitcode::kFailure, 0, "reading the NVRAM record"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    const std::string file = dir.File("backup.bin");
    std::filesystem::remove(file);
    std::filesystem::remove(file + ".json");
    const Outcome backup = KorvaneFw({"--simulate", c.scenario, "backup", "--output", file});
    EXPECT_EQ(backup.code, c.code) << backup.err;
    EXPECT_THAT(backup.out + backup.err, HasSubstr(c.said));
    if (c.size == 0) {
      EXPECT_FALSE(std::filesystem::exists(file));
      EXPECT_FALSE(std::filesystem::exists(file + ".json"));
      continue;
    }
    const std::vector<std::uint8_t> image = Bytes(file);
    ASSERT_EQ(image.size(), c.size);
    EXPECT_EQ(HexText(std::span(image).subspan(0x200, 4)), "5ac369e1");
    const auto record = nlohmann::json::parse(testing::ReadWhole(file + ".json"));
    EXPECT_EQ(record["format"], kBackupFormat);
    EXPECT_EQ(record["sha256"], Sha256Hex(image));
    EXPECT_EQ(record["size"], c.size);
    EXPECT_THAT(backup.out, HasSubstr(Sha256Hex(image)));
  }
}

/// A place the backup cannot go is found before the bridge is read.
TEST(KorvaneFwBackup, ADestinationThatCannotBeWrittenLeavesNothing) {
  const TempDir dir;
  const std::string file = dir.File("missing-folder/backup.bin");
  const Outcome backup = KorvaneFw({"--simulate", "jms583-outdated", "backup", "--output", file});
  EXPECT_EQ(backup.code, exitcode::kBadInput);
  EXPECT_THAT(backup.err, HasSubstr("cannot write beside " + file));
  EXPECT_THAT(backup.out, ::testing::Not(HasSubstr("Backing up")));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

/// The update backs up first; it writes nothing when the backup fails, and goes on without one
/// when asked to, or when a bridge in its boot ROM has nothing to save.
TEST(KorvaneFwUpdate, TheBackupComesFirst) {
  struct Case {
    std::string scenario;
    std::vector<std::string> options;
    int code;
    std::string said;
    bool writes;
  };
  const TempDir dir;
  const std::string unreadable =
      dir.File("unreadable.json",
               testing::Jms583With(
                   R"(, "faults": [{"command": "ReadBuffer", "nth": 3, "effect": "fail"}])"));
  const Case cases[] = {
      {"jms583-outdated", {}, exitcode::kOk, "Backup written to " + testing::StateFolder(), true},
      {"jms583-outdated", {"--no-backup"}, exitcode::kOk, "No backup is made (--no-backup).", true},
      {"jms583-rom", {}, exitcode::kOk, "Nothing to back up: the bridge runs its boot ROM", true},
      {unreadable, {}, exitcode::kFailure, "Nothing was written.", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    const std::string trace = dir.File("t.jsonl");
    std::vector<std::string> args{"--simulate", c.scenario, "--trace", trace, "update", "--yes"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const Outcome update = KorvaneFw(args);
    EXPECT_EQ(update.code, c.code) << update.err << update.out;
    EXPECT_THAT(update.out + update.err, HasSubstr(c.said));
    EXPECT_EQ(testing::Writes(testing::TraceRecords(trace)) > 0, c.writes);
  }
}

/// A file is written only when it is this chip's image and its version is allowed; a refusal
/// sends nothing to the bridge.
/// The options that give leave, and the exit code of a file that is no image for the bridge; the
/// engine's tests hold the version refusals themselves.
TEST(KorvaneFwUpdate, AFileIsWrittenWhenItsLayoutAndVersionAllowIt) {
  const TempDir dir;
  const std::string old583 = BackUp(dir, "jms583-outdated", "old583.bin");
  const std::string old578 = BackUp(dir, "jms578-outdated", "old578.bin");
  std::vector<std::uint8_t> image = Bytes(old583);
  WriteBytes(dir.File("truncated.bin"), std::span(image).first(image.size() - 1));
  image[kJms583Area - 0x14 + 3] ^= 0xFF;  // the version's copy before the area's end
  WriteBytes(dir.File("copies.bin"), image);
  const auto jms578 = EmbeddedImages().Find("JMS578_FW", "FW");
  ASSERT_TRUE(jms578);
  WriteBytes(dir.File("jms578.bin"), *jms578);

  struct Case {
    std::string scenario;
    std::string file;
    std::vector<std::string> options;
    int code;
    std::string said;
  };
  const Case cases[] = {
      {"jms583-current", old583, {"--allow-older"}, exitcode::kOk, "Update complete"},
      {"jms583-outdated", old583, {"--allow-reinstall"}, exitcode::kOk, "Update complete"},
      {"jms578-current", old578, {"--force"}, exitcode::kOk, "Update complete"},
      {"jms583-outdated",
       dir.File("jms578.bin"),
       {},
       exitcode::kBadInput,
       "is an image for a JMS578; the enclosure's bridge is a JMS583"},
      {"jms583-outdated", dir.File("truncated.bin"), {}, exitcode::kBadInput, "67071 bytes"},
      {"jms583-outdated",
       dir.File("copies.bin"),
       {},
       exitcode::kBadInput,
       "the version copies disagree: 00 00 00 F7 at 0x103EC"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file + " on " + c.scenario);
    const std::string trace = dir.File("t.jsonl");
    std::vector<std::string> args{"--simulate", c.scenario, "--trace", trace,
                                  "update",     "--yes",    "--image", c.file};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const Outcome update = KorvaneFw(args);
    EXPECT_EQ(update.code, c.code) << update.err << update.out;
    EXPECT_THAT(update.out + update.err, HasSubstr(c.said));
    // What is written, and over what, is said in place of the verdict on the carried firmware.
    EXPECT_THAT(update.out, HasSubstr("To write:  " + c.file + ", version "));
    EXPECT_THAT(update.out, Not(HasSubstr("is offered")));
    EXPECT_THAT(update.out, Not(HasSubstr("The firmware is up to date")));
    const bool complete = c.code == exitcode::kOk;
    EXPECT_EQ(testing::Writes(testing::TraceRecords(trace)) > 0, complete);
    const auto header = nlohmann::json::parse(testing::Lines(testing::ReadWhole(trace)).front());
    EXPECT_EQ(header["image"]["sha256"], Sha256Hex(Bytes(c.file)));
  }
}

/// The downgrade of the done-when: the old firmware runs after it, so the update is offered again.
TEST(KorvaneFwUpdate, AnOlderBackupWrittenBackIsOfferedTheUpdateAgain) {
  const TempDir dir;
  const std::string backup = BackUp(dir, "jms583-outdated", "b.bin");
  const std::string updated = dir.File("updated.json");
  const std::string restored = dir.File("restored.json");
  ASSERT_EQ(
      KorvaneFw({"--simulate", "jms583-outdated", "--save-state", updated, "update", "--yes"}).code,
      exitcode::kOk);
  const Outcome refused = KorvaneFw({"--simulate", updated, "update", "--yes", "--image", backup});
  EXPECT_EQ(refused.code, exitcode::kFailure);
  const Outcome downgrade = KorvaneFw({"--simulate", updated, "--save-state", restored, "update",
                                       "--yes", "--image", backup, "--allow-older"});
  ASSERT_EQ(downgrade.code, exitcode::kOk) << downgrade.out;
  EXPECT_EQ(KorvaneFw({"--simulate", restored, "check"}).code, exitcode::kOffered);
}

/// --restore-nvram puts the enclosure back exactly as its backup was made; a refused record is
/// never written (the engine's tests compare the ids and serial).
TEST(KorvaneFwUpdate, TheRecordIsRestoredOnlyToItsOwnEnclosure) {
  const TempDir dir;
  const std::string backup = BackUp(dir, "jms583-outdated", "b.bin");
  const std::string updated = dir.File("updated.json");
  ASSERT_EQ(
      KorvaneFw({"--simulate", "jms583-outdated", "--save-state", updated, "update", "--yes"}).code,
      exitcode::kOk);
  const std::vector<std::uint8_t> saved = Bytes(backup);
  std::filesystem::copy_file(backup, dir.File("copy.bin"));
  struct Case {
    std::string scenario;
    std::string file;
    int code;
    std::string said;
  };
  const Case cases[] = {
      {updated, dir.File("copy.bin"), exitcode::kFailure, "is not a backup this program made"},
      {updated, backup, exitcode::kOk, "Update complete"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    const std::string after = dir.File("after.json");
    const std::string trace = dir.File("t.jsonl");
    const Outcome restore = KorvaneFw({"--simulate", c.scenario, "--trace", trace, "--save-state",
                                       after, "update", "--yes", "--no-backup", "--image", c.file,
                                       "--allow-older", "--allow-reinstall", "--restore-nvram"});
    EXPECT_EQ(restore.code, c.code) << restore.out;
    EXPECT_THAT(restore.out + restore.err, HasSubstr(c.said));
    if (c.code != exitcode::kOk) {
      EXPECT_EQ(testing::Writes(testing::TraceRecords(trace)), 0);
      continue;
    }
    // Read back, the enclosure is its backup again, but for the block the bridge keeps itself.
    const std::vector<std::uint8_t> again = Bytes(BackUp(dir, after, "again.bin"));
    ASSERT_EQ(again.size(), saved.size());
    EXPECT_TRUE(std::equal(saved.begin(), saved.begin() + kSecondBlock, again.begin()));
    EXPECT_TRUE(std::equal(saved.begin() + 2 * kSecondBlock, saved.end(),
                           again.begin() + 2 * kSecondBlock));
  }
}

/// What was lost or forged before the store kept the files: an earlier backup, an output named
/// twice, a backup changed after it was made, a record that proves nothing. Each is refused before
/// a bridge hears anything, and every file that was there stays as it was.
TEST(KorvaneFwBackup, NothingIsLostAndNoForgedBackupIsWritten) {
  const TempDir dir;
  const std::string old = BackUp(dir, "jms583-outdated", "old.bin");
  const std::vector<std::uint8_t> kept = Bytes(old);
  std::vector<std::uint8_t> flipped = kept;
  flipped[0x1000] ^= 0x01;
  WriteBytes(dir.File("flipped.bin"), flipped);
  std::filesystem::copy_file(old + ".json", dir.File("flipped.bin.json"));
  WriteBytes(dir.File("forged.bin"), flipped);
  dir.File("forged.bin.json",
           R"({"format": "korvane-backup", "sha256": ")" + Sha256Hex(flipped) + "\"}");
  WriteBytes(dir.File("typed.bin"), kept);
  auto record = nlohmann::json::parse(testing::ReadWhole(old + ".json"));
  record["size"] = std::to_string(kept.size());
  dir.File("typed.bin.json", record.dump());
  const auto update = [&dir](std::string_view name) {
    return std::vector<std::string>{"update",  "--yes",       "--allow-older", "--allow-reinstall",
                                    "--image", dir.File(name)};
  };
  const auto with = [](std::vector<std::string> first, const std::vector<std::string>& then) {
    first.insert(first.end(), then.begin(), then.end());
    return first;
  };
  const struct {
    std::vector<std::string> args;
    std::string said;
  } cases[] = {
      {{"backup", "--output", old}, "old.bin exists: remove it or choose another name"},
      {{"--trace", dir.File("same.bin"), "backup", "--output", dir.File("same.bin")},
       "--trace and --output name the same file"},
      {{"--trace", dir.File("new.bin.json"), "backup", "--output", dir.File("new.bin")},
       "--trace and the record of --output"},
      {with({"--trace", dir.File("flipped.bin")}, update("flipped.bin")),
       "--trace and --image name the same file"},
      {update("flipped.bin"), "flipped.bin does not match its record: the backup is damaged"},
      {update("forged.bin"), "forged.bin.json: its field \"format_version\" is missing"},
      {update("typed.bin"), "typed.bin.json: its field \"size\" is not a whole number"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.said);
    const Outcome run = KorvaneFw(with({"--simulate", "jms583-outdated"}, c.args));
    EXPECT_EQ(run.code, exitcode::kBadInput) << run.out;
    EXPECT_THAT(run.err, HasSubstr(c.said));
    EXPECT_THAT(run.out, ::testing::Not(HasSubstr("Update complete")));
  }
  EXPECT_EQ(Bytes(old), kept);
  EXPECT_EQ(Bytes(dir.File("flipped.bin")), flipped);
  EXPECT_FALSE(std::filesystem::exists(dir.File("same.bin")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("new.bin")));
}

}  // namespace
}  // namespace korvane::cli
