// KorvaneUpdateTool.exe: the window over this machine's disks. It takes no options.
#include <windows.h>

#include "Devices.h"
#include "Program.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  const auto devices = korvane::cli::PlatformDevices();
  return korvane::win32::RunProgram(instance, devices->port(), devices->lister(), devices->clock());
}
