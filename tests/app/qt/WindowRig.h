// The Qt window over a built-in scenario, with the device changes and the restart in the test's
// hands, and counts of what reached the enclosures.
#pragma once

#include <QLabel>
#include <QProgressBar>

#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "CommandSet.h"
#include "EmbeddedImages.h"
#include "MainWindow.h"
#include "QtServices.h"
#include "SimulatedDevices.h"
#include "WindowLayout.h"
#include "update/UpdateRig.h"

namespace korvane::testing {

/// Device changes handed in by the test, one answer per wait; quiet when none is left.
class ScriptedChanges final : public DeviceChanges {
 public:
  std::optional<std::string> Listen() override { return std::nullopt; }
  ChangeWait Wait(std::chrono::milliseconds) override {
    if (waits.empty()) return ChangeWait::Quiet;
    const ChangeWait next = waits.front();
    waits.pop_front();
    return next;
  }
  std::deque<ChangeWait> waits;
};

/// Counts the requests that carry data to the enclosure, and every WRITE BUFFER.
class WriteCounter final : public ForwardingPort {
 public:
  using ForwardingPort::ForwardingPort;
  PortReply Execute(PortHandle handle, const PortRequest& request) override {
    const bool writeBuffer = !request.cdb.empty() && request.cdb[0] == opcode::kWriteBuffer;
    if (writeBuffer || request.direction == Direction::Out) ++writes;
    return ForwardingPort::Execute(handle, request);
  }
  int writes = 0;
};

/// A built-in scenario's enclosures with scripted device changes; counts the disk listings.
class ScenarioDevices final : public Devices {
 public:
  explicit ScenarioDevices(const std::string& scenario)
      : inner_(std::get<std::unique_ptr<Devices>>(SimulatedDevices(scenario))),
        port_(inner_->port()),
        lister_(inner_->lister(), listings_) {}

  Port& port() override { return port_; }
  DiskLister& lister() override { return lister_; }
  Clock& clock() override { return inner_->clock(); }
  DeviceChanges& changes() override { return changes_; }
  Enclosures enclosures() const override { return inner_->enclosures(); }
  MountState CheckMounts(std::string_view path) override { return inner_->CheckMounts(path); }

  int listings() const { return listings_; }
  int writes() const { return port_.writes; }
  ScriptedChanges& scripted() { return changes_; }

 private:
  struct CountingLister final : DiskLister {
    CountingLister(DiskLister& inner, int& count) : inner_(inner), count_(count) {}
    std::vector<DiskInterface> ListDisks() override {
      ++count_;
      return inner_.ListDisks();
    }
    DiskLister& inner_;
    int& count_;
  };

  std::unique_ptr<Devices> inner_;
  WriteCounter port_;
  int listings_ = 0;
  CountingLister lister_;
  ScriptedChanges changes_;
};

/// The window built (hidden, first verdict in place) over a scenario.
struct WindowRig {
  explicit WindowRig(const std::string& scenario, std::function<void()> restart = {})
      : devices(scenario),
        stack(devices),
        window(qt::WindowServices{stack, images, messages, debug, restart}) {}

  template <class Widget = QWidget>
  Widget* Control(korvane::Control control) {
    const std::string_view name = ControlName(control);
    return window.findChild<Widget*>(qt::QtText(name));
  }
  QLabel* Status() { return Control<QLabel>(Control::lblStaust); }
  std::string StatusText() { return Status()->text().toStdString(); }
  /// Whether the picture control shows the program's picture.
  bool Shows(korvane::Control image, Picture picture) {
    const QImage expected = QPixmap(qt::PicturePath(PictureName(picture))).toImage();
    return !expected.isNull() && Control<QLabel>(image)->pixmap().toImage() == expected;
  }
  /// Where the layout puts the control in the window.
  static QRect PlaceOf(korvane::Control control) {
    const auto& row = layout::kControls[*layout::IndexOf(ControlName(control))];
    return {row.left, row.top, row.width, row.height};
  }
  void Show() {
    window.FormCreate();
    window.ShowCentred();
  }

  ScenarioDevices devices;
  DeviceStack stack;
  EmbeddedImages images;
  RecordingSink messages;
  RecordingDebug debug;
  qt::MainWindow window;
};

}  // namespace korvane::testing
