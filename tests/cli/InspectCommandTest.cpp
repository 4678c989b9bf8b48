#include "InspectCommand.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ChipUpdate.h"
#include "EmbeddedImages.h"
#include "KorvaneFwRun.h"

namespace korvane::cli {
namespace {

using ::testing::HasSubstr;
using testing::KorvaneFw;
using testing::Outcome;
using testing::TempDir;

void WriteBytes(const std::string& path, std::span<const std::uint8_t> bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

/// The file's description, whatever it holds, and for each chip the refusal update --image
/// would make: a carried image, a backup with its record, the same backup damaged, random bytes.
TEST(KorvaneFwInspect, SaysWhatAFileHoldsAndWhatWouldRefuseIt) {
  const TempDir dir;
  for (const ChipUpdate& chip : kChipUpdates) {
    const auto carried = EmbeddedImages().Find(chip.firmwareImage, kFirmwareType);
    ASSERT_TRUE(carried);
    WriteBytes(dir.File(std::string(chip.chipName) + ".bin"), *carried);
  }
  const std::string backup = dir.File("backup.bin");
  ASSERT_EQ(KorvaneFw({"--simulate", "jms578-outdated", "backup", "-o", backup}).code, 0);
  std::string damaged = testing::ReadWhole(backup);
  damaged[0x1000] ^= 0x01;
  std::ofstream(dir.File("damaged.bin"), std::ios::binary) << damaged;
  std::filesystem::copy_file(backup + ".json", dir.File("damaged.bin.json"));
  std::ofstream(dir.File("random.bin"), std::ios::binary) << std::string(3000, '\x5A');

  struct Case {
    std::string file;
    nlohmann::json chip;  ///< null: none of ours
    std::string record;
    nlohmann::json backupChip;           ///< the enclosure the record names; null: none
    std::string refusal583, refusal578;  ///< empty: update --image would write it
  };
  const Case cases[] = {
      {"JMS583.bin", "JMS583", "none", nullptr, "", "file-chip"},
      {"JMS578.bin", "JMS578", "none", nullptr, "file-chip", ""},
      {"backup.bin", "JMS578", "holds", "JMS578", "file-chip", ""},
      {"damaged.bin", "JMS578", "does-not-hold", nullptr, "record", "record"},
      {"random.bin", nullptr, "none", nullptr, "file-image", "file-image"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const Outcome inspect = KorvaneFw({"--json", "inspect", dir.File(c.file)});
    ASSERT_EQ(inspect.code, exitcode::kOk) << inspect.err;
    const auto answer = nlohmann::json::parse(inspect.out);
    EXPECT_EQ(answer["chip"], c.chip);
    EXPECT_EQ(answer["record"], c.record);
    EXPECT_EQ(answer["backup"].is_null() ? nlohmann::json() : answer["backup"]["chip"],
              c.backupChip);
    std::map<std::string, std::string> refusals;
    for (const auto& judged : answer["chips"]) {
      refusals[judged["chip"]] = judged["refusal"].is_null() ? "" : judged["refusal"];
    }
    EXPECT_EQ(refusals["JMS583"], c.refusal583);
    EXPECT_EQ(refusals["JMS578"], c.refusal578);
    const Outcome text = KorvaneFw({"inspect", dir.File(c.file)});
    EXPECT_THAT(text.out, HasSubstr("SHA-256:   " + answer["file"]["sha256"].get<std::string>()));
  }
  const Outcome damagedText = KorvaneFw({"inspect", dir.File("damaged.bin")});
  EXPECT_THAT(damagedText.out, HasSubstr("does not match its record: the backup is damaged"));
  const Outcome missing = KorvaneFw({"inspect", dir.File("missing.bin")});
  EXPECT_EQ(missing.code, exitcode::kBadInput);
  EXPECT_THAT(missing.err, HasSubstr("korvane-fw: " + dir.File("missing.bin")));
}

}  // namespace
}  // namespace korvane::cli
