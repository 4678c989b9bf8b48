// What one command costs above the platform: the per-command aligned regions, copies, the
// allow-list and the simulated bridge's decoding. Run: build/linux/bench/korvane_bench
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "IDEAccess.h"
#include "SimulatedBus.h"

namespace {

constexpr std::string_view kPath = R"(\\?\usbstor#disk&ven_korvane&prod_nvme#1)";
constexpr std::size_t kBlock = 1024;
constexpr auto kDeferred = korvane::WriteBufferMode::DownloadDeferred;
constexpr auto kFirmware = korvane::BufferId::Firmware;

struct Bench {
  korvane::sim::SimulatedClock clock;
  korvane::sim::SimulatedBus bus{clock};
  korvane::Transport io{bus};
  Bench() {
    bus.AddDisk(kPath, korvane::sim::SimulatedBridge(
                           korvane::sim::DefaultConfig(korvane::sim::Chip::Jms583)));
  }
};

void BM_StatusRead(benchmark::State& state) {
  Bench bench;
  std::uint8_t status = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(korvane::ReadStatus(bench.io, kPath, status));
  }
}
BENCHMARK(BM_StatusRead);

void BM_FlashBlockWrite(benchmark::State& state) {
  Bench bench;
  std::vector<std::uint8_t> block(kBlock, 0x5A);
  for (auto _ : state) {
    benchmark::DoNotOptimize(korvane::WriteBuffer(bench.io, kPath, kDeferred, kFirmware, 0, block));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBlock));
}
BENCHMARK(BM_FlashBlockWrite);

// The JMS583 firmware area: 65 blocks written, then read back.
void BM_FirmwareAreaWriteAndReadBack(benchmark::State& state) {
  Bench bench;
  constexpr std::uint32_t kArea = 66560;
  std::vector<std::uint8_t> image(kArea, 0xA5);
  std::vector<std::uint8_t> back(kArea);
  for (auto _ : state) {
    for (std::uint32_t offset = 0; offset < kArea; offset += kBlock) {
      const auto block = std::span<const std::uint8_t>(image).subspan(offset, kBlock);
      korvane::WriteBuffer(bench.io, kPath, kDeferred, kFirmware, offset, block);
    }
    for (std::uint32_t offset = 0; offset < kArea; offset += kBlock) {
      korvane::ReadBuffer(bench.io, kPath, korvane::ReadBufferMode::Data, kFirmware, offset,
                          std::span<std::uint8_t>(back).subspan(offset, kBlock));
    }
    benchmark::DoNotOptimize(back.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kArea * 2));
}
BENCHMARK(BM_FirmwareAreaWriteAndReadBack);

}  // namespace
