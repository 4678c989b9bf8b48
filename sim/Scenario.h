// Scenario files: the disks on a simulated bus and what each bridge answers, read from JSON, and
// the built-in scenarios that demonstrations use by name.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "BridgeConfig.h"
#include "Discovery.h"
#include "SimulatedBus.h"

namespace korvane::sim {

/// The bridge types a scenario names; each gives the defaults of every key a disk leaves out.
enum class BridgeKind : std::uint8_t { Jms583, Jms578, None, Custom };

/// The name a scenario file gives the bridge type, e.g. "jms583".
std::string_view BridgeKindName(BridgeKind kind);
/// The bridge of that type before any other key of the disk applies.
BridgeConfig KindDefaults(BridgeKind kind);

/// One disk of a scenario: its interface path, the bridge type it was described from, its bridge
/// and what the host knows of it.
struct ScenarioDisk {
  std::string path;
  BridgeKind kind = BridgeKind::Jms583;
  BridgeConfig bridge = KindDefaults(BridgeKind::Jms583);
  DiskHost host;
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

/// Plugs the disks of the scenario that are there from the start into the bus, in order.
void PlugIn(const Scenario& scenario, SimulatedBus& bus);
/// Plugs in, in order, the disks whose time has come by now and that are not on the bus yet.
void PlugInDue(const Scenario& scenario, SimulatedBus& bus, std::chrono::microseconds now);
/// When the next disk that is not on the bus yet is plugged in; nothing when all are there.
std::optional<std::chrono::microseconds> NextPlugIn(const Scenario& scenario,
                                                    const SimulatedBus& bus);

/// The scenario's disks as they would be after being unplugged and plugged in again, taken from
/// the bus without changing it: deferred firmware becomes the running firmware, the boot ROM runs
/// where the flash holds nothing bootable, and the NVRAM record is what it is now. A disk whose
/// scenario replugs it after a written flash runs what the scenario says it runs then, and is
/// saved to boot its flash at the next replug. Faults are dropped, since a replug starts a new
/// run; every other key stays as in the original. A disk that is not on the bus keeps its
/// original entry.
Scenario ScenarioAfterReplug(const Scenario& original, const SimulatedBus& bus);

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
