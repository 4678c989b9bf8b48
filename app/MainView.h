// What the window's logic asks of a window: texts, pictures, the device list, the progress bar,
// pending messages and the rescan timer. The Win32 window, the Qt window, the command line and a
// recorder in tests implement it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

#include "UpdateView.h"
#include "Verdict.h"

namespace korvane {

/// The window's controls that the logic changes.
enum class Control : std::uint8_t {
  Image1,             ///< the banner
  Image2,             ///< the busy animation
  Image3,             ///< the verdict picture
  lblStaust,          ///< the status text; a click on it while enabled starts the update
  cbb_DeviceList,     ///< the device list, never shown; its selection picks the disk
  btn_upd,            ///< the update button, never shown
  UpdateProgressBar,  ///< shown only while an update runs
};

/// The control's name as the window calls it, for traces and test messages.
std::string_view ControlName(Control control);

/// The window as its logic sees it. Pumping messages may call back into the logic's handlers.
class MainView : public UpdateView {
 public:
  /// Loads the bitmap into a picture control, not auto-sized and stretched.
  virtual void ShowPicture(Control image, Picture picture) = 0;
  virtual void SetVisible(Control control, bool visible) = 0;
  virtual void SetEnabled(Control control, bool enabled) = 0;
  /// Sets the text of lblStaust.
  virtual void SetStatusText(std::string_view text) = 0;

  virtual void ClearDeviceList() = 0;
  virtual void AddDeviceLine(std::string_view line) = 0;
  virtual void SelectDevice(int index) = 0;
  /// The selected line of the device list; -1 when none is.
  virtual int SelectedDevice() const = 0;

  /// (Re)starts a window timer whose ticks reach the logic's OnRescanTimer.
  virtual void StartTimer(std::uintptr_t id, std::chrono::milliseconds interval) = 0;
  virtual void StopTimer(std::uintptr_t id) = 0;
};

}  // namespace korvane
