#include "Medium.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "ByteOrder.h"

namespace korvane::gadget {
namespace {

constexpr std::uint32_t kPartitionBlocks = kMediumBlocks - kPartitionStart;
constexpr std::uint8_t kPartitionTypeFat12 = 0x01;
constexpr std::uint8_t kMediaFixed = 0xF8;

// FAT12 layout: 2 KiB clusters keep the cluster count (about 1,500) well under FAT16's 4,085,
// which is how the kernel tells FAT12 apart.
constexpr std::uint8_t kSectorsPerCluster = 4;
constexpr std::uint16_t kReservedSectors = 1;
constexpr std::uint8_t kFatCount = 2;
constexpr std::uint16_t kRootEntries = 512;
constexpr std::uint16_t kSectorsPerFat = 5;
constexpr std::size_t kRootSectors = kRootEntries * 32 / kMediumBlockSize;
constexpr std::size_t kDataSectors =
    kPartitionBlocks - kReservedSectors - kFatCount * kSectorsPerFat - kRootSectors;
constexpr std::size_t kClusters = kDataSectors / kSectorsPerCluster;
static_assert(kClusters < 4085, "the kernel would take the file system for FAT16");
static_assert((kClusters + 2) * 3 / 2 <= kSectorsPerFat * kMediumBlockSize, "FAT too small");

constexpr std::string_view kLabel = "KORVANE    ";  // 11 characters, blank-padded

void PutLe16(std::span<std::uint8_t> at, std::uint32_t value) { put_le16(at.first<2>(), value); }

void PutLe32(std::span<std::uint8_t> at, std::uint32_t value) { put_le32(at.first<4>(), value); }

void PutText(std::span<std::uint8_t> at, std::string_view text) {
  std::ranges::copy(text, at.begin());
}

void PutBootSignature(std::span<std::uint8_t> sector) {
  sector[510] = 0x55;
  sector[511] = 0xAA;
}

void WriteMbr(std::span<std::uint8_t> sector) {
  PutLe32(sector.subspan(440), 0x4B52564E);  // disk signature
  const std::span<std::uint8_t> entry = sector.subspan(446, 16);
  // CHS fields say "use the LBA fields", as for any disk past CHS addressing.
  entry[1] = 0xFE;
  entry[2] = 0xFF;
  entry[3] = 0xFF;
  entry[4] = kPartitionTypeFat12;
  entry[5] = 0xFE;
  entry[6] = 0xFF;
  entry[7] = 0xFF;
  PutLe32(entry.subspan(8), kPartitionStart);
  PutLe32(entry.subspan(12), kPartitionBlocks);
  PutBootSignature(sector);
}

void WriteBootSector(std::span<std::uint8_t> sector) {
  constexpr std::array<std::uint8_t, 3> kJump{0xEB, 0x3C, 0x90};
  std::ranges::copy(kJump, sector.begin());
  PutText(sector.subspan(3), "KORVANE ");
  PutLe16(sector.subspan(11), kMediumBlockSize);
  sector[13] = kSectorsPerCluster;
  PutLe16(sector.subspan(14), kReservedSectors);
  sector[16] = kFatCount;
  PutLe16(sector.subspan(17), kRootEntries);
  PutLe16(sector.subspan(19), kPartitionBlocks);
  sector[21] = kMediaFixed;
  PutLe16(sector.subspan(22), kSectorsPerFat);
  PutLe16(sector.subspan(24), 32);  // sectors per track
  PutLe16(sector.subspan(26), 64);  // heads
  PutLe32(sector.subspan(28), kPartitionStart);
  sector[36] = 0x80;  // drive number
  sector[38] = 0x29;  // extended boot signature: the next three fields are valid
  PutLe32(sector.subspan(39), 0x20261207);
  PutText(sector.subspan(43), kLabel);
  PutText(sector.subspan(54), "FAT12   ");
  PutBootSignature(sector);
}

void WriteFat(std::span<std::uint8_t> fat) {
  // Clusters 0 and 1 hold the media byte and an end-of-chain mark; everything else is free.
  fat[0] = kMediaFixed;
  fat[1] = 0xFF;
  fat[2] = 0xFF;
}

void WriteRootDirectory(std::span<std::uint8_t> root) {
  PutText(root, kLabel);
  root[11] = 0x08;  // the volume label entry
}

}  // namespace

Medium::Medium() : bytes_(kMediumBlocks * kMediumBlockSize, 0) {
  const std::span<std::uint8_t> disk(bytes_);
  WriteMbr(disk.first(kMediumBlockSize));
  const std::span<std::uint8_t> volume = disk.subspan(kPartitionStart * kMediumBlockSize);
  WriteBootSector(volume.first(kMediumBlockSize));
  const std::size_t fatBytes = kSectorsPerFat * kMediumBlockSize;
  for (std::size_t copy = 0; copy < kFatCount; ++copy) {
    WriteFat(volume.subspan((kReservedSectors * kMediumBlockSize) + copy * fatBytes, fatBytes));
  }
  const std::size_t rootAt = (kReservedSectors + kFatCount * kSectorsPerFat) * kMediumBlockSize;
  WriteRootDirectory(volume.subspan(rootAt, kRootSectors * kMediumBlockSize));
}

bool Medium::Holds(std::uint64_t lba, std::uint64_t count) const {
  return lba <= kMediumBlocks && count <= kMediumBlocks - lba;
}

std::span<const std::uint8_t> Medium::Read(std::uint64_t lba, std::uint64_t count) const {
  return std::span(bytes_).subspan(lba * kMediumBlockSize, count * kMediumBlockSize);
}

void Medium::Write(std::uint64_t lba, std::span<const std::uint8_t> bytes) {
  std::ranges::copy(bytes, bytes_.begin() + static_cast<std::ptrdiff_t>(lba * kMediumBlockSize));
}

}  // namespace korvane::gadget
