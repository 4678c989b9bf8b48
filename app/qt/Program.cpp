#include "Program.h"

#include <QIcon>
#include <QMessageBox>

#include <csignal>
#include <exception>
#include <functional>
#include <iostream>
#include <memory>

#include "AdministratorRestart.h"
#include "MainWindow.h"
#include "QtServices.h"
#include "StreamDebugOutput.h"
#include "WindowLayout.h"

namespace korvane::qt {
namespace {

void Start(Devices& devices, const ImageSource& images, ProgramOptions options) {
  MainWindow* shown = nullptr;
  MessageBoxSink messages([&shown] { return OwnerIfShown(shown); });
  StreamDebugOutput debug(options.verbose ? &std::cerr : nullptr);
  std::unique_ptr<AdministratorRestart> restart;
  QString pkexec;
  const bool offer = options.offerRestart && CanRestartAsAdministrator(pkexec);
  std::function<void()> restartAsAdministrator;
  if (offer) restartAsAdministrator = [&restart] { (*restart)(); };
  DeviceStack stack(devices);
  MainWindow window(WindowServices{stack, images, messages, debug, restartAsAdministrator});
  if (offer) {
    restart = std::make_unique<AdministratorRestart>(window, pkexec,
                                                     QCoreApplication::applicationFilePath());
  }
  shown = &window;
  window.FormCreate();
  window.ShowCentred();
  QApplication::exec();
}

}  // namespace

void PrepareApplication() {
  // The debug lines of --verbose go to stderr; a pipe there whose reader went away must not end
  // the program between two blocks of a flash write.
  std::signal(SIGPIPE, SIG_IGN);
  QCoreApplication::setApplicationName(QString::fromLatin1(kDesktopName));
  // The desktop file names the program on the task bar, "KORVANE Update Tool", while the window's
  // caption reads "Korvane Update Tool".
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopName));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/pictures/MAINICON.ico")));
}

int RunProgram(Devices& devices, const ImageSource& images, ProgramOptions options) {
  try {
    Start(devices, images, options);
  } catch (const std::exception& error) {
    ShowErrorBox(QString::fromUtf8(error.what()));
  } catch (...) {
    ShowErrorBox(QString());
  }
  return 0;
}

void ShowErrorBox(const QString& text) {
  QMessageBox::critical(nullptr, QtText(layout::kApplicationTitle), text);
}

}  // namespace korvane::qt
