// KorvaneUpdateToolDemo.exe: the same window over simulated enclosures, for demonstrations and
// the tests that drive the window. Its one argument names a built-in scenario or a scenario file;
// without one it shows an enclosure that is offered an update.
#include <windows.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <variant>

#include "Program.h"
#include "SimulatedDevices.h"
#include "Win32Services.h"

namespace {

constexpr char kDefaultScenario[] = "jms583-outdated";
// Usage and unreadable scenarios end the demonstration with the command line's usage code.
constexpr int kBadScenario = 2;

std::string ScenarioArgument() { return __argc > 1 ? __argv[1] : kDefaultScenario; }

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  auto loaded = korvane::SimulatedDevices(ScenarioArgument());
  if (auto* problem = std::get_if<std::string>(&loaded)) {
    korvane::win32::ShowExceptionBox(nullptr, "Cannot load the scenario: " + *problem);
    return kBadScenario;
  }
  return korvane::win32::RunProgram(instance, *std::get<std::unique_ptr<korvane::Devices>>(loaded));
}
