#include "VerifyCommand.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

/// How many commands of the trace have this opcode.
int Sent(const std::vector<nlohmann::json>& records, std::string_view opcode) {
  int sent = 0;
  for (const auto& record : records) {
    sent += record["cdb"].get<std::string>().starts_with(opcode) ? 1 : 0;
  }
  return sent;
}

/// The flash is read and compared with the file, and nothing is written: equal for a backup just
/// taken, different for the carried image of another version, not read at all for an image of
/// another chip.
TEST(KorvaneFwVerify, ComparesTheFlashWithTheFileAndWritesNothing) {
  const TempDir dir;
  const std::string backup = dir.File("backup.bin");
  ASSERT_EQ(KorvaneFw({"--simulate", "jms583-outdated", "backup", "-o", backup}).code, 0);
  for (const ChipUpdate& chip : kChipUpdates) {
    const auto carried = EmbeddedImages().Find(chip.firmwareImage, kFirmwareType);
    ASSERT_TRUE(carried);
    std::ofstream(dir.File(std::string(chip.chipName) + ".bin"), std::ios::binary)
        .write(reinterpret_cast<const char*>(carried->data()),
               static_cast<std::streamsize>(carried->size()));
  }
  struct Case {
    std::string file;
    int code;
    std::string result;
    std::string said;
    bool read;  ///< READ BUFFER (0x3C) was sent
  };
  const Case cases[] = {
      {backup, exitcode::kOk, "equal", "Equal: the bridge's flash holds the firmware of", true},
      {dir.File("JMS583.bin"), exitcode::kDiffers, "differs", " bytes compared differ from ", true},
      {dir.File("JMS578.bin"), exitcode::kBadInput, "not-read",
       "korvane-fw: " + dir.File("JMS578.bin") + " is an image for a JMS578", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string trace = dir.File("t.jsonl");
    const Outcome text =
        KorvaneFw({"--simulate", "jms583-outdated", "--trace", trace, "verify", c.file});
    EXPECT_EQ(text.code, c.code) << text.err;
    EXPECT_THAT(text.out + text.err, HasSubstr(c.said));
    const auto records = testing::TraceRecords(trace);
    EXPECT_EQ(Sent(records, "3b"), 0);
    EXPECT_EQ(Sent(records, "3c") > 0, c.read);
    const Outcome json = KorvaneFw({"--json", "--simulate", "jms583-outdated", "verify", c.file});
    const auto answer = nlohmann::json::parse(json.out);
    EXPECT_EQ(answer["result"], c.result);
    EXPECT_EQ(answer["differing_bytes"].is_null(), c.result != "differs");
  }
}

}  // namespace
}  // namespace korvane::cli
