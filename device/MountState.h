// Whether a disk has a mounted file system: writing a bridge's firmware while the system uses the
// disk behind it is how enclosures get bricked, so an update asks first.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korvane {

/// What is known about the mounts of one disk.
struct MountState {
  enum class Kind : std::uint8_t {
    Free,     ///< nothing on the disk is mounted
    Mounted,  ///< detail names the mount point
    Swap,     ///< detail names the swap device on the disk
    Stacked,  ///< detail names the volume built on the disk, and what it sits on
    Unknown,  ///< it could not be told; detail says why
  };
  Kind kind = Kind::Free;
  std::string detail;
};

/// Tells what is mounted from the disk behind a device path.
class MountCheck {
 public:
  virtual ~MountCheck() = default;
  /// Whether a file system on the disk behind path is in use.
  virtual MountState CheckMounts(std::string_view path) = 0;
};

}  // namespace korvane
