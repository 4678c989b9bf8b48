// The disk behind the bridge: 4 MiB in memory, partitioned and formatted at start so that the
// guest can mount it; writes stay in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace korvane::gadget {

/// Size of one block of the medium.
inline constexpr std::size_t kMediumBlockSize = 512;
/// Blocks of the medium: 4 MiB.
inline constexpr std::uint64_t kMediumBlocks = 8192;
/// First block of the one partition.
inline constexpr std::uint32_t kPartitionStart = 2048;

/// A block store with an MBR and one FAT12 partition labelled "KORVANE".
class Medium {
 public:
  Medium();

  /// Number of blocks.
  std::uint64_t blocks() const { return kMediumBlocks; }
  /// True when [lba, lba + count) lies on the medium.
  bool Holds(std::uint64_t lba, std::uint64_t count) const;
  /// The bytes of count blocks from lba; the range must be held.
  std::span<const std::uint8_t> Read(std::uint64_t lba, std::uint64_t count) const;
  /// Stores whole blocks from lba; the range must be held.
  void Write(std::uint64_t lba, std::span<const std::uint8_t> bytes);

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace korvane::gadget
