#include "ImageCheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "EmbeddedImages.h"
#include "ImageSource.h"

namespace korvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

/// Bytes written over an image at an offset.
struct Damage {
  std::size_t at;
  Bytes bytes;
};

Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }

const ChipUpdate& Chip(std::string_view name) {
  const auto found = std::ranges::find(kChipUpdates, name, &ChipUpdate::chipName);
  EXPECT_NE(found, kChipUpdates.end()) << name;
  return found != kChipUpdates.end() ? *found : kChipUpdates.front();
}

Bytes Carried(std::string_view name, std::string_view type) {
  const std::optional<std::span<const std::uint8_t>> image = EmbeddedImages{}.Find(name, type);
  EXPECT_TRUE(image.has_value()) << name;
  if (!image) return {};
  return Bytes(image->begin(), image->end());
}

/// A carried image with each damage written over it and then cut or grown to size (0: as it is).
Bytes Damaged(std::string_view name, std::string_view type, const std::vector<Damage>& damages,
              std::size_t size = 0) {
  Bytes image = Carried(name, type);
  for (const Damage& damage : damages) {
    if (damage.at + damage.bytes.size() > image.size()) {
      ADD_FAILURE() << "damage at " << damage.at << " runs past " << name;
      continue;
    }
    std::ranges::copy(damage.bytes, image.begin() + static_cast<std::ptrdiff_t>(damage.at));
  }
  if (size != 0) image.resize(size, 0);
  return image;
}

// The development images' versions: 00 00 01 02 in the offered JMS583 firmware, "0214" in the
// JMS578 one. A JMS583 firmware area is 0x10400 bytes, a JMS578 one 0xC400.
constexpr std::size_t kJms583Tail = 0x10400 - 0x14;
constexpr std::size_t kJms578Tail = 0xC400 - 0x14;
constexpr std::size_t kJms578Trailer = 0xC400 - 0x10;
const Bytes kOtherVersion{0x58, 0x58, 0x58, 0x58};

constexpr const char* k578 = "JMS578_FW";
constexpr const char* k583 = "JMS583_V234_01_00_02";
constexpr const char* kEarlier583 = "JMS583_FW";
constexpr const char* kLoader583 = "JMS583_ROM_MFG";

class ImageCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!EmbeddedImages{}.development())
      GTEST_SKIP() << "the damaged copies' messages name the development images' versions";
  }
};

TEST(ImageCheckCarriedTest, EveryCarriedImagePassesItsCheck) {
  for (const CatalogueImage& row : kCatalogueImages) {
    if (!row.carried) continue;
    SCOPED_TRACE(row.name);
    const ChipUpdate& chip = Chip(row.chip);
    const Bytes image = Carried(row.name, row.type);
    const bool firmware = row.use == ImageUse::Offered || row.use == ImageUse::Earlier;
    if (firmware) {
      EXPECT_EQ(FirmwareImageProblem(chip, image), std::nullopt);
      EXPECT_EQ(FirmwareImageProblem(chip, image, ImageJudgement::Backup), std::nullopt);
      EXPECT_NE(LoaderImageProblem(chip, image), std::nullopt);
    } else {
      EXPECT_EQ(LoaderImageProblem(chip, image), std::nullopt);
      EXPECT_NE(FirmwareImageProblem(chip, image), std::nullopt);
    }
  }
}

struct FirmwareCase {
  const char* what;
  const char* image;
  const char* chip;
  ImageJudgement judgement;
  std::vector<Damage> damages;
  std::size_t size;  ///< 0: as carried
  std::optional<std::string> problem;
};

