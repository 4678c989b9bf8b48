// What a command talks to: the real disks of this machine or a simulated bus.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "Clock.h"
#include "Discovery.h"
#include "MountState.h"
#include "Port.h"

namespace korvane::cli {

/// A port, a disk lister and a clock that belong together.
class Devices {
 public:
  virtual ~Devices() = default;
  /// Opens disks for one command each.
  virtual Port& port() = 0;
  /// Lists the present disks.
  virtual DiskLister& lister() = 0;
  /// Every wait goes through it.
  virtual Clock& clock() = 0;
  /// Whether a file system on the disk behind path is in use, asked before any firmware write.
  virtual MountState CheckMounts(std::string_view path) = 0;
  /// The enclosures as scenario JSON, as they would be after a replug; nothing for real disks.
  virtual std::optional<std::string> SavedStateText() const { return std::nullopt; }
};

/// The disks of this machine through its storage stack.
std::unique_ptr<Devices> PlatformDevices();

/// The disks of a scenario (a built-in name or a file), or the one-line reason it cannot be read.
std::variant<std::unique_ptr<Devices>, std::string> SimulatedDevices(const std::string& scenario);

}  // namespace korvane::cli
