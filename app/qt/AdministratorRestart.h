// Starting the window again with administrator rights, through pkexec and the package's polkit
// action, when the user asks for it. The program never runs as root unasked.
#pragma once

#include <QProcess>
#include <QString>
#include <QWidget>

namespace korvane::qt {

/// pkexec's exit codes when the user dismissed the dialog or could not authenticate.
inline constexpr int kPkexecDismissed = 126;
inline constexpr int kPkexecNotAuthorised = 127;

/// Runs the program through pkexec. The window hides while the one with rights runs, and closes
/// once it has ended; it comes back as it was when the user did not authenticate.
class AdministratorRestart {
 public:
  /// pkexec: its path; program: this program's path, as the polkit action names it.
  AdministratorRestart(QWidget& window, QString pkexec, QString program);
  AdministratorRestart(const AdministratorRestart&) = delete;
  AdministratorRestart& operator=(const AdministratorRestart&) = delete;

  /// Starts the restart; nothing while one is under way.
  void operator()();

 private:
  void Finished(int exitCode, QProcess::ExitStatus status);

  QWidget& window_;
  QString pkexec_;
  QString program_;
  QProcess process_;
};

/// Whether this process can be offered the restart: it does not run as root and pkexec is there.
/// pkexec receives its path.
bool CanRestartAsAdministrator(QString& pkexec);

}  // namespace korvane::qt
