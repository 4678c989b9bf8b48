// Scenario files: the disks on a simulated bus and what each bridge answers, read from JSON, and
// the built-in scenarios that demonstrations use by name.
#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "BridgeConfig.h"
#include "Discovery.h"
#include "SimulatedBus.h"

namespace korvane::sim {

/// One disk of a scenario: its interface path and its bridge.
struct ScenarioDisk {
  std::string path;
  BridgeConfig bridge;
};

/// The disks of a scenario, in the order the platform enumerates them.
struct Scenario {
  std::vector<ScenarioDisk> disks;
};

/// Why a scenario could not be read: one line naming the file, the field and what was expected,
/// e.g. `two.json: disks[1].firmware: expected "a.b.c.d" with numbers 0-255, got "1.2"`.
struct ScenarioError {
  std::string message;
};

/// Parses scenario JSON; source names the file in error messages.
std::variant<Scenario, ScenarioError> ParseScenario(std::string_view text, std::string_view source);
/// A built-in scenario by name, else the file at that path.
std::variant<Scenario, ScenarioError> LoadScenario(std::string_view nameOrPath);
/// The names LoadScenario knows without a file.
std::vector<std::string_view> BuiltInScenarioNames();

/// Plugs every disk of the scenario into the bus, in order.
void PlugIn(const Scenario& scenario, SimulatedBus& bus);

/// Lists the present disks of a simulated bus in the order they were plugged in; their marks
/// come from the path substrings, as on Windows.
class SimulatedDiskLister final : public DiskLister {
 public:
  explicit SimulatedDiskLister(SimulatedBus& bus) : bus_(bus) {}
  std::vector<DiskInterface> ListDisks() override;

 private:
  SimulatedBus& bus_;
};

}  // namespace korvane::sim
