// KorvaneUpdateToolDemo.exe: the same window over simulated enclosures, for demonstrations and
// the tests that drive the window. Its one argument names a built-in scenario or a scenario file;
// without one it shows an enclosure that is offered an update. Given "--replay FILE" it shows the
// enclosures a korvane-fw trace recorded, answering every command from the recording. Simulated
// and recorded disks come and go only on the stack, so the window follows its changes.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "DemoProgram.h"
#include "Program.h"
#include "Win32Services.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  const std::vector<std::string> arguments(__argv + std::min(__argc, 1), __argv + __argc);
  return korvane::demo::RunDemo(
      arguments,
      {.program = "KorvaneUpdateToolDemo.exe",
       .run =
           [instance](korvane::Devices& devices) {
             return korvane::win32::RunProgram(instance, devices,
                                               korvane::win32::StackChanges::Followed);
           },
       .refuse = [](const std::string& text) { korvane::win32::ShowExceptionBox(nullptr, text); }});
}
