// KorvaneUpdateTool.exe: the window over this machine's disks. It takes no options.
#include <windows.h>

#include "PlatformDevices.h"
#include "Program.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  const auto devices = korvane::PlatformDevices();
  return korvane::win32::RunProgram(instance, *devices);
}
