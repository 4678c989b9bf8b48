#include "Facts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "EmbeddedImages.h"
#include "ImageLayout.h"
#include "ImageSource.h"

namespace korvane {
namespace {

/// An identity block answer with a revision digit, a version and whether the boot ROM runs.
BridgeIdentity Identity(char digit, FirmwareVersion version, bool bootRom = false) {
  return {{}, {}, bootRom, {}, static_cast<std::uint8_t>(digit), version};
}

struct EnclosureCase {
  const char* what;
  BridgeInfo info;
  std::optional<BridgeIdentity> identity;
  std::string chipText;
  std::optional<char> digit;
  std::optional<std::string> running;  ///< VersionWords, where firmware runs
};

TEST(FactsTest, AnEnclosureIsDescribedOnce) {
  const std::vector<EnclosureCase> cases{
      {"a JMS578 at the carried version, with its release", MakeBridgeInfo(kChipCodeJms578, 1),
       Identity('1', {0, 2, 1, 4}), "JMS578 (chip code 19, revision 1)", '1',
       "0.2.1.4, release 02.14"},
      {"a JMS583: identification's revision 0 beside the block's digit 1",
       MakeBridgeInfo(kChipCodeJms583, 0), Identity('1', {0, 0, 1, 2}),
       "JMS583 (chip code 22, revision 0)", '1', "0.0.1.2, release 234.01.00.02"},
      {"a JMS583 in its boot ROM", MakeBridgeInfo(kChipCodeJms583, 0),
       Identity('1', {0, 0, 0, 0}, true), "JMS583 (chip code 22, revision 0)", '1', std::nullopt},
      {"a chip not updated: its block's bytes are not taken for a version", MakeBridgeInfo(21, 1),
       Identity('1', {0, 1, 2, 0}), "580 (chip code 21, revision 1)", '1', std::nullopt},
      {"a JMS578 whose block was not read", MakeBridgeInfo(kChipCodeJms578, 1), std::nullopt,
       "JMS578 (chip code 19, revision 1)", std::nullopt, std::nullopt},
      {"no chip", 0, std::nullopt, "not recognised", std::nullopt, std::nullopt},
  };
  for (const EnclosureCase& row : cases) {
    SCOPED_TRACE(row.what);
    const EnclosureFacts facts =
        row.identity ? DescribeEnclosure(row.info, *row.identity) : DescribeEnclosure(row.info);
    EXPECT_EQ(ChipText(facts), row.chipText);
    EXPECT_EQ(facts.revisionDigit, row.digit);
    EXPECT_EQ(facts.running().has_value(), row.running.has_value());
    if (row.running) {
      EXPECT_EQ(VersionWords(facts), *row.running);
    }
    EXPECT_EQ(facts.bootRom, row.identity && row.identity->romMode);
  }
}

std::vector<std::uint8_t> Carried(std::string_view name) {
  const auto image = EmbeddedImages{}.Find(name, kFirmwareType);
  if (!image) return {};
  return {image->begin(), image->end()};
}

/// The carried JMS578 image with other version bytes in its header.
std::vector<std::uint8_t> Jms578Saying(std::string_view version) {
  std::vector<std::uint8_t> image = Carried("JMS578_FW");
  if (image.size() > kImageVersionAt + version.size()) {
    std::ranges::copy(version, image.begin() + kImageVersionAt);
  }
  return image;
}

struct FirmwareCase {
  const char* what;
  std::vector<std::uint8_t> image;
  const char* chip;  ///< nullptr: none of ours
  std::string words;
  std::optional<std::string> field;
};

TEST(FactsTest, AFirmwareFileIsDescribedAsTheBridgeWillReportIt) {
  const std::vector<FirmwareCase> cases{
      {"the carried JMS583 image", Carried("JMS583_V234_01_00_02"), "JMS583",
       "0.0.1.2, release 234.01.00.02", "0.0.1.2"},
      {"the carried JMS578 image: its digits as numbers", Carried("JMS578_FW"), "JMS578",
       "0.2.1.4, release 02.14", "0.2.1.4"},
      {"a JMS578 backup of 0.1.0.3", Jms578Saying("0103"), "JMS578", "0.1.0.3", "0.1.0.3"},
      {"a JMS578 file whose version is no digits", Jms578Saying("\"\n\x01Z"), "JMS578", "unknown",
       std::nullopt},
      {"a file of no chip of ours", std::vector<std::uint8_t>(600, 0x41), nullptr, "unknown",
       std::nullopt},
  };
  for (const FirmwareCase& row : cases) {
    SCOPED_TRACE(row.what);
    ASSERT_FALSE(row.image.empty());
    const FirmwareFacts facts = DescribeFirmware(row.image);
    EXPECT_EQ(facts.chip == nullptr ? "" : std::string(facts.chip->chipName),
              row.chip == nullptr ? "" : row.chip);
    EXPECT_EQ(VersionWords(facts), row.words);
    EXPECT_EQ(VersionField(facts), row.field);
    EXPECT_EQ(facts.size, row.image.size());
    EXPECT_EQ(facts.sha256.size(), 64U);
  }
}

}  // namespace
}  // namespace korvane
