// The program's window on the task bar. The main window is owned by it, so the task bar shows
// the program's title, "KORVANE Update Tool", while the main window's caption reads "Korvane
// Update Tool". It has no size of its own: minimising the main window minimises it (which hides
// the owned main window), restoring it from the task bar brings the main window back, and closing
// it from the task bar asks the main window to close.
#pragma once

#include <windows.h>

namespace korvane::win32 {

/// The task-bar window, created hidden with the program's title and icon.
class ApplicationWindow {
 public:
  explicit ApplicationWindow(HINSTANCE instance);
  ~ApplicationWindow();
  ApplicationWindow(const ApplicationWindow&) = delete;
  ApplicationWindow& operator=(const ApplicationWindow&) = delete;

  HWND handle() const { return window_; }
  /// The window that activation and close requests are passed to.
  void SetMainWindow(HWND main);
  /// Puts the program on the task bar.
  void Show();

 private:
  HWND window_ = nullptr;
};

/// The class name of the task-bar window.
inline constexpr char kApplicationClass[] = "KorvaneApplication";

}  // namespace korvane::win32
