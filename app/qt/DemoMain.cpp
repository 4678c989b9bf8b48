// korvane-update-tool of the demonstration build: the same window over simulated enclosures. Its
// one argument names a built-in scenario or a scenario file; without one it shows an enclosure
// that is offered an update. Given "--replay FILE" it shows the enclosures a korvane-fw trace
// recorded, answering every command from the recording.
#include <QStringList>

#include <memory>
#include <string>
#include <variant>

#include "EmbeddedImages.h"
#include "Program.h"
#include "ReplayDevices.h"
#include "SimulatedDevices.h"

namespace {

constexpr char kDefaultScenario[] = "jms583-outdated";
// Usage errors, unreadable scenarios or traces and a replay that left its recording end the
// demonstration with the command line's usage code.
constexpr int kBadInput = 2;

int Refuse(const std::string& text) {
  korvane::qt::ShowErrorBox(QString::fromStdString(text));
  return kBadInput;
}

int RunScenario(const std::string& scenario) {
  auto loaded = korvane::SimulatedDevices(scenario);
  if (auto* problem = std::get_if<std::string>(&loaded)) {
    return Refuse("Cannot load the scenario: " + *problem);
  }
  const korvane::EmbeddedImages images;
  return korvane::qt::RunProgram(*std::get<std::unique_ptr<korvane::Devices>>(loaded), images, {});
}

// The window plays what the user clicks, which need not be what the recording holds: only a
// command that differs from it counts, not one left unsent or one past its end.
int RunReplay(const std::string& file) {
  auto replay = korvane::ReplayTraceFile(file, {}, korvane::PastTheRecording::Gone);
  if (auto* problem = std::get_if<std::string>(&replay)) {
    return Refuse("Cannot replay the trace: " + *problem);
  }
  korvane::ReplayDevices& devices = *std::get<std::unique_ptr<korvane::ReplayDevices>>(replay);
  const korvane::EmbeddedImages images;
  const int code = korvane::qt::RunProgram(devices, images, {});
  if (const auto difference = devices.divergence()) return Refuse(*difference);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  korvane::qt::PrepareApplication();
  const QStringList arguments = QCoreApplication::arguments().mid(1);
  if (!arguments.isEmpty() && arguments.front() == QStringLiteral("--replay")) {
    if (arguments.size() != 2)
      return Refuse("usage: korvane-update-tool [SCENARIO | --replay FILE]");
    return RunReplay(arguments[1].toStdString());
  }
  if (arguments.size() > 1) return Refuse("usage: korvane-update-tool [SCENARIO | --replay FILE]");
  return RunScenario(arguments.isEmpty() ? kDefaultScenario : arguments.front().toStdString());
}
