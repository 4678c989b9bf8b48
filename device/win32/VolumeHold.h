// Holding a disk on Windows: every volume with an extent on the disk is flushed, locked and
// dismounted, and its handle kept open for as long as the hold lives, which keeps the lock. A
// volume that cannot be locked because programs have files open on it stops the update, unless
// the caller asked to dismount such volumes anyway.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "Clock.h"
#include "DiskHold.h"
#include "VolumeApi.h"

namespace korvane {

/// Takes the volumes of a disk, found by its interface path, away from the system.
class VolumeHolder final : public DiskHolder {
 public:
  /// With forceDismount, a volume whose lock stays refused is dismounted without it: the files
  /// other programs have open on it become invalid, which the hold's gaps() then says.
  VolumeHolder(VolumeApi& api, Clock& clock, bool forceDismount = false)
      : api_(api), clock_(clock), forceDismount_(forceDismount) {}

  std::variant<std::unique_ptr<DiskHold>, std::string> Hold(std::string_view path) override;

 private:
  VolumeApi& api_;
  Clock& clock_;
  bool forceDismount_;
};

}  // namespace korvane
