// Holding a disk on Linux: its whole block device is opened with O_EXCL for as long as the hold
// lives. The kernel then refuses every other exclusive claim on the disk and its partitions (a
// mount, swapon, a device-mapper, LVM or RAID volume), so nothing can start using the disk while
// its bridge is written.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "DiskHold.h"
#include "LinuxApi.h"

namespace korvane {

/// The block devices this process holds. A hold of /dev/sdX also counts as the port's exclusive
/// open of that node: a second O_EXCL open of a held disk fails even in the process that holds it.
class HeldNodes {
 public:
  bool Holds(std::string_view path) const;
  void Add(std::string path);
  void Remove(std::string_view path);

 private:
  std::vector<std::string> paths_;
};

/// Holds the whole block device behind an sg or sd node, found in a sysfs tree at sysRoot.
class BlockHolder final : public DiskHolder {
 public:
  BlockHolder(LinuxApi& api, std::filesystem::path sysRoot, HeldNodes& held)
      : api_(api), sysRoot_(std::move(sysRoot)), held_(held) {}

  /// Refuses a disk that something else has claimed. Where the block device cannot be opened
  /// for want of rights (the package's rule gives the user the sg node only), the hold holds
  /// nothing and its gaps() say so.
  std::variant<std::unique_ptr<DiskHold>, std::string> Hold(std::string_view path) override;

 private:
  LinuxApi& api_;
  std::filesystem::path sysRoot_;
  HeldNodes& held_;
};

/// Which block device is behind a device path.
struct BlockNodeLookup {
  std::string node;     ///< /dev/sdX; empty when no disk is behind the path
  std::string problem;  ///< why it could not be told; empty when it could
};

/// The whole block device behind /dev/sgN or /dev/sdX, from the sysfs tree at sysRoot.
BlockNodeLookup BlockNodeOf(std::string_view path, const std::filesystem::path& sysRoot);

}  // namespace korvane
