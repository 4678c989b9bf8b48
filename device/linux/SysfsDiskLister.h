// The Linux disk lister: SCSI disks from sysfs, marked by the driver of the bus they hang on.
#pragma once

#include <filesystem>
#include <vector>

#include "Discovery.h"

namespace korvane {

/// Lists the sd disks under a sysfs tree; only usb-storage, uas and sbp2 disks carry marks.
class SysfsDiskLister final : public DiskLister {
 public:
  /// Reads sysfs below sysRoot; tests point it at a fixture tree.
  explicit SysfsDiskLister(std::filesystem::path sysRoot = "/sys");

  /// The sd disks in kernel name order; disks whose bus cannot be told are listed unmarked.
  std::vector<DiskInterface> ListDisks() override;

 private:
  std::filesystem::path sysRoot_;
};

}  // namespace korvane
