// What the update engine asks of the face it runs under: the window's progress bar, how far the
// whole job has come, and a chance to process pending messages. The windows, the command line
// and a recorder in tests implement it.
#pragma once

#include "UpdateStep.h"

namespace korvane {

/// The face's side of an update.
class UpdateView {
 public:
  virtual ~UpdateView() = default;
  /// Moves the window's progress bar, 0 to 100: the firmware write of one pass.
  virtual void SetProgress(int percent) = 0;
  /// How far the job has come within one of its steps, 0 to 100: the blocks written
  /// (WriteBlock), read back (ReadBack), the comparison (Verify) and the NVRAM record
  /// (NvramWrite). For faces that show the whole job; the window's bar keeps to SetProgress.
  virtual void StepProgress(UpdateStep step, int percent) {
    (void)step;
    (void)percent;
  }
  /// Lets the window process its pending messages, so it repaints and handles device changes.
  virtual void ProcessMessages() = 0;
};

}  // namespace korvane
