// What a firmware update costs the program: loading the image, 65 blocks out, 65 back, the
// comparison, through the transport into a simulated JMS583. The "bridge_ms" counter is the time
// the bridge and the fixed waits take on the simulated clock at the given per-command latency.
// Run: build/linux/bench/korvane_bench --benchmark_filter=Update
#include <benchmark/benchmark.h>

#include "BridgeConfig.h"
#include "ChipUpdate.h"
#include "EmbeddedImages.h"
#include "FlashProgramming.h"
#include "SimulatedBus.h"

namespace {

constexpr std::string_view kPath = R"(\\?\usbstor#disk&ven_jmicron#1)";

struct Quiet final : korvane::UpdateView, korvane::MessageSink, korvane::DebugOutput {
  void SetProgress(int) override {}
  void ProcessMessages() override {}
  void ShowMessage(std::string_view, std::string_view, korvane::MessageIcon) override {}
  void Write(std::string_view) override {}
};

void BM_Update(benchmark::State& state, bool romMode) {
  const korvane::EmbeddedImages images;
  Quiet quiet;
  double bridgeMs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    korvane::sim::SimulatedClock clock;
    korvane::sim::SimulatedBus bus{clock};
    korvane::sim::BridgeConfig config = korvane::sim::DefaultConfig(korvane::sim::Chip::Jms583);
    config.romMode = romMode;
    config.latency = std::chrono::microseconds(state.range(0));
    bus.AddDisk(kPath, korvane::sim::SimulatedBridge(config));
    korvane::Transport io{bus};
    const korvane::UpdateContext context{io,
                                         clock,
                                         quiet,
                                         quiet,
                                         quiet,
                                         images,
                                         korvane::MakeBridgeInfo(korvane::kChipCodeJms583, 0),
                                         nullptr,
                                         korvane::Enclosures::Simulated};
    state.ResumeTiming();
    if (!korvane::UpdateFirmware(context, kPath)) state.SkipWithError("update failed");
    bridgeMs += std::chrono::duration<double, std::milli>(clock.Now()).count();
  }
  state.counters["bridge_ms"] =
      benchmark::Counter(bridgeMs / static_cast<double>(state.iterations()));
}
BENCHMARK_CAPTURE(BM_Update, running_firmware, false)->Arg(0)->Arg(2000);
BENCHMARK_CAPTURE(BM_Update, rom_mode, true)->Arg(0)->Arg(2000);

}  // namespace
