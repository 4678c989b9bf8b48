// KorvaneUpdateToolDemo.exe: the same window over simulated enclosures, for demonstrations and
// the tests that drive the window. Its one argument names a built-in scenario or a scenario file;
// without one it shows an enclosure that is offered an update. Given "--replay FILE" it shows the
// enclosures a korvane-fw trace recorded, answering every command from the recording.
#include <windows.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "Program.h"
#include "ReplayDevices.h"
#include "SimulatedDevices.h"
#include "Win32Services.h"

namespace {

constexpr char kDefaultScenario[] = "jms583-outdated";
// Usage errors, unreadable scenarios or traces and a replay that left its recording end the
// demonstration with the command line's usage code.
constexpr int kBadInput = 2;

int Refuse(const std::string& text) {
  korvane::win32::ShowExceptionBox(nullptr, text);
  return kBadInput;
}

int RunScenario(HINSTANCE instance, const std::string& scenario) {
  auto loaded = korvane::SimulatedDevices(scenario);
  if (auto* problem = std::get_if<std::string>(&loaded)) {
    return Refuse("Cannot load the scenario: " + *problem);
  }
  return korvane::win32::RunProgram(instance, *std::get<std::unique_ptr<korvane::Devices>>(loaded));
}

// The window plays what the user clicks, which need not be what the recording holds: only a
// command that differs from it counts, not one left unsent or one past its end.
int RunReplay(HINSTANCE instance, const std::string& file) {
  auto replay = korvane::ReplayTraceFile(file, {}, korvane::PastTheRecording::Gone);
  if (auto* problem = std::get_if<std::string>(&replay)) {
    return Refuse("Cannot replay the trace: " + *problem);
  }
  korvane::ReplayDevices& devices = *std::get<std::unique_ptr<korvane::ReplayDevices>>(replay);
  const int code = korvane::win32::RunProgram(instance, devices);
  if (const auto difference = devices.divergence()) return Refuse(*difference);
  return code;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  if (__argc > 1 && std::string_view(__argv[1]) == "--replay") {
    if (__argc != 3) return Refuse("usage: KorvaneUpdateToolDemo.exe [SCENARIO | --replay FILE]");
    return RunReplay(instance, __argv[2]);
  }
  return RunScenario(instance, __argc > 1 ? __argv[1] : kDefaultScenario);
}
