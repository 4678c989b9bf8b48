// The window's logic shown on the native window: each Control is the child window that the
// layout table gives it, pictures come from the program's bitmap resources, and the rescan timer
// is a window timer.
#pragma once

#include <windows.h>

#include <functional>
#include <set>
#include <string_view>

#include "MainView.h"

namespace korvane::win32 {

/// MainView over the children of one window.
class Win32MainView final : public MainView {
 public:
  /// pump processes the pending messages of the window's thread.
  Win32MainView(HWND window, HINSTANCE resources, std::function<void()> pump);

  void ShowPicture(Control image, Picture picture) override;
  void SetVisible(Control control, bool visible) override;
  void SetEnabled(Control control, bool enabled) override;
  void SetStatusText(std::string_view text) override;
  void ClearDeviceList() override;
  void AddDeviceLine(std::string_view line) override;
  void SelectDevice(int index) override;
  int SelectedDevice() const override;
  void StartTimer(std::uintptr_t id, std::chrono::milliseconds interval) override;
  void StopTimer(std::uintptr_t id) override;
  void SetProgress(int percent) override;
  void ProcessMessages() override { pump_(); }

  /// Shows one frame of the busy animation in Image2.
  void ShowFrame(std::size_t frame);
  /// Whether the window timer with that id runs.
  bool TimerArmed(std::uintptr_t id) const { return timers_.contains(id); }

 private:
  HWND Child(Control control) const;
  HWND Child(std::string_view name) const;
  void LoadPicture(HWND target, std::string_view name);

  HWND window_;
  HINSTANCE resources_;
  std::function<void()> pump_;
  std::set<std::uintptr_t> timers_;
};

}  // namespace korvane::win32
