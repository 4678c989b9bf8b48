// Scenario files written back: how a simulated bus is saved, e.g. as it stands after a replug.
#pragma once

#include <string>

#include "Scenario.h"

namespace korvane::sim {

/// Scenario JSON that ParseScenario reads back to the same disks. Each disk gets its path, bridge
/// type, firmware and ROM mode; any other key only where it differs from the defaults of the
/// bridge type. Keys come in a fixed order, indented by two spaces; byte blocks are hex. Only what
/// a scenario file can say is written: fields that no key sets (chip number, capacities, the
/// record's address, an identity built field by field in code) keep their defaults on reading.
std::string ScenarioJson(const Scenario& scenario);

}  // namespace korvane::sim
