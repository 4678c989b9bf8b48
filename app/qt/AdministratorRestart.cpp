#include "AdministratorRestart.h"

#include <QMessageBox>
#include <QStandardPaths>

#include <unistd.h>

#include "QtServices.h"
#include "WindowLayout.h"

namespace korvane::qt {

AdministratorRestart::AdministratorRestart(QWidget& window, QString pkexec, QString program)
    : window_(window), pkexec_(std::move(pkexec)), program_(std::move(program)) {
  QObject::connect(
      &process_, &QProcess::finished,
      [this](int exitCode, QProcess::ExitStatus status) { Finished(exitCode, status); });
}

void AdministratorRestart::operator()() {
  if (process_.state() != QProcess::NotRunning) return;
  process_.setProcessChannelMode(QProcess::ForwardedChannels);
  process_.start(pkexec_, {program_});
  if (!process_.waitForStarted()) {
    QMessageBox::critical(&window_, QtText(layout::kApplicationTitle),
                          QStringLiteral("pkexec cannot be started: ") + process_.errorString());
    return;
  }
  window_.hide();
}

void AdministratorRestart::Finished(int exitCode, QProcess::ExitStatus status) {
  const bool refused = status == QProcess::NormalExit &&
                       (exitCode == kPkexecDismissed || exitCode == kPkexecNotAuthorised);
  if (refused) {
    window_.show();
    return;
  }
  window_.close();
}

bool CanRestartAsAdministrator(QString& pkexec) {
  if (geteuid() == 0) return false;
  pkexec = QStandardPaths::findExecutable(QStringLiteral("pkexec"));
  return !pkexec.isEmpty();
}

}  // namespace korvane::qt
