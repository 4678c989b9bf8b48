#include "DemoProgram.h"

#include <algorithm>
#include <memory>
#include <variant>

#include "ReplayDevices.h"
#include "SimulatedDevices.h"

namespace korvane::demo {
namespace {

int Refuse(const DemoWindow& window, const std::string& text) {
  window.refuse(text);
  return kBadInput;
}

int RunPaced(Devices& devices, const DemoWindow& window) {
  const SystemClock realClock;
  PacedDevices paced(devices, realClock);
  return window.run(paced);
}

int RunScenario(const std::string& scenario, const DemoWindow& window) {
  auto loaded = SimulatedDevices(scenario);
  if (const auto* problem = std::get_if<std::string>(&loaded)) {
    return Refuse(window, "Cannot load the scenario: " + *problem);
  }
  return RunPaced(*std::get<std::unique_ptr<Devices>>(loaded), window);
}

// The window plays what the user clicks, which need not be what the recording holds: only a
// command that differs from it counts, not one left unsent or one past its end.
int RunReplay(const std::string& file, const DemoWindow& window) {
  auto replay = ReplayTraceFile(file, {}, PastTheRecording::Gone);
  if (const auto* problem = std::get_if<std::string>(&replay)) {
    return Refuse(window, "Cannot replay the trace: " + *problem);
  }
  ReplayDevices& devices = *std::get<std::unique_ptr<ReplayDevices>>(replay);
  const int code = RunPaced(devices, window);
  if (const auto difference = devices.divergence()) return Refuse(window, *difference);
  return code;
}

}  // namespace

DemoRequest ParseDemoArguments(std::span<const std::string> arguments) {
  if (arguments.empty()) return {DemoRequest::Kind::Scenario, std::string(kDefaultScenario)};
  if (arguments.front() == "--replay") {
    if (arguments.size() != 2) return {};
    return {DemoRequest::Kind::Replay, arguments[1]};
  }
  if (arguments.size() != 1) return {};
  return {DemoRequest::Kind::Scenario, arguments.front()};
}

PacedChanges::PacedChanges(DeviceChanges& inner, const Clock& stackClock, const Clock& realClock)
    : inner_(inner),
      stackClock_(stackClock),
      realClock_(realClock),
      stackStart_(stackClock.Now()),
      realStart_(realClock.Now()) {}

ChangeWait PacedChanges::Wait(std::chrono::milliseconds timeout) {
  return inner_.Wait(std::max(timeout, Behind()));
}

std::chrono::milliseconds PacedChanges::Behind() const {
  const auto real = realClock_.Now() - realStart_;
  const auto stack = stackClock_.Now() - stackStart_;
  if (stack >= real) return std::chrono::milliseconds(0);
  return std::chrono::duration_cast<std::chrono::milliseconds>(real - stack);
}

int RunDemo(std::span<const std::string> arguments, const DemoWindow& window) {
  const DemoRequest request = ParseDemoArguments(arguments);
  switch (request.kind) {
    case DemoRequest::Kind::Scenario:
      return RunScenario(request.argument, window);
    case DemoRequest::Kind::Replay:
      return RunReplay(request.argument, window);
    case DemoRequest::Kind::Usage:
      break;
  }
  return Refuse(window, "usage: " + std::string(window.program) + " [SCENARIO | --replay FILE]");
}

}  // namespace korvane::demo
