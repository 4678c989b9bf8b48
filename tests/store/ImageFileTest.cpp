#include "ImageFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "Sha256.h"
#include "cli/KorvaneFwRun.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace korvane::store {
namespace {

using ::testing::HasSubstr;

constexpr std::string_view kDigest = "ab12";

/// A record of ours as the program writes it, with one field changed or removed.
std::string Record(std::string_view field = {}, const nlohmann::json& value = nullptr) {
  nlohmann::json record{{"format", "korvane-backup"},
                        {"format_version", 1},
                        {"program", "korvane-fw 0.1.0"},
                        {"time", "2026-12-08T15:40:59Z"},
                        {"file", "b.bin"},
                        {"size", 4},
                        {"sha256", kDigest},
                        {"simulated", false},
                        {"chip", "JMS583"},
                        {"chip_code", 19},
                        {"usb_vendor", "152D"},
                        {"usb_product", "0583"},
                        {"revision", "1"},
                        {"version", "0.0.0.8"},
                        {"serial", "S1"},
                        {"firmware_area", 65536},
                        {"nvram_address", 65536}};
  if (!field.empty() && value.is_null()) record.erase(std::string(field));
  if (!field.empty() && !value.is_null()) record[std::string(field)] = value;
  return record.dump();
}

/// A record of the second layout, which names the two revisions apart, with one field set.
std::string SecondLayout(std::string_view field = {}, const nlohmann::json& value = nullptr) {
  nlohmann::json record = nlohmann::json::parse(Record());
  record["format_version"] = 2;
  record["revision"] = 0;
  record["revision_digit"] = "1";
  record["release"] = nullptr;
  if (!field.empty()) record[std::string(field)] = value;
  return record.dump();
}

/// A record counts only when it is ours, whole, of the types it must have, and names the file's
/// digest and size; another program's file of that name is no record at all.
TEST(ImageFile, ARecordCountsOnlyWhenItHolds) {
  const struct {
    std::string text;
    std::string expected;  ///< "record", "none", or the words of the refusal
  } cases[] = {
      {Record(), "record"},
      {Record("simulated"), "record"},
      {"{\"format\":\"another-tool\",\"sha256\":\"ab12\"}", "none"},
      {"not json", "none"},
      {"[1,2]", "none"},
      {"{\"format\":\"korvane-backup\",\"sha256\":\"ab12\"}",
       "its field \"format_version\" is missing"},
      {Record("size", "4"), "its field \"size\" is not a whole number"},
      {Record("sha256", 12), "its field \"sha256\" is not a text"},
      {Record("simulated", "no"), "its field \"simulated\" is not true or false"},
      {Record("size", -4), "its field \"size\" is not a whole number"},
      {Record("format_version", 3), "another layout (format_version 3)"},
      {SecondLayout(), "record"},
      {SecondLayout("release", "234.01.00.02"), "record"},
      {SecondLayout("revision", "1"), "its field \"revision\" is not a whole number"},
      {SecondLayout("revision_digit", 1), "its field \"revision_digit\" is not a text"},
      {Record("sha256", "ab13"), "b.bin does not match its record: the backup is damaged"},
      {Record("size", 5), "b.bin does not match its record: the backup is damaged"},
  };
  for (const auto& c : cases) {
    const auto judged = JudgeBackupRecord(c.text, "b.bin", kDigest, 4);
    if (c.expected == "record") {
      EXPECT_TRUE(std::holds_alternative<nlohmann::json>(judged)) << c.text;
    } else if (c.expected == "none") {
      EXPECT_TRUE(std::holds_alternative<std::monostate>(judged)) << c.text;
    } else {
      ASSERT_TRUE(std::holds_alternative<std::string>(judged)) << c.text;
      EXPECT_THAT(std::get<std::string>(judged), HasSubstr(c.expected)) << c.text;
    }
  }
}

/// On the disk: a backup changed after it was made is refused, and a record that is no regular
/// file (a FIFO nobody writes) is refused at once rather than waited on.
TEST(ImageFile, AFileIsReadWithItsRecordJudged) {
  const cli::testing::TempDir dir;
  const std::string image = dir.File("b.bin", "\x01\x02\x03\x04");
  const std::string digest = Sha256Hex(std::vector<std::uint8_t>{1, 2, 3, 4});
  std::ofstream(image + ".json") << Record("sha256", digest);
  auto read = ReadImageFile(image);
  ASSERT_TRUE(std::holds_alternative<ImageFile>(read));
  EXPECT_TRUE(std::get<ImageFile>(read).backupRecord.has_value());

  std::ofstream(image, std::ios::binary) << "\x01\x02\x03\x05";
  read = ReadImageFile(image);
  ASSERT_TRUE(std::holds_alternative<std::string>(read));
  EXPECT_THAT(std::get<std::string>(read), HasSubstr("does not match its record"));
#ifndef _WIN32
  std::filesystem::remove(image + ".json");
  ASSERT_EQ(mkfifo((image + ".json").c_str(), 0600), 0);
  read = ReadImageFile(image);
  ASSERT_TRUE(std::holds_alternative<std::string>(read));
  EXPECT_THAT(std::get<std::string>(read), HasSubstr("b.bin.json is not a regular file"));
  std::filesystem::remove(image + ".json");
  ASSERT_EQ(mkfifo((dir.path() + "/fifo.bin").c_str(), 0600), 0);
  read = ReadImageFile(dir.path() + "/fifo.bin");
  ASSERT_TRUE(std::holds_alternative<std::string>(read));
  EXPECT_THAT(std::get<std::string>(read), HasSubstr("fifo.bin is not a regular file"));
#endif
}

}  // namespace
}  // namespace korvane::store
