#include "EmbeddedImages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ChipUpdate.h"
#include "ImageLayout.h"
#include "NvramTemplate.h"
#include "Sha256.h"

namespace korvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes joined;
  for (const Bytes& part : parts) joined.insert(joined.end(), part.begin(), part.end());
  return joined;
}

Bytes Slice(std::span<const std::uint8_t> image, std::size_t at, std::size_t count) {
  const std::span<const std::uint8_t> part = image.subspan(at, count);
  return Bytes(part.begin(), part.end());
}

Bytes Zeros(std::size_t count) { return Bytes(count, 0); }

std::span<const std::uint8_t> MustFind(std::string_view name, std::string_view type) {
  const std::optional<std::span<const std::uint8_t>> image = EmbeddedImages{}.Find(name, type);
  EXPECT_TRUE(image.has_value()) << name << " in " << type;
  return image.value_or(std::span<const std::uint8_t>{});
}

/// A firmware image as the layout table gives it; the literal bytes are the table's own.
struct FirmwareCase {
  const char* name;
  std::size_t size;
  std::size_t area;
  Bytes chipNumber;
  const char* model;
  Bytes version;
  bool jms578;
  std::uint16_t usbProduct;
  const char* product;
};

const FirmwareCase kFirmwareCases[] = {
    {"JMS578_FW",
     50688,
     50176,
     {0x05, 0x79},
     "JMicron JMS579",
     Text("0214"),
     true,
     0x0578,
     "USB to ATA/ATAPI Bridge"},
    {"JMS583_V234_01_00_02",
     67072,
     66560,
     {0x05, 0x83},
     "JMicron JMS583",
     {0x00, 0x00, 0x01, 0x02},
     false,
     0x0583,
     "USB to PCIE Bridge"},
    {"JMS583_FW",
     67072,
     66560,
     {0x05, 0x83},
     "JMicron JMS583",
     {0x00, 0x00, 0x00, 0x08},
     false,
     0x0583,
     "USB to PCIE Bridge"},
};

class EmbeddedImagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!EmbeddedImages{}.development())
      GTEST_SKIP() << "vendor images: the build judged them with the image check";
  }
};

TEST(EmbeddedImagesDevelopmentTest, SaysWhetherTheBuildGeneratedItsImages) {
  EXPECT_EQ(EmbeddedImages{}.development(), KORVANE_DEVELOPMENT_IMAGES == 1);
#if KORVANE_DEVELOPMENT_IMAGES
  EXPECT_TRUE(EmbeddedImages{}.development());
#endif
}

TEST_F(EmbeddedImagesTest, FirmwareImagesHaveTheLayout) {
  for (const FirmwareCase& c : kFirmwareCases) {
    SCOPED_TRACE(c.name);
    const std::span<const std::uint8_t> image = MustFind(c.name, "FW");
    ASSERT_EQ(image.size(), c.size);
    const std::size_t f = c.area;
    const Bytes header =
        Join({{0x01, 0x00, 0x15, 0x2D}, c.chipNumber, {0x03, 0x03, 0x05, 0x05}, Text(c.model)});
    EXPECT_EQ(Slice(image, 0x000, 0x018), header);
    EXPECT_EQ(Slice(image, 0x018, 5), Join({{0x01}, c.version}));
    EXPECT_EQ(Slice(image, 0x01D, 0x1FC - 0x01D), Zeros(0x1FC - 0x01D));
    EXPECT_EQ(Slice(image, 0x200, 8), Bytes({0x5A, 0xC3, 0x69, 0xE1, 0, 0, 0, 0}));
    const Bytes areaCheck = Slice(image, f - 4, 4);
    EXPECT_EQ(Slice(image, 0x208, 8),
              c.jms578 ? Join({areaCheck, Zeros(4)}) : Join({c.version, areaCheck}));
    EXPECT_EQ(Slice(image, 0x210, 0x3FC - 0x210), Zeros(0x3FC - 0x210));
    EXPECT_EQ(Slice(image, f - 0x14, 4), c.version);
    EXPECT_EQ(Slice(image, f - 0x10, 8),
              c.jms578 ? Bytes({0x55, 0xAA, 0xAA, 0x55, '5', '7', '8', '0'}) : Zeros(8));
    EXPECT_TRUE(CarriesDevelopmentMarker(image.subspan(0x400, f - 0x14 - 0x400)));
    EXPECT_FALSE(CarriesDevelopmentMarker(image.subspan(f)));
  }
}

TEST_F(EmbeddedImagesTest, FirmwareImagesEndWithTheChipsNvramTemplate) {
  for (const FirmwareCase& c : kFirmwareCases) {
    SCOPED_TRACE(c.name);
    const std::span<const std::uint8_t> image = MustFind(c.name, "FW");
    ASSERT_EQ(image.size(), c.area + 512);
    const sim::NvramRecord expected = sim::NvramTemplate(
        {0x152D, c.usbProduct, "JMicron", c.product, "0123456789ABCDEF", "JMicron ", "Generic"});
    EXPECT_EQ(Slice(image, c.area, 512), Bytes(expected.begin(), expected.end()));
  }
}

