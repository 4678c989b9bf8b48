// korvane-update-tool of the demonstration build: the same window over simulated enclosures. Its
// one argument names a built-in scenario or a scenario file; without one it shows an enclosure
// that is offered an update. Given "--replay FILE" it shows the enclosures a korvane-fw trace
// recorded, answering every command from the recording.
#include <QStringList>

#include <string>
#include <vector>

#include "DemoProgram.h"
#include "EmbeddedImages.h"
#include "Program.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  korvane::qt::PrepareApplication();
  std::vector<std::string> arguments;
  for (const QString& argument : QCoreApplication::arguments().mid(1)) {
    arguments.push_back(argument.toStdString());
  }
  const korvane::EmbeddedImages images;
  return korvane::demo::RunDemo(arguments,
                                {.program = korvane::qt::kDesktopName,
                                 .run =
                                     [&images](korvane::Devices& devices) {
                                       return korvane::qt::RunProgram(devices, images, {});
                                     },
                                 .refuse =
                                     [](const std::string& text) {
                                       korvane::qt::ShowErrorBox(QString::fromStdString(text));
                                     }});
}
