// Simulated enclosures from a scenario, for --simulate, the demonstration and the tests.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "Devices.h"

namespace korvane {

/// The disks of a scenario (a built-in name or a file), or the one-line reason it cannot be read.
std::variant<std::unique_ptr<Devices>, std::string> SimulatedDevices(const std::string& scenario);

/// The names of the built-in scenarios, in the order the simulator keeps them.
std::vector<std::string_view> BuiltInScenarios();

}  // namespace korvane
