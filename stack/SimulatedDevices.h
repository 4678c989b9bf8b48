// Simulated enclosures from a scenario, for --simulate, the demonstration and the tests.
#pragma once

#include <memory>
#include <string>
#include <variant>

#include "Devices.h"

namespace korvane {

/// The disks of a scenario (a built-in name or a file), or the one-line reason it cannot be read.
std::variant<std::unique_ptr<Devices>, std::string> SimulatedDevices(const std::string& scenario);

}  // namespace korvane
