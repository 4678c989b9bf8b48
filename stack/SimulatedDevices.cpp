#include "SimulatedDevices.h"

#include <utility>

#include "Replugs.h"
#include "Scenario.h"
#include "ScenarioWriter.h"
#include "SimulatedBus.h"
#include "SimulatedClock.h"

namespace korvane {
namespace {

/// The scenario's disks that come later, each plugged in at its time on the simulated clock, and
/// those that the user unplugs after their update and plugs in again.
class SimulatedPlugs final : public DeviceChanges {
 public:
  SimulatedPlugs(const sim::Scenario& scenario, sim::SimulatedBus& bus, sim::SimulatedClock& clock)
      : scenario_(scenario), bus_(bus), clock_(clock) {}

  std::optional<std::string> Listen() override { return std::nullopt; }

  ChangeWait Wait(std::chrono::milliseconds timeout) override {
    const auto now = clock_.Now();
    if (replugs_.UnplugWritten(bus_, now)) return ChangeWait::Change;
    const auto next = Earliest(sim::NextPlugIn(scenario_, bus_), replugs_.NextReturn());
    if (!next) return ChangeWait::Ended;
    if (*next > now + timeout) {
      clock_.Advance(timeout);
      return ChangeWait::Quiet;
    }
    if (*next > now) clock_.Advance(*next - now);
    sim::PlugInDue(scenario_, bus_, clock_.Now());
    replugs_.ReturnDue(bus_, clock_.Now());
    return ChangeWait::Change;
  }

 private:
  using Time = std::optional<std::chrono::microseconds>;
  static Time Earliest(Time a, Time b) {
    if (!a || !b) return a ? a : b;
    return std::min(*a, *b);
  }

  const sim::Scenario& scenario_;
  sim::SimulatedBus& bus_;
  sim::SimulatedClock& clock_;
  sim::Replugs replugs_;
};

/// A scenario's disks on a simulated bus, with the simulated clock their latency is spent on and
/// the later ones plug in on. The scenario is kept: a saved state is the original with what the
/// bus changed.
class Simulation final : public Devices {
 public:
  explicit Simulation(sim::Scenario scenario) : scenario_(std::move(scenario)) {
    sim::PlugIn(scenario_, bus_);
  }
  Port& port() override { return bus_; }
  DiskLister& lister() override { return lister_; }
  Clock& clock() override { return clock_; }
  DeviceChanges& changes() override { return plugs_; }
  Enclosures enclosures() const override { return Enclosures::Simulated; }

  MountState CheckMounts(std::string_view path) override {
    const sim::DiskHost* host = bus_.Host(path);
    if (host == nullptr) {
      return {MountState::Kind::Unknown, "the simulated disk " + std::string(path) + " is gone"};
    }
    if (host->mountPoint.empty()) return {};
    return {MountState::Kind::Mounted, host->mountPoint};
  }

  std::optional<std::string> SavedStateText() const override {
    return sim::ScenarioJson(sim::ScenarioAfterReplug(scenario_, bus_));
  }

  bool Replugs(std::string_view path) const override {
    const sim::DiskHost* host = bus_.Host(path);
    return host != nullptr && host->replugAfter.has_value();
  }

 private:
  sim::Scenario scenario_;
  sim::SimulatedClock clock_;
  sim::SimulatedBus bus_{clock_};
  sim::SimulatedDiskLister lister_{bus_};
  SimulatedPlugs plugs_{scenario_, bus_, clock_};
};

}  // namespace

std::variant<std::unique_ptr<Devices>, std::string> SimulatedDevices(const std::string& scenario) {
  auto loaded = sim::LoadScenario(scenario);
  if (auto* error = std::get_if<sim::ScenarioError>(&loaded)) return std::move(error->message);
  return std::make_unique<Simulation>(std::move(std::get<sim::Scenario>(loaded)));
}

std::vector<std::string_view> BuiltInScenarios() { return sim::BuiltInScenarioNames(); }

}  // namespace korvane
