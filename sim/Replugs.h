// The user's replug after an update, for scenarios that say their enclosure is unplugged and
// plugged in again once its firmware has been written.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "SimulatedBus.h"

namespace korvane::sim {

/// Plugs the bridge in again after its update, running what the disk's scenario says.
void ReplugAfterUpdate(SimulatedBridge& bridge, const DiskHost& host);

/// The replugs of a bus's disks, each at most once.
class Replugs {
 public:
  /// Unplugs, now, each disk that replugs and whose flash has been written; true when one was.
  bool UnplugWritten(SimulatedBus& bus, std::chrono::microseconds now);
  /// When the next unplugged disk comes back; nothing when none will.
  std::optional<std::chrono::microseconds> NextReturn() const;
  /// Plugs back the disks whose time has come by now, each running what its scenario says.
  void ReturnDue(SimulatedBus& bus, std::chrono::microseconds now);

 private:
  struct Away {
    std::string path;
    std::chrono::microseconds back;
  };
  std::vector<Away> away_;
  std::vector<std::string> replugged_;
};

}  // namespace korvane::sim
