// The Windows disk lister: the present disk interfaces, as SetupAPI enumerates them.
#pragma once

#include <vector>

#include "Discovery.h"
#include "SetupApi.h"

namespace korvane {

/// The disk interface class {53F56307-B6BF-11D0-94F2-00A0C91EFB8B}, held here so the lister
/// depends on neither uuid.lib nor initguid.h ordering.
inline constexpr GUID kGuidDevInterfaceDisk = {
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

/// Lists the present disk interfaces with their paths and the marks those paths carry.
class SetupApiDiskLister final : public DiskLister {
 public:
  explicit SetupApiDiskLister(SetupApi& api) : api_(api) {}

  std::vector<DiskInterface> ListDisks() override;

 private:
  void Walk(HDEVINFO set, PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
            std::vector<DiskInterface>& disks);

  SetupApi& api_;
};

}  // namespace korvane
