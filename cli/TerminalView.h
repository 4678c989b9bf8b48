// The window as korvane-fw shows it: the logic's state is kept for the command's report, and the
// update's progress goes to the terminal. There are no device changes on the command line, so
// timers never tick.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "MainView.h"
#include "UpdateStep.h"

namespace korvane::cli {

/// How the update's progress is shown.
enum class ProgressStyle : std::uint8_t {
  Bar,    ///< one line redrawn in place, for a terminal
  Lines,  ///< a line at each step of 10 %, for a log or a pipe
  None,   ///< nothing: the output is JSON
};

/// A MainView that keeps what the logic sets and writes the whole job's progress to a stream.
class TerminalView final : public MainView {
 public:
  /// Progress goes to out; notes (Note) go to err.
  TerminalView(std::ostream& out, std::ostream& err, ProgressStyle style)
      : out_(out), err_(err), style_(style) {}

  /// Adds a hook that runs at every pump of messages, after those added before it.
  void AddPumpHook(std::function<void()> hook) { pumpHooks_.push_back(std::move(hook)); }
  /// Writes a line to err, ending an open progress line first so the two do not share a line.
  void Note(std::string_view text);

  const std::string& statusText() const { return statusText_; }
  bool enabled(Control control) const { return enabled_[Index(control)]; }
  bool visible(Control control) const { return visible_[Index(control)]; }
  /// The picture last loaded into an image control, if any was.
  std::optional<Picture> picture(Control image) const { return pictures_[Index(image)]; }
  const std::vector<std::string>& deviceLines() const { return deviceLines_; }
  int pumps() const { return pumps_; }

  void ShowPicture(Control image, Picture picture) override { pictures_[Index(image)] = picture; }
  void SetVisible(Control control, bool visible) override;
  void SetEnabled(Control control, bool enabled) override { enabled_[Index(control)] = enabled; }
  void SetStatusText(std::string_view text) override { statusText_ = text; }
  void ClearDeviceList() override;
  void AddDeviceLine(std::string_view line) override { deviceLines_.emplace_back(line); }
  void SelectDevice(int index) override { selected_ = index; }
  int SelectedDevice() const override { return selected_; }
  void StartTimer(std::uintptr_t, std::chrono::milliseconds) override {}
  void StopTimer(std::uintptr_t) override {}
  /// The window's bar: kept, not shown; the terminal shows the whole job instead.
  void SetProgress(int percent) override { windowProgress_ = percent; }
  /// Shows the job's progress: the write, the read-back with the comparison, and the NVRAM record
  /// each take their share of the bar.
  void StepProgress(UpdateStep step, int percent) override;
  void ProcessMessages() override;

  /// Draws the bar, or writes "<label>: <step of 10>%", for a percent of the whole job.
  void ShowProgress(int percent, std::string_view label);
  /// The window's bar as the engine last set it; -1 before it was set.
  int windowProgress() const { return windowProgress_; }

 private:
  static constexpr std::size_t kControls = 7;
  static std::size_t Index(Control control) { return static_cast<std::size_t>(control); }
  void DrawBar(int percent);
  void WriteStep(int percent, std::string_view label);
  void EndProgressLine();

  std::ostream& out_;
  std::ostream& err_;
  ProgressStyle style_;
  std::vector<std::function<void()>> pumpHooks_;

  std::string statusText_;
  std::array<bool, kControls> enabled_{true, true, true, true, true, true, true};
  std::array<bool, kControls> visible_{true, true, true, true, false, false, false};
  std::array<std::optional<Picture>, kControls> pictures_{};
  std::vector<std::string> deviceLines_;
  int selected_ = -1;
  int pumps_ = 0;

  int windowProgress_ = -1;
  int shownPercent_ = -1;  ///< the last percent drawn or written; -1 before the first
  bool lineOpen_ = false;  ///< the bar's line awaits its newline
};

/// The bar line for a percent, without the carriage return: "[#########...........]  45%".
std::string ProgressBar(int percent);

}  // namespace korvane::cli
