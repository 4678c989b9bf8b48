// A window for the window's logic to drive in tests: it records every change in order, keeps the
// state a user would see, and runs a message loop on the simulated clock, so device changes and
// timer ticks reach the handlers at the pumps and in the idle loop as they would in a window.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Desktop.h"
#include "MainView.h"
#include "SimulatedClock.h"
#include "TForm1.h"

namespace korvane::testing {

using std::chrono::microseconds;
using std::chrono::milliseconds;

class FakeMainView final : public MainView {
 public:
  explicit FakeMainView(sim::SimulatedClock& clock) : clock_(clock) {}

  /// The logic whose handlers the message loop calls.
  void Attach(TForm1& form) { form_ = &form; }

  // ---- MainView ----
  void ShowPicture(Control image, Picture picture) override {
    Log("picture " + Name(image) + " " + std::string(PictureName(picture)));
    pictures_[image] = picture;
  }
  void SetVisible(Control control, bool visible) override {
    Log((visible ? "show " : "hide ") + Name(control));
    visible_[control] = visible;
  }
  void SetEnabled(Control control, bool enabled) override {
    Log((enabled ? "enable " : "disable ") + Name(control));
    enabled_[control] = enabled;
  }
  void SetStatusText(std::string_view text) override {
    Log("text " + std::string(text));
    text_ = text;
  }
  void ClearDeviceList() override {
    Log("clear list");
    lines_.clear();
    selected_ = -1;
  }
  void AddDeviceLine(std::string_view line) override {
    Log("line " + std::string(line));
    lines_.emplace_back(line);
  }
  void SelectDevice(int index) override {
    Log("select " + std::to_string(index));
    selected_ = index;
  }
  int SelectedDevice() const override { return selected_; }
  void StartTimer(std::uintptr_t id, milliseconds interval) override {
    Log("start timer " + std::to_string(id));
    timers_[id] = {clock_.Now() + interval, interval};
  }
  void StopTimer(std::uintptr_t id) override {
    Log("stop timer " + std::to_string(id));
    timers_.erase(id);
  }
  void SetProgress(int percent) override {
    Log("progress " + std::to_string(percent));
    progress_.push_back(percent);
  }
  void ProcessMessages() override {
    Log("pump");
    ++pumps_;
    if (onPump) onPump(pumps_);
    DeliverDue();
  }

  // ---- The message loop ----
  /// Queues a device-change message for the given time.
  void PostDeviceChange(microseconds at, DeviceChange change) { events_.push_back({at, change}); }
  /// A click on the status text, as the window passes it on.
  void Click() {
    Log("click");
    form_->lblStaustClick();
  }
  /// The idle loop until the given time: every message falls due in time order.
  void RunUntil(microseconds end) {
    while (true) {
      const std::optional<microseconds> next = NextDue();
      if (!next || *next > end) break;
      if (*next > clock_.Now()) clock_.Advance(*next - clock_.Now());
      DeliverDue();
    }
    if (end > clock_.Now()) clock_.Advance(end - clock_.Now());
  }

  /// Called with the pump's number (from 1) at each pump, before due messages are delivered.
  std::function<void(std::size_t)> onPump;

  // ---- What a user would see, and what happened ----
  const std::vector<std::string>& log() const { return log_; }
  const std::string& text() const { return text_; }
  bool enabled(Control control) const { return Get(enabled_, control, true); }
  bool visible(Control control) const { return Get(visible_, control, false); }
  std::optional<Picture> picture(Control image) const {
    const auto found = pictures_.find(image);
    if (found == pictures_.end()) return std::nullopt;
    return found->second;
  }
  const std::vector<std::string>& lines() const { return lines_; }
  const std::vector<int>& progress() const { return progress_; }
  std::size_t pumps() const { return pumps_; }
  bool timerArmed(std::uintptr_t id) const { return timers_.contains(id); }
  /// How many log entries equal the text.
  std::size_t Count(std::string_view entry) const {
    std::size_t count = 0;
    for (const std::string& line : log_) count += line == entry ? 1 : 0;
    return count;
  }
  /// The index of the first log entry equal to the text at or after from; log().size() if none.
  std::size_t Find(std::string_view entry, std::size_t from = 0) const {
    for (std::size_t i = from; i < log_.size(); ++i) {
      if (log_[i] == entry) return i;
    }
    return log_.size();
  }
  void ClearLog() { log_.clear(); }

 private:
  struct Event {
    microseconds at;
    DeviceChange deviceEvent;
  };
  struct Timer {
    microseconds due;
    milliseconds interval;
  };

  static std::string Name(Control control) { return std::string(ControlName(control)); }
  template <typename Map>
  static bool Get(const Map& map, Control control, bool otherwise) {
    const auto found = map.find(control);
    return found == map.end() ? otherwise : found->second;
  }
  void Log(std::string entry) { log_.push_back(std::move(entry)); }

  std::optional<microseconds> NextDue() const {
    std::optional<microseconds> next;
    for (const Event& event : events_) {
      if (!next || event.at < *next) next = event.at;
    }
    for (const auto& [id, timer] : timers_) {
      if (!next || timer.due < *next) next = timer.due;
    }
    return next;
  }

  /// Hands every message that is due to the logic, oldest first; a handler may pump again.
  void DeliverDue() {
    while (true) {
      const std::optional<microseconds> next = NextDue();
      if (!next || *next > clock_.Now()) return;
      if (DeliverEvent(*next)) continue;
      DeliverTick(*next);
    }
  }

  bool DeliverEvent(microseconds at) {
    for (auto it = events_.begin(); it != events_.end(); ++it) {
      if (it->at != at) continue;
      const DeviceChange change = it->deviceEvent;
      events_.erase(it);
      Log("device change " + std::to_string(static_cast<int>(change)));
      form_->OnDeviceChange(change);
      return true;
    }
    return false;
  }

  void DeliverTick(microseconds at) {
    for (auto& [id, timer] : timers_) {
      if (timer.due != at) continue;
      const std::uintptr_t tickId = id;
      // Ticks that pile up while the thread is busy arrive as one.
      timer.due = clock_.Now() + timer.interval;
      Log("tick " + std::to_string(tickId));
      form_->OnRescanTimer(tickId);
      return;
    }
  }

  sim::SimulatedClock& clock_;
  TForm1* form_ = nullptr;
  std::vector<std::string> log_;
  std::string text_;
  std::map<Control, Picture> pictures_;
  std::map<Control, bool> visible_;
  std::map<Control, bool> enabled_;
  std::vector<std::string> lines_;
  int selected_ = -1;
  std::vector<int> progress_;
  std::size_t pumps_ = 0;
  std::vector<Event> events_;
  std::map<std::uintptr_t, Timer> timers_;
};

/// A desktop that reports a chosen version and counts the dialogs it was asked about.
class FakeDesktop final : public Desktop {
 public:
  std::optional<OsVersion> extended;  ///< nothing: the extended record is refused
  std::optional<OsVersion> basic;
  DesktopWindow dialog = 0;  ///< the dialog FindWindow finds; 0 none
  std::size_t finds = 0;
  std::vector<DesktopWindow> closed;

  std::optional<OsVersion> QueryVersion(VersionRecord record) override {
    return record == VersionRecord::Extended ? extended : basic;
  }
  DesktopWindow FindTopLevelWindow(std::string_view className, std::string_view title) override {
    ++finds;
    return className == "#32770" && title == "Microsoft Windows" ? dialog : 0;
  }
  bool PostClose(DesktopWindow window) override {
    closed.push_back(window);
    return true;
  }
};

}  // namespace korvane::testing
