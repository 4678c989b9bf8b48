// What the device stack lends the engine, as one list.
#pragma once

#include "AccessWatch.h"
#include "Clock.h"
#include "Discovery.h"
#include "DiskHold.h"
#include "Enclosures.h"
#include "MountState.h"
#include "Transport.h"

namespace korvane {

/// What the device stack lends the engine: built once by the stack's builder and handed down to
/// every face's job, not copied field by field.
struct DeviceServices {
  Transport& io;
  DiskLister& lister;
  Clock& clock;
  /// What the device stack said its enclosures are; development images reach only simulated ones.
  Enclosures enclosures = Enclosures::Real;
  /// Asked before anything is written whether the disk is in use; none: not asked.
  MountCheck* mounts = nullptr;
  /// The port under io that notes refusals for want of rights; none: rights never explain.
  const AccessWatch* access = nullptr;
  /// Holds the disk for us from before the firmware is written until the NVRAM record is; none:
  /// the disk is not held.
  DiskHolder* holder = nullptr;
};

}  // namespace korvane
