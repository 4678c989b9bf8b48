// The one window: the native TForm1 with its controls, the busy animation, the device
// notifications and the message routing to the window's logic, through the window shell.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <utility>

#include "Clock.h"
#include "DeviceChanges.h"
#include "Discovery.h"
#include "Enclosures.h"
#include "ImageSource.h"
#include "TForm1.h"
#include "TMyThread.h"
#include "Transport.h"
#include "Win32Desktop.h"
#include "Win32MainView.h"
#include "Win32Services.h"
#include "WindowLayout.h"
#include "WindowShell.h"

namespace korvane::win32 {

/// The disks the window works on, as the device stack lists them, and the carried images.
struct WindowServices {
  const DeviceServices& devices;
  const ImageSource& images;
  /// The stack's device changes, followed besides the window's own USB notifications; none: the
  /// window learns of changes from its notifications alone.
  DeviceChanges* changes = nullptr;
};

/// The message a frame of the busy animation arrives with; wParam is the frame's index.
inline constexpr UINT kAnimationFrameMessage = WM_APP + 1;
/// The window timer that polls the stack's device changes, apart from TForm1's rescan timer.
inline constexpr UINT_PTR kChangePollTimerId = 201;

/// The fonts of the window's texts, one per height and weight, released after the window.
class FontSet {
 public:
  FontSet() = default;
  ~FontSet();
  FontSet(const FontSet&) = delete;
  FontSet& operator=(const FontSet&) = delete;
  /// The font of a control's row.
  HFONT For(const layout::ControlLayout& row);

 private:
  std::map<std::pair<int, bool>, HFONT> fonts_;
};

/// A window handle that is destroyed with its owner; the window no longer reaches its object
/// once that object is being taken apart.
struct OwnedWindow {
  HWND handle = nullptr;
  ~OwnedWindow();
};

/// The main window.
class MainWindow final : private ShellWindow {
 public:
  /// Builds the window hidden, with every control, starts the animation, starts listening to the
  /// stack's device changes and runs the first scan with its version check, so the window is
  /// first shown with its verdict in place.
  MainWindow(HINSTANCE instance, HWND owner, WindowServices services);
  /// Unregisters the device notifications, stops the animation, then destroys the window.
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  /// Registers for USB device-interface notifications, starts polling the stack's changes and
  /// sets the caption.
  void FormCreate();
  /// Shows the window centred on the desktop.
  void ShowCentred();

  HWND handle() const { return window_.handle; }
  HDEVNOTIFY DeviceNotifyHandle() const { return deviceNotifyHandle_; }
  TForm1& form() { return form_; }
  const Win32MainView& view() const { return view_; }
  /// True once a close was accepted; the message loop is then told to end.
  bool closing() const { return closing_; }

  /// The window procedure of the TForm1 class.
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  void BuildControls();
  HWND CreateControl(const layout::ControlLayout& row, int id);
  void RegisterUsbNotification();

  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
  void OnTimer(UINT_PTR id);
  void OnCommand(int id, int code);
  void OnClose();
  void btn_ExitClick();
  void Close();
  void RepeatClose() override;
  void OfferClose(bool offered) override;

  HINSTANCE instance_;
  HWND owner_;
  bool ready_ = false;
  FontSet fonts_;
  OwnedWindow window_;
  Win32MainView view_;
  MessageBoxSink messages_;
  DebugStringOutput debug_;
  Win32Desktop desktop_;
  TForm1 form_;
  WindowShell shell_;
  TMyThread animation_;
  HDEVNOTIFY deviceNotifyHandle_ = nullptr;
  bool closing_ = false;
};

/// Processes the pending messages of this thread; a quit request is left for the message loop.
void PumpMessages();

}  // namespace korvane::win32
