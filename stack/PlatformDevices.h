// This machine's disks, for the programs that update real enclosures.
#pragma once

#include <memory>

#include "Devices.h"

namespace korvane {

/// The disks of this machine through its storage stack.
std::unique_ptr<Devices> PlatformDevices();

}  // namespace korvane
