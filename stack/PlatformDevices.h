// This machine's disks, for the programs that update real enclosures.
#pragma once

#include <memory>

#include "Devices.h"

namespace korvane {

/// What a program may choose about this machine's disks.
struct PlatformChoices {
  /// Windows: a volume of the disk whose lock stays refused is dismounted all the same, which
  /// invalidates the files other programs have open there. Only ever on an explicit request.
  bool forceDismount = false;
};

/// The disks of this machine through its storage stack.
std::unique_ptr<Devices> PlatformDevices(const PlatformChoices& choices = {});

}  // namespace korvane
