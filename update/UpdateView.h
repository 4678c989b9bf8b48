// What the update engine asks of the window it runs under: the progress bar and a chance to
// process pending messages. The windows, the command line and a recorder in tests implement it.
#pragma once

namespace korvane {

/// The window's side of an update.
class UpdateView {
 public:
  virtual ~UpdateView() = default;
  /// Moves the progress bar, 0 to 100.
  virtual void SetProgress(int percent) = 0;
  /// Lets the window process its pending messages, so it repaints and handles device changes.
  virtual void ProcessMessages() = 0;
};

}  // namespace korvane
