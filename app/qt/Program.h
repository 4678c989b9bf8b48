// What both Qt programs do around their window: the application's names and icon, the window over
// the device stack they chose, and the event loop.
#pragma once

#include <QApplication>

#include "Devices.h"
#include "ImageSource.h"

namespace korvane::qt {

/// The program's name on the desktop: its desktop file and its icon are called so.
inline constexpr char kDesktopName[] = "korvane-update-tool";

/// What the program's entry asks of its window.
struct ProgramOptions {
  bool verbose = false;       ///< debug lines on stderr
  bool offerRestart = false;  ///< offer the restart with administrator rights when they are missing
};

/// Names the application for the desktop and gives it the window's icon.
void PrepareApplication();

/// Builds the window over the devices, shows it with its first verdict and runs the event loop
/// until it closes; returns 0. An exception at start-up is shown in the error box first.
int RunProgram(Devices& devices, const ImageSource& images, ProgramOptions options);

/// Shows text in the error box of the program, with its title as caption.
void ShowErrorBox(const QString& text);

}  // namespace korvane::qt
