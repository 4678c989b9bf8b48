#include "Medium.h"

#include <gtest/gtest.h>

#include <vector>

namespace korvane::gadget {
namespace {

std::uint32_t Le16(std::span<const std::uint8_t> at) { return at[0] | at[1] << 8; }
std::uint32_t Le32(std::span<const std::uint8_t> at) {
  return Le16(at) | Le16(at.subspan(2)) << 16;
}

// Reads the volume the way the kernel's FAT driver decides what it is.
TEST(MediumTest, HoldsOneMountableFat12Partition) {
  const Medium medium;
  const auto mbr = medium.Read(0, 1);
  EXPECT_EQ(mbr[510], 0x55);
  EXPECT_EQ(mbr[511], 0xAA);
  EXPECT_EQ(mbr[446 + 4], 0x01);
  const std::uint32_t start = Le32(mbr.subspan(446 + 8));
  const std::uint32_t sectors = Le32(mbr.subspan(446 + 12));
  ASSERT_EQ(start, kPartitionStart);
  ASSERT_TRUE(medium.Holds(start, sectors));

  const auto boot = medium.Read(start, 1);
  EXPECT_EQ(boot[510], 0x55);
  EXPECT_EQ(boot[511], 0xAA);
  EXPECT_EQ(Le16(boot.subspan(11)), kMediumBlockSize);
  EXPECT_EQ(Le16(boot.subspan(19)), sectors);  // the volume fills the partition
  const std::uint32_t reserved = Le16(boot.subspan(14));
  const std::uint32_t fats = boot[16];
  const std::uint32_t rootSectors = Le16(boot.subspan(17)) * 32 / kMediumBlockSize;
  const std::uint32_t fatSectors = Le16(boot.subspan(22));
  const std::uint32_t clusters = (sectors - reserved - fats * fatSectors - rootSectors) / boot[13];
  EXPECT_LT(clusters, 4085u);  // FAT12 by the cluster count
  EXPECT_GE(fatSectors * kMediumBlockSize, (clusters + 2) * 3 / 2);

  for (std::uint32_t copy = 0; copy < fats; ++copy) {
    const auto fat = medium.Read(start + reserved + copy * fatSectors, 1);
    EXPECT_EQ(std::vector<std::uint8_t>(fat.begin(), fat.begin() + 4),
              (std::vector<std::uint8_t>{0xF8, 0xFF, 0xFF, 0x00}))
        << "copy " << copy;
  }
  const auto root = medium.Read(start + reserved + fats * fatSectors, 1);
  EXPECT_EQ(std::string(root.begin(), root.begin() + 11), "KORVANE    ");
  EXPECT_EQ(root[11], 0x08);
}

TEST(MediumTest, KeepsWritesAndRefusesRangesPastTheEnd) {
  Medium medium;
  const std::vector<std::uint8_t> blocks(2 * kMediumBlockSize, 0xA5);
  medium.Write(kMediumBlocks - 2, blocks);
  const auto back = medium.Read(kMediumBlocks - 2, 2);
  EXPECT_TRUE(std::equal(back.begin(), back.end(), blocks.begin(), blocks.end()));
  EXPECT_TRUE(medium.Holds(kMediumBlocks - 2, 2));
  EXPECT_FALSE(medium.Holds(kMediumBlocks - 2, 3));
  EXPECT_FALSE(medium.Holds(UINT64_MAX, 2));
}

}  // namespace
}  // namespace korvane::gadget
