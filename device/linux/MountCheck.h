// Whether the disk behind an sg or sd node is in use by the system: its partitions, the disk
// itself, or a volume stacked on them (device mapper, LVM, RAID) mounted or used as swap.
#pragma once

#include <filesystem>
#include <string_view>

#include "MountState.h"

namespace korvane {

/// The mounts of the disk behind devicePath (/dev/sgN or /dev/sdX), read from a sysfs tree at
/// sysRoot, the text of a mountinfo file and, when given, the text of /proc/swaps.
MountState CheckMounts(std::string_view devicePath, const std::filesystem::path& sysRoot,
                       std::string_view mountinfo, std::string_view swaps = {});

/// CheckMounts over /sys, /proc/self/mountinfo and /proc/swaps.
MountState CheckSystemMounts(std::string_view devicePath);

}  // namespace korvane
