// korvane-update-tool: the window over this machine's enclosures. It takes one option of its own,
// --verbose, which writes the debug lines to stderr.
#include <QStringList>

#include <iostream>
#include <memory>

#include "EmbeddedImages.h"
#include "PlatformDevices.h"
#include "Program.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  korvane::qt::PrepareApplication();
  const QStringList arguments = QCoreApplication::arguments().mid(1);
  const bool verbose = arguments == QStringList{QStringLiteral("--verbose")};
  if (!arguments.isEmpty() && !verbose) {
    std::cerr << "usage: korvane-update-tool [--verbose]\n";
    return 2;
  }
  const std::unique_ptr<korvane::Devices> devices = korvane::PlatformDevices();
  const korvane::EmbeddedImages images;
  return korvane::qt::RunProgram(*devices, images, {.verbose = verbose, .offerRestart = true});
}