TEST_F(ImageCheckTest, FirmwareImageProblemNamesTheFirstDamagedField) {
  constexpr ImageJudgement kWhole = ImageJudgement::Whole;
  constexpr ImageJudgement kBackup = ImageJudgement::Backup;
  // clang-format off
  const std::vector<FirmwareCase> cases = {
      {"one byte short", k583, "JMS583", kWhole, {}, 67071,
       "the image has 67071 bytes where a JMS583 firmware image has 67072"},
      {"one byte long", k583, "JMS583", kBackup, {}, 67073,
       "the image has 67073 bytes where a JMS583 firmware image has 67072"},
      {"the other chip's image", k578, "JMS583", kWhole, {}, 0,
       "the image has 50688 bytes where a JMS583 firmware image has 67072"},
      {"start", k583, "JMS583", kWhole, {{0x000, {0x00}}}, 0,
       "the start at 0x000 is 00 00 where an image has 01 00"},
      {"vendor id", k578, "JMS578", kWhole, {{0x003, {0x2C}}}, 0,
       "the USB vendor id at 0x002 is 15 2C where an image has 15 2D"},
      {"chip number of the JMS578", k583, "JMS583", kWhole, {{0x005, {0x79}}}, 0,
       "the chip number at 0x004 is 05 79: an image for a JMS578, not a JMS583"},
      {"chip number of the JMS583", k578, "JMS578", kBackup, {{0x005, {0x83}}}, 0,
       "the chip number at 0x004 is 05 83: an image for a JMS583, not a JMS578"},
      {"chip number of no chip of ours", kEarlier583, "JMS583", kWhole, {{0x004, {0x15}}}, 0,
       "the chip number at 0x004 is 15 83 where a JMS583 image has 05 83"},
      {"loader kind", kEarlier583, "JMS583", kWhole, {{0x006, {0x04, 0x04, 0x06, 0x06}}}, 0,
       "the kind at 0x006 is 04 04 06 06: a loader image, not a firmware image"},
      {"kind", k578, "JMS578", kWhole, {{0x009, {0x06}}}, 0,
       "the kind at 0x006 is 03 03 05 06 where a firmware image has 03 03 05 05"},
      {"model text", k583, "JMS583", kWhole, {{0x017, Text("9")}}, 0,
       "the model text at 0x00A is \"JMicron JMS589\" where a JMS583 image has \"JMicron JMS583\""},
      {"model text of the JMS578", k578, "JMS578", kWhole, {{0x017, Text("8")}}, 0,
       "the model text at 0x00A is \"JMicron JMS578\" where a JMS578 image has \"JMicron JMS579\""},
      {"model text with a control byte", kEarlier583, "JMS583", kWhole, {{0x00A, {0x1B}}}, 0,
       "the model text at 0x00A is \"\\x1bMicron JMS583\" where a JMS583 image has "
       "\"JMicron JMS583\""},
      {"byte 01", k583, "JMS583", kWhole, {{0x018, {0x00}}}, 0,
       "the byte at 0x018 is 00 where an image has 01"},
      {"signature", k583, "JMS583", kWhole, {{0x201, {0x00}}}, 0,
       "the signature at 0x200 is 5A 00 69 E1 where a firmware image has 5A C3 69 E1"},
      {"signature in a backup", k583, "JMS583", kBackup, {{0x201, {0x00}}}, 0,
       "the signature at 0x200 is 5A 00 69 E1 where a firmware image has 5A C3 69 E1"},
      {"version copy in the second block", k583, "JMS583", kWhole, {{0x208, kOtherVersion}}, 0,
       "the version copies disagree: 58 58 58 58 at 0x208, 00 00 01 02 at 0x019"},
      {"version copy in a backup's second block", k583, "JMS583", kBackup,
       {{0x208, kOtherVersion}}, 0,
       "the version copies disagree: 58 58 58 58 at 0x208, 00 00 01 02 at 0x019"},
      {"JMS578 second block, not judged", k578, "JMS578", kWhole,
       {{0x208, kOtherVersion}, {0x3FC, {0x00}}}, 0, std::nullopt},
      {"version at the area's end", k583, "JMS583", kWhole, {{kJms583Tail, kOtherVersion}}, 0,
       "the version copies disagree: 58 58 58 58 at 0x103EC, 00 00 01 02 at 0x019"},
      {"version at a backup's area end", kEarlier583, "JMS583", kBackup,
       {{kJms583Tail, kOtherVersion}}, 0,
       "the version copies disagree: 58 58 58 58 at 0x103EC, 00 00 00 08 at 0x019"},
      {"JMS578 version at the area's end", k578, "JMS578", kWhole, {{kJms578Tail + 3, Text("5")}},
       0, "the version copies disagree: 30 32 31 35 at 0xC3EC, 30 32 31 34 at 0x019"},
      {"header version: the copy at 0x208 disagrees first", k583, "JMS583", kWhole,
       {{0x019, kOtherVersion}}, 0,
       "the version copies disagree: 00 00 01 02 at 0x208, 58 58 58 58 at 0x019"},
      {"header version in a backup", k583, "JMS583", kBackup, {{0x019, kOtherVersion}}, 0,
       "the version copies disagree: 00 00 01 02 at 0x208, 58 58 58 58 at 0x019"},
      {"JMS578 trailer", k578, "JMS578", kWhole, {{kJms578Trailer + 7, Text("1")}}, 0,
       "the trailer at 0xC3F0 is 55 AA AA 55 35 37 38 31 where a JMS578 image has "
       "55 AA AA 55 35 37 38 30"},
      {"JMS578 trailer in a backup", k578, "JMS578", kBackup, {{kJms578Trailer, {0x00}}}, 0,
       "the trailer at 0xC3F0 is 00 AA AA 55 35 37 38 30 where a JMS578 image has "
       "55 AA AA 55 35 37 38 30"},
      {"JMS583 has no trailer", kEarlier583, "JMS583", kWhole, {{0x10400 - 0x10, {0x55}}}, 0,
       std::nullopt},
      {"the first problem wins", k583, "JMS583", kWhole,
       {{0x201, {0x00}}, {0x018, {0x00}}, {0x005, {0x79}}}, 0,
       "the chip number at 0x004 is 05 79: an image for a JMS578, not a JMS583"},
      {"check value, code and NVRAM template are not judged", k583, "JMS583", kWhole,
       {{0x1FC, {0x00, 0x00}}, {0x4000, {0x00}}, {0x10400, {0xFF}}, {0x105FF, {0xFF}}}, 0,
       std::nullopt},
  };
  // clang-format on

  for (const FirmwareCase& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes image = Damaged(c.image, kFirmwareType, c.damages, c.size);
    EXPECT_EQ(FirmwareImageProblem(Chip(c.chip), image, c.judgement), c.problem);
  }
}

