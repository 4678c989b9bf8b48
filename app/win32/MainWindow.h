// The one window: the native TForm1 with its controls, the busy animation, the device
// notifications and the message routing to the window's logic.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <utility>

#include "Clock.h"
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

namespace korvane::win32 {

/// The disks the window works on, and the clock every wait goes through.
struct WindowServices {
  Transport& io;
  DiskLister& lister;
  Clock& clock;
  const ImageSource& images;
  Enclosures enclosures = Enclosures::Real;  ///< what the program's device stack said they are
  MountCheck* mounts = nullptr;              ///< the stack's mount check, asked before writing
};

/// The message a frame of the busy animation arrives with; wParam is the frame's index.
inline constexpr UINT kAnimationFrameMessage = WM_APP + 1;

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
class MainWindow {
 public:
  /// Builds the window hidden, with every control, starts the animation and runs the first scan
  /// with its version check, so the window is first shown with its verdict in place.
  MainWindow(HINSTANCE instance, HWND owner, WindowServices services);
  /// Unregisters the device notifications, stops the animation, then destroys the window.
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  /// Registers for USB device-interface notifications and sets the caption.
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
  /// What runs on the window's thread when a close request comes.
  enum class Running : std::uint8_t { Nothing, Scan, Update };

  void BuildControls();
  HWND CreateControl(const layout::ControlLayout& row, int id);
  void RegisterUsbNotification();

  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
  void OnCommand(int id, int code);
  void OnClose();
  void btn_ExitClick();
  void Close();
  void AllowClose(bool allowed);
  template <class Handler>
  void Run(Running kind, Handler&& handler);
  template <class Handler>
  void Guarded(Handler&& handler);

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
  TMyThread animation_;
  HDEVNOTIFY deviceNotifyHandle_ = nullptr;
  Running running_ = Running::Nothing;
  bool closePending_ = false;
  bool closing_ = false;
};

/// Processes the pending messages of this thread; a quit request is left for the message loop.
void PumpMessages();

}  // namespace korvane::win32
