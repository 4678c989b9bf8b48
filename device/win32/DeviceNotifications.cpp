#include "DeviceNotifications.h"

#include <dbt.h>

#include "SetupApiDiskLister.h"

namespace korvane {
namespace {

constexpr const char* kClassName = "KorvaneDeviceChanges";
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32);

std::string LastErrorText(const char* what) {
  return std::string(what) + " failed with error " + std::to_string(GetLastError());
}

/// The window class, registered once per process; a second registration finds it there.
bool RegisterWindowClass(WNDPROC procedure) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = kClassName;
  return RegisterClassExA(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

DeviceNotifications::~DeviceNotifications() {
  if (registration_ != nullptr) UnregisterDeviceNotification(registration_);
  if (window_ != nullptr) DestroyWindow(window_);
}

std::optional<std::string> DeviceNotifications::Listen() {
  if (window_ != nullptr) return std::nullopt;
  if (!RegisterWindowClass(WindowProc)) return LastErrorText("RegisterClassExA");
  // A message-only window gets the notifications it registers for, and no broadcasts.
  window_ = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
  if (window_ == nullptr) return LastErrorText("CreateWindowExA");
  SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = kGuidDevInterfaceDisk;
  registration_ = RegisterDeviceNotificationA(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  if (registration_ == nullptr) return LastErrorText("RegisterDeviceNotificationA");
  return std::nullopt;
}

ChangeWait DeviceNotifications::Wait(std::chrono::milliseconds timeout) {
  if (registration_ == nullptr) return ChangeWait::Ended;
  if (Pump()) return ChangeWait::Change;
  MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(timeout.count()), QS_ALLINPUT);
  return Pump() ? ChangeWait::Change : ChangeWait::Quiet;
}

bool DeviceNotifications::Pump() {
  MSG message{};
  while (PeekMessageA(&message, window_, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  const bool changed = changed_;
  changed_ = false;
  return changed;
}

LRESULT CALLBACK DeviceNotifications::WindowProc(HWND window, UINT message, WPARAM wParam,
                                                 LPARAM lParam) {
  auto* self = reinterpret_cast<DeviceNotifications*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (message == WM_DEVICECHANGE && self != nullptr &&
      (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)) {
    self->changed_ = true;
    return TRUE;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace korvane