TEST_F(EmbeddedImagesTest, LoaderImageHasTheLayout) {
  const std::span<const std::uint8_t> image = MustFind("JMS583_ROM_MFG", "MFG");
  ASSERT_EQ(image.size(), 65536u);
  const Bytes header = Join({{0x01, 0x00, 0x15, 0x2D, 0x05, 0x83, 0x04, 0x04, 0x06, 0x06},
                             Text("JMicron JMS583"),
                             {0x01},
                             Text("0334")});
  EXPECT_EQ(Slice(image, 0x000, 0x01D), header);
  EXPECT_EQ(Slice(image, 0x01D, 0x1F8 - 0x01D), Zeros(0x1F8 - 0x01D));
  // The second block holds nothing but its check value: no signature.
  EXPECT_EQ(Slice(image, 0x200, 0x1FC), Zeros(0x1FC));
  EXPECT_EQ(Slice(image, 0xFFEC, 4), Text("0334"));
  EXPECT_EQ(Slice(image, 0xFFF0, 8), Zeros(8));
  EXPECT_TRUE(CarriesDevelopmentMarker(image.subspan(0x400, 0xFFEC - 0x400)));
}

TEST(EmbeddedImagesFindTest, FindsEachImageByExactNameAndType) {
  const struct {
    const char* name;
    const char* type;
    std::size_t size;
  } carried[] = {
      {"JMS578_FW", "FW", 50688},
      {"JMS583_V234_01_00_02", "FW", 67072},
      {"JMS583_FW", "FW", 67072},
      {"JMS583_ROM_MFG", "MFG", 65536},
  };
  for (const auto& c : carried) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MustFind(c.name, c.type).size(), c.size);
  }
}

/// The build's image list and the program's tables are read from the same catalogue rows: every
/// carried row is built in at its size and every named one is not, so a row the build's reader
/// skipped shows here.
TEST(EmbeddedImagesFindTest, CarriesExactlyTheCatalogueRowsMarkedCarried) {
  for (const CatalogueImage& row : kCatalogueImages) {
    SCOPED_TRACE(row.name);
    const auto found = EmbeddedImages{}.Find(row.name, row.type);
    ASSERT_EQ(found.has_value(), row.carried);
    // The digest the build computed names exactly the bytes built in, and only carried ones.
    const auto digest = EmbeddedImages{}.Digest(row.name, row.type);
    ASSERT_EQ(digest.has_value(), row.carried);
    if (found) {
      EXPECT_EQ(found->size(), row.size);
      EXPECT_EQ(*digest, Sha256Hex(*found));
    }
  }
}

/// Each chip the update serves offers a carried firmware image that is its firmware area and the
/// NVRAM template, and names a loader of its chip for either loader variant.
TEST(EmbeddedImagesFindTest, EveryChipOffersACarriedImageOfItsArea) {
  for (const ChipUpdate& chip : kChipUpdates) {
    SCOPED_TRACE(chip.chipName);
    EXPECT_EQ(chip.firmwareImageSize, chip.firmwareArea + kNvramTemplateSize);
    EXPECT_EQ(MustFind(chip.firmwareImage, kFirmwareType).size(), chip.firmwareImageSize);
    EXPECT_FALSE(chip.offeredVersion.empty());
    EXPECT_FALSE(chip.loader.name.empty());
    EXPECT_FALSE(chip.otherLoader.name.empty());
  }
}

TEST(EmbeddedImagesFindTest, FindsNothingElse) {
  const struct {
    std::string_view name;
    std::string_view type;
  } absent[] = {
      {"JMS579_ROM0_MFG", "FW"},
      {"JMS577_ROM0_MFG", "FW"},
      {"JMS578_FW", "MFG"},
      {"JMS583_ROM_MFG", "FW"},
      {"JMS583_V234_01_00_02", "MFG"},
      {"JMS578", "FW"},
      {"JMS578_FW_", "FW"},
      {std::string_view("JMS578_FW\0X", 11), "FW"},
      {"JMS578_FW", std::string_view("FW\0", 3)},
      {"", "FW"},
  };
  for (const auto& c : absent) {
    SCOPED_TRACE(std::string(c.name) + " in " + std::string(c.type));
    EXPECT_FALSE(EmbeddedImages{}.Find(c.name, c.type).has_value());
  }
}

TEST(EmbeddedImagesFindTest, FirmwareLoadsIntoTheZeroFilledBufferFollowedByZeros) {
  std::vector<std::uint8_t> buffer(512 * 1024, 0);
  const EmbeddedImages images;
  ASSERT_EQ(LoadImageResource(images, "JMS583_V234_01_00_02", "FW", buffer), 67072u);
  const std::span<const std::uint8_t> image = MustFind("JMS583_V234_01_00_02", "FW");
  EXPECT_TRUE(std::equal(image.begin(), image.end(), buffer.begin()));
  EXPECT_TRUE(std::all_of(buffer.begin() + 67072, buffer.end(), [](auto b) { return b == 0; }));
}

}  // namespace
}  // namespace korvane
