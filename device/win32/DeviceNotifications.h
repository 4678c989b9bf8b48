// Device changes on Windows: arrivals and removals of disk interfaces, notified to a
// message-only window of our own, as the main window is notified of USB devices.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "DeviceChanges.h"

namespace korvane {

/// Registers for the disk interface class, the one the disk lister walks, and reports each
/// arrival and removal.
class DeviceNotifications final : public DeviceChanges {
 public:
  DeviceNotifications() = default;
  ~DeviceNotifications() override;
  DeviceNotifications(const DeviceNotifications&) = delete;
  DeviceNotifications& operator=(const DeviceNotifications&) = delete;

  std::optional<std::string> Listen() override;
  /// Pumps the window's messages until one tells of a disk or the time runs out.
  ChangeWait Wait(std::chrono::milliseconds timeout) override;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  /// Dispatches what is queued; true when a disk came or went.
  bool Pump();

  HWND window_ = nullptr;
  HDEVNOTIFY registration_ = nullptr;
  bool changed_ = false;
};

}  // namespace korvane
