#include "Replugs.h"

#include <algorithm>

namespace korvane::sim {

void ReplugAfterUpdate(SimulatedBridge& bridge, const DiskHost& host) {
  bridge.Replug();
  switch (host.replugInto) {
    case ReplugInto::Flash:
      return;
    case ReplugInto::BootRom:
      bridge.RunInstead(std::nullopt);
      return;
    case ReplugInto::Version:
      bridge.RunInstead(host.replugVersion);
      return;
  }
}

bool Replugs::UnplugWritten(SimulatedBus& bus, std::chrono::microseconds now) {
  bool unplugged = false;
  for (const std::string& path : bus.Paths()) {
    const DiskHost* host = bus.Host(path);
    SimulatedBridge* bridge = bus.Find(path);
    if (host == nullptr || bridge == nullptr || !host->replugAfter || !bridge->flashWritten() ||
        std::ranges::find(replugged_, path) != replugged_.end()) {
      continue;
    }
    bridge->Unplug();
    replugged_.push_back(path);
    away_.push_back({path, now + *host->replugAfter});
    unplugged = true;
  }
  return unplugged;
}

std::optional<std::chrono::microseconds> Replugs::NextReturn() const {
  if (away_.empty()) return std::nullopt;
  return std::ranges::min(away_, {}, &Away::back).back;
}

void Replugs::ReturnDue(SimulatedBus& bus, std::chrono::microseconds now) {
  std::erase_if(away_, [&bus, now](const Away& away) {
    if (away.back > now) return false;
    SimulatedBridge* bridge = bus.Find(away.path);
    const DiskHost* host = bus.Host(away.path);
    if (bridge != nullptr && host != nullptr) ReplugAfterUpdate(*bridge, *host);
    return true;
  });
}

}  // namespace korvane::sim
