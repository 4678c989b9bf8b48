// The program around the window: start-up, the message loop and the exit code, shared by the
// real program and its demonstration build over simulated enclosures.
#pragma once

#include <windows.h>

#include "Devices.h"

namespace korvane::win32 {

/// Starts the program on the device stack its entry point chose: the task-bar window with the
/// program's title, the main window built hidden with its first verdict, the device notifications
/// and the caption, then the window shown centred and the message loop until it closes. An
/// exception that escapes the start-up is shown in a message box. Returns the exit code, 0.
int RunProgram(HINSTANCE instance, Devices& devices);

}  // namespace korvane::win32
