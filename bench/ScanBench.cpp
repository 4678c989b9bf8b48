// What a scan costs: discovery, INQUIRY and identification of every disk of a scenario. The
// "bridge_ms" counter is the time the bridges themselves would take at the scenario's latency,
// spent on the simulated clock. Run: build/linux/bench/korvane_bench --benchmark_filter=Scan
#include <benchmark/benchmark.h>

#include <string>
#include <variant>

#include "DeviceScan.h"
#include "Scenario.h"

namespace {

struct NoMessages final : korvane::MessageSink {
  void ShowMessage(std::string_view, std::string_view, korvane::MessageIcon) override {}
};

/// The disks of a built-in scenario, each bridge taking latencyUs per command.
korvane::sim::Scenario Loaded(const std::string& name, std::int64_t latencyUs) {
  auto scenario = std::get<korvane::sim::Scenario>(korvane::sim::LoadScenario(name));
  for (auto& disk : scenario.disks) disk.bridge.latency = std::chrono::microseconds(latencyUs);
  return scenario;
}

void BM_Scan(benchmark::State& state, const std::string& name) {
  korvane::sim::SimulatedClock clock;
  korvane::sim::SimulatedBus bus{clock};
  korvane::sim::PlugIn(Loaded(name, state.range(0)), bus);
  korvane::sim::SimulatedDiskLister lister{bus};
  korvane::Transport io{bus};
  NoMessages messages;
  for (auto _ : state) {
    benchmark::DoNotOptimize(korvane::ScanBridgeDisks(lister, io, messages));
  }
  const auto spent = std::chrono::duration<double, std::milli>(clock.Now()).count();
  state.counters["bridge_ms"] = benchmark::Counter(spent / static_cast<double>(state.iterations()));
}
BENCHMARK_CAPTURE(BM_Scan, two_enclosures, std::string("two-enclosures"))->Arg(0)->Arg(1000);
BENCHMARK_CAPTURE(BM_Scan, no_enclosure, std::string("no-enclosure"))->Arg(0)->Arg(1000);

}  // namespace
