// Whether a disk has a mounted file system: writing a bridge's firmware while the system uses the
// disk behind it is how enclosures get bricked, so an update asks first.
#pragma once

#include <cstdint>
#include <string>

namespace korvane {

/// What is known about the mounts of one disk.
struct MountState {
  enum class Kind : std::uint8_t {
    Free,     ///< nothing on the disk is mounted
    Mounted,  ///< detail names the mount point
    Unknown,  ///< it could not be told; detail says why
  };
  Kind kind = Kind::Free;
  std::string detail;
};

}  // namespace korvane
