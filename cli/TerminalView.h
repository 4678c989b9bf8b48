// The update's progress as korvane-fw shows it: the engine's job runs under this view, and the
// whole job's progress goes to the terminal.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "UpdateStep.h"
#include "UpdateView.h"

namespace korvane::cli {

/// How the update's progress is shown.
enum class ProgressStyle : std::uint8_t {
  Bar,    ///< one line redrawn in place, for a terminal
  Lines,  ///< a line at each step of 10 %, for a log or a pipe
  None,   ///< nothing: the output is JSON
};

/// An UpdateView that writes the whole job's progress to a stream.
class TerminalView final : public UpdateView {
 public:
  /// Progress goes to out; notes (Note) go to err.
  TerminalView(std::ostream& out, std::ostream& err, ProgressStyle style)
      : out_(out), err_(err), style_(style) {}

  /// Adds a hook that runs at every pump of messages, after those added before it.
  void AddPumpHook(std::function<void()> hook) { pumpHooks_.push_back(std::move(hook)); }
  /// Writes a line to err, ending an open progress line first so the two do not share a line.
  void Note(std::string_view text);
  int pumps() const { return pumps_; }

  /// An update starts: its progress starts over.
  void BeginJob() { shownPercent_ = -1; }
  /// An update ended, however it ended: an open bar line gets its newline, so that the outcome
  /// starts on a line of its own.
  void EndJob() { EndProgressLine(); }

  /// The window's bar: kept, not shown; the terminal shows the whole job instead.
  void SetProgress(int percent) override { windowProgress_ = percent; }
  /// Shows the job's progress as the engine shares it out among its steps.
  void StepProgress(UpdateStep step, int percent) override;
  void ProcessMessages() override;

  /// Draws the bar, or writes "<label>: <step of 10>%", for a percent of the whole job.
  void ShowProgress(int percent, std::string_view label);
  /// The window's bar as the engine last set it; -1 before it was set.
  int windowProgress() const { return windowProgress_; }

 private:
  void DrawBar(int percent);
  void WriteStep(int percent, std::string_view label);
  void EndProgressLine();

  std::ostream& out_;
  std::ostream& err_;
  ProgressStyle style_;
  std::vector<std::function<void()>> pumpHooks_;
  int pumps_ = 0;

  int windowProgress_ = -1;
  int shownPercent_ = -1;  ///< the last percent drawn or written; -1 before the first
  bool lineOpen_ = false;  ///< the bar's line awaits its newline
};

/// The bar line for a percent, without the carriage return: "[#########...........]  45%".
std::string ProgressBar(int percent);

}  // namespace korvane::cli