// Of the second block a bridge rewrites only its stamp at 0x204-0x207; a backup whose block
// lost its signature would leave the bridge in its boot ROM, and is refused like a file.
TEST_F(ImageCheckTest, BackupIsJudgedLikeAFileWhereTheBridgeLeavesTheSecondBlockAlone) {
  const Bytes stamp{0x4B, 0x53, 0x00, 0x02};
  for (const char* name : {"JMS578_FW", "JMS583_V234_01_00_02"}) {
    SCOPED_TRACE(name);
    const ChipUpdate& chip = *ChipOfImage(Carried(name, kFirmwareType));
    const Bytes stamped = Damaged(name, kFirmwareType, {{0x204, stamp}});
    const Bytes blank = Damaged(name, kFirmwareType, {{512, Bytes(512, 0x00)}});
    for (const ImageJudgement judgement : {ImageJudgement::Backup, ImageJudgement::Whole}) {
      EXPECT_EQ(FirmwareImageProblem(chip, stamped, judgement), std::nullopt);
      EXPECT_EQ(FirmwareImageProblem(chip, blank, judgement),
                "the signature at 0x200 is 00 00 00 00 where a firmware image has 5A C3 69 E1");
    }
  }
}

struct LoaderCase {
  const char* what;
  const char* image;
  const char* type;
  std::vector<Damage> damages;
  std::size_t size;
  std::optional<std::string> problem;
};

