// The program around the window: start-up, the message loop and the exit code, shared by the
// real program and its demonstration build over simulated enclosures.
#pragma once

#include <windows.h>

#include <cstdint>

#include "Devices.h"

namespace korvane::win32 {

/// Whether the window follows its device stack's changes besides the USB notifications to its own
/// window. The program over this machine's disks has those notifications alone.
enum class StackChanges : std::uint8_t { Ignored, Followed };

/// Starts the program on the device stack its entry point chose: the task-bar window with the
/// program's title, the main window built hidden with its first verdict, the device notifications
/// and the caption, then the window shown centred and the message loop until it closes. An
/// exception that escapes the start-up is shown in a message box. Returns the exit code, 0.
int RunProgram(HINSTANCE instance, Devices& devices, StackChanges changes = StackChanges::Ignored);

}  // namespace korvane::win32
