// What a command talks to: the real disks of this machine or a simulated bus.
#pragma once

#include <memory>
#include <string>
#include <variant>

#include "Clock.h"
#include "Discovery.h"
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
};

/// The disks of this machine through its storage stack.
std::unique_ptr<Devices> PlatformDevices();

/// The disks of a scenario (a built-in name or a file), or the one-line reason it cannot be read.
std::variant<std::unique_ptr<Devices>, std::string> SimulatedDevices(const std::string& scenario);

}  // namespace korvane::cli
