#include <utility>

#include "Devices.h"
#include "Scenario.h"
#include "SimulatedBus.h"
#include "SimulatedClock.h"

namespace korvane::cli {
namespace {

/// A scenario's disks on a simulated bus, with the simulated clock their latency is spent on.
class Simulation final : public Devices {
 public:
  explicit Simulation(const sim::Scenario& scenario) { sim::PlugIn(scenario, bus_); }
  Port& port() override { return bus_; }
  DiskLister& lister() override { return lister_; }
  Clock& clock() override { return clock_; }

 private:
  sim::SimulatedClock clock_;
  sim::SimulatedBus bus_{clock_};
  sim::SimulatedDiskLister lister_{bus_};
};

}  // namespace

std::variant<std::unique_ptr<Devices>, std::string> SimulatedDevices(const std::string& scenario) {
  auto loaded = sim::LoadScenario(scenario);
  if (auto* error = std::get_if<sim::ScenarioError>(&loaded)) return std::move(error->message);
  return std::make_unique<Simulation>(std::get<sim::Scenario>(loaded));
}

}  // namespace korvane::cli
