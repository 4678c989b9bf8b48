#include "Program.h"

#include <commctrl.h>

#include <exception>

#include "ApplicationWindow.h"
#include "Controls.h"
#include "DeviceStack.h"
#include "EmbeddedImages.h"
#include "MainWindow.h"

namespace korvane::win32 {
namespace {

void RunMessageLoop() {
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void Start(HINSTANCE instance, Devices& devices, StackChanges changes) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  RegisterControlClasses(instance);
  ApplicationWindow application(instance);
  DeviceStack stack(devices);
  EmbeddedImages images;
  MainWindow window(instance, application.handle(),
                    WindowServices{stack.services(), images,
                                   changes == StackChanges::Followed ? &stack.changes() : nullptr});
  window.FormCreate();
  application.SetMainWindow(window.handle());
  application.Show();
  window.ShowCentred();
  RunMessageLoop();
}

}  // namespace

int RunProgram(HINSTANCE instance, Devices& devices, StackChanges changes) {
  try {
    Start(instance, devices, changes);
  } catch (const std::exception& error) {
    ShowExceptionBox(nullptr, error.what());
  } catch (...) {
    ShowExceptionBox(nullptr, "");
  }
  return 0;
}

}  // namespace korvane::win32
