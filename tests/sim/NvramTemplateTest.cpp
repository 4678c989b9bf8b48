#include "NvramTemplate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvane::sim {
namespace {

const NvramIdentity kIdentity{
    0x152D, 0x0583, "JMicron", "USB to PCIE Bridge", "0123456789ABCDEF", "JMicron ", "Generic"};

std::vector<std::uint8_t> Bytes(std::initializer_list<std::uint8_t> head, std::string_view text) {
  std::vector<std::uint8_t> bytes(head);
  bytes.insert(bytes.end(), text.begin(), text.end());
  return bytes;
}

TEST(NvramTemplateTest, PlacesEveryFieldAndNothingElse) {
  const struct {
    std::size_t at;
    std::vector<std::uint8_t> bytes;
  } fields[] = {
      {0x00, {0x2D, 0x15, 0x83, 0x05}},
      {0x0C, Bytes({9, 0x03}, "JMicron")},
      {0x30, Bytes({20, 0x03}, "USB to PCIE Bridge")},
      {0x54, Bytes({18, 0x03}, "0123456789ABCDEF")},
      {200, Bytes({}, "JMicron ")},
      {208, Bytes({}, std::string("Generic\0\0\0\0\0\0\0\0\0", 16))},
  };
  NvramRecord record = NvramTemplate(kIdentity);
  for (const auto& field : fields) {
    SCOPED_TRACE(field.at);
    EXPECT_TRUE(std::equal(field.bytes.begin(), field.bytes.end(), record.begin() + field.at));
    std::fill_n(record.begin() + field.at, field.bytes.size(), 0);
  }
  EXPECT_EQ(record, NvramRecord{}) << "a byte outside the template's fields was written";
}

TEST(NvramTemplateTest, CutsTextsToTheirRoom) {
  NvramIdentity identity = kIdentity;
  identity.manufacturer = std::string_view("0123456789012345678901234567890123456789");
  identity.vendorText = "JMicron Technology";
  const NvramRecord record = NvramTemplate(identity);
  EXPECT_EQ(record[0x0C], 36);  // the whole room up to the product descriptor
  EXPECT_EQ(record[0x30], 20);  // which stays intact
  EXPECT_EQ(std::string(record.begin() + 200, record.begin() + 208), "JMicron ");
  EXPECT_EQ(record[208], 'G');
}

}  // namespace
}  // namespace korvane::sim
