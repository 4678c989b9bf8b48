// The one window on Linux: TForm1's controls as Qt widgets, the busy animation, the poll of the
// device stack's changes, what the window says when the disks need rights the user lacks, and the
// close; the window shell decides what a close and a device change meet.
#pragma once

#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string_view>

#include "DebugOutput.h"
#include "Desktop.h"
#include "DeviceStack.h"
#include "ImageSource.h"
#include "MessageSink.h"
#include "QtMainView.h"
#include "TForm1.h"
#include "TMyThread.h"
#include "WindowLayout.h"
#include "WindowShell.h"

namespace korvane::qt {

/// The status texts when the last scan found nothing because the disks could not be opened.
namespace rights {
inline constexpr std::string_view kRestartOffer =
    "The enclosure cannot be opened without administrator rights. Click here to restart as "
    "administrator.";
inline constexpr std::string_view kMissing =
    "The enclosure cannot be opened without administrator rights. Start the program as root.";
}  // namespace rights

/// What the window works on.
struct WindowServices {
  DeviceStack& stack;  ///< the devices, their access watch and the transport above them
  const ImageSource& images;
  MessageSink& messages;
  DebugOutput& debug;
  /// Starts the program again with administrator rights; empty where it cannot be offered.
  std::function<void()> restartAsAdministrator;
};

/// The main window.
class MainWindow final : public QWidget, private ShellWindow {
 public:
  /// Builds the window hidden, with every control, starts the animation, starts listening for
  /// device changes and runs the first scan with its version check, so the window is first shown
  /// with its verdict in place.
  explicit MainWindow(WindowServices services);
  /// Stops the animation and the device changes before the controls go.
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  /// Starts reading device changes and sets the caption.
  void FormCreate();
  /// Shows the window centred on its screen.
  void ShowCentred();

  TForm1& form() { return form_; }
  QtMainView& view() { return view_; }
  /// Reads the device changes that have come, as the poll does every kChangePollInterval.
  void PollDeviceChanges();
  /// True while the status text says that rights are missing.
  bool rightsMissing() const { return rightsMissing_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void SetUpFrame();
  void BuildControls();
  QWidget* CreateControl(const layout::ControlLayout& row);

  void OnStatusClick();
  void OnTimer(std::uintptr_t id);
  void ScanningRun(const std::function<void()>& handler);
  void ShowRights();
  void RepeatClose() override;

  WindowServices services_;
  NoDesktop desktop_;
  QtMainView view_;
  TForm1 form_;
  WindowShell shell_;
  TMyThread animation_;
  QTimer changePoll_;
  bool rightsMissing_ = false;
};

}  // namespace korvane::qt
