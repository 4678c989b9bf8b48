// The window's logic shown on Qt widgets: each Control is the widget the layout table built for
// it (found by its layout name), pictures come from the program's resources and the rescan timer
// is a QTimer.
#pragma once

#include <QTimer>
#include <QWidget>

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string_view>

#include "MainView.h"

namespace korvane::qt {

/// The resource path of a picture the program carries: ":/pictures/NAME.bmp".
QString PicturePath(std::string_view name);

/// MainView over the children of one window.
class QtMainView final : public MainView {
 public:
  /// What a tick of a started timer runs, with the timer's id.
  using TimerTick = std::function<void(std::uintptr_t id)>;

  /// pump processes the pending events of the window's thread.
  QtMainView(QWidget& window, TimerTick tick, std::function<void()> pump);

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
  /// Whether the timer with that id runs, and its interval when it does.
  bool TimerArmed(std::uintptr_t id) const;
  std::chrono::milliseconds TimerInterval(std::uintptr_t id) const;
  /// What the timer's tick does; the timer itself calls it.
  void Tick(std::uintptr_t id) { tick_(id); }

 private:
  QWidget* Child(Control control) const;
  template <class Widget>
  Widget* Child(Control control) const;

  QWidget& window_;
  TimerTick tick_;
  std::function<void()> pump_;
  std::map<std::uintptr_t, std::unique_ptr<QTimer>> timers_;
};

}  // namespace korvane::qt