TEST_F(ImageCheckTest, LoaderImageProblemNamesTheFirstDamagedField) {
  // clang-format off
  const std::vector<LoaderCase> cases = {
      {"one byte long", kLoader583, "MFG", {}, 65537,
       "the image has 65537 bytes where a JMS583 loader image has 65536"},
      {"a firmware image", kEarlier583, "FW", {}, 0,
       "the image has 67072 bytes where a JMS583 loader image has 65536"},
      {"firmware kind", kLoader583, "MFG", {{0x006, {0x03, 0x03, 0x05, 0x05}}}, 0,
       "the kind at 0x006 is 03 03 05 05: a firmware image, not a loader image"},
      {"kind", kLoader583, "MFG", {{0x007, {0x00}}}, 0,
       "the kind at 0x006 is 04 00 06 06 where a loader image has 04 04 06 06"},
      {"chip number", kLoader583, "MFG", {{0x005, {0x79}}}, 0,
       "the chip number at 0x004 is 05 79: an image for a JMS578, not a JMS583"},
      {"model text", kLoader583, "MFG", {{0x00A, Text("j")}}, 0,
       "the model text at 0x00A is \"jMicron JMS583\" where a JMS583 image has \"JMicron JMS583\""},
      {"byte 01", kLoader583, "MFG", {{0x018, {0x02}}}, 0,
       "the byte at 0x018 is 02 where an image has 01"},
      {"a signature is not judged", kLoader583, "MFG", {{0x200, {0x5A, 0xC3, 0x69, 0xE1}}}, 0,
       std::nullopt},
  };
  // clang-format on

  for (const LoaderCase& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes image = Damaged(c.image, c.type, c.damages, c.size);
    EXPECT_EQ(LoaderImageProblem(Chip("JMS583"), image), c.problem);
  }
}

TEST(ImageCheckSizeTest, SizeProblemsNameBothSizesBeforeAnythingIsRead) {
  const struct {
    const char* chip;
    bool loader;
    std::uintmax_t size;
    std::optional<std::string> problem;
  } cases[] = {
      {"JMS578", false, 50688, std::nullopt},
      {"JMS578", false, 0, "the image has 0 bytes where a JMS578 firmware image has 50688"},
      {"JMS578", true, 50176, std::nullopt},
      {"JMS583", true, 65535, "the image has 65535 bytes where a JMS583 loader image has 65536"},
      {"JMS583", false, 0x100000000ull,
       "the image has 4294967296 bytes where a JMS583 firmware image has 67072"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.chip) + " " + std::to_string(c.size));
    const ChipUpdate& chip = Chip(c.chip);
    EXPECT_EQ(
        c.loader ? LoaderImageSizeProblem(chip, c.size) : FirmwareImageSizeProblem(chip, c.size),
        c.problem);
  }
}

TEST(ImageCheckHeaderTest, ChipAndVersionComeFromTheHeader) {
  Bytes jms583(0x1D, 0);
  std::ranges::copy(Bytes{0x01, 0x00, 0x15, 0x2D, 0x05, 0x83}, jms583.begin());
  std::ranges::copy(Bytes{0x00, 0x00, 0x01, 0x02}, jms583.begin() + 0x19);
  Bytes jms578 = jms583;
  jms578[5] = 0x79;
  Bytes foreign = jms583;
  foreign[4] = 0x06;
  const struct {
    const char* what;
    Bytes image;
    const char* chip;  ///< nullptr: none of ours
    std::optional<Bytes> version;
  } cases[] = {
      {"JMS583", jms583, "JMS583", Bytes{0x00, 0x00, 0x01, 0x02}},
      {"JMS578", jms578, "JMS578", Bytes{0x00, 0x00, 0x01, 0x02}},
      {"no chip of ours", foreign, nullptr, Bytes{0x00, 0x00, 0x01, 0x02}},
      {"one byte short of the version", Bytes(jms583.begin(), jms583.end() - 1), "JMS583",
       std::nullopt},
      {"one byte short of the header", Bytes(jms583.begin(), jms583.begin() + 9), nullptr,
       std::nullopt},
      {"empty", Bytes{}, nullptr, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ChipUpdate* chip = ChipOfImage(c.image);
    EXPECT_EQ(chip == nullptr ? std::string_view("none") : chip->chipName,
              c.chip == nullptr ? std::string_view("none") : std::string_view(c.chip));
    const auto version = ImageVersion(c.image);
    EXPECT_EQ(version.has_value(), c.version.has_value());
    if (version && c.version) {
      EXPECT_TRUE(std::ranges::equal(*version, *c.version));
    }
  }
}

}  // namespace
}  // namespace korvane
