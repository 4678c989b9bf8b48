#include "ApplicationWindow.h"

#include <stdexcept>
#include <string>

#include "Controls.h"
#include "WindowLayout.h"

namespace korvane::win32 {
namespace {

HWND MainOf(HWND application) {
  return reinterpret_cast<HWND>(GetWindowLongPtrA(application, GWLP_USERDATA));
}

LRESULT CALLBACK ApplicationProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  HWND main = MainOf(window);
  if (main != nullptr) {
    if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) {
      PostMessageA(main, WM_CLOSE, 0, 0);
      return 0;
    }
    // Activated from the task bar: the main window takes the focus.
    if (message == WM_SETFOCUS && IsWindowVisible(main) && IsWindowEnabled(main)) {
      SetFocus(main);
      return 0;
    }
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

ApplicationWindow::ApplicationWindow(HINSTANCE instance) {
  if (!RegisterWindowClass(instance, kApplicationClass, ApplicationProc, 0, true)) {
    throw std::runtime_error("Cannot register the application window's class");
  }
  const std::string title(layout::kApplicationTitle);
  window_ = CreateWindowExA(0, kApplicationClass, title.c_str(),
                            WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPSIBLINGS,
                            GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 0,
                            0, nullptr, nullptr, instance, nullptr);
  if (window_ == nullptr) throw std::runtime_error("Cannot create the application window");
}

ApplicationWindow::~ApplicationWindow() {
  SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
  DestroyWindow(window_);
}

void ApplicationWindow::SetMainWindow(HWND main) {
  SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(main));
}

void ApplicationWindow::Show() { ShowWindow(window_, SW_SHOWNORMAL); }

}  // namespace korvane::win32
