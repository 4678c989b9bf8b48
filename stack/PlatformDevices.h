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
  /// Linux: each disk node stays open from its first command to the next listing of the disks,
  /// the hold or the replug, instead of being opened and closed around every command. For a
  /// program that runs one job and ends; a window keeps its open per command.
  bool keepNodesOpen = false;
};

/// The disks of this machine through its storage stack.
std::unique_ptr<Devices> PlatformDevices(const PlatformChoices& choices = {});

}  // namespace korvane
