// The engine's update job as the command line runs it: over the command's devices, with the
// carried images and the progress on a terminal view. The windows run the same job, so check and
// update send the bridge what the window sends it.
#pragma once

#include <ostream>
#include <string_view>

#include "Command.h"
#include "EmbeddedImages.h"
#include "StreamDebugOutput.h"
#include "TerminalView.h"
#include "UpdateJob.h"

namespace korvane::cli {

/// The progress style for the command's options and output: none for JSON, a bar on a
/// terminal, plain lines otherwise.
ProgressStyle ProgressStyleFor(const GlobalOptions& options, const Console& console);

/// An update job over the command's devices, with its terminal view.
class JobSession {
 public:
  explicit JobSession(CommandContext& context);
  JobSession(const JobSession&) = delete;
  JobSession& operator=(const JobSession&) = delete;

  /// What the window does when it starts: the scan, which ends in the version check.
  void Scan() { job_.ScanAndCheck(); }
  UpdateJob& job() { return job_; }
  const UpdateJob& job() const { return job_; }
  TerminalView& view() { return view_; }

 private:
  TerminalView view_;
  StreamDebugOutput debug_;
  EmbeddedImages images_;
  UpdateJob job_;
};

}  // namespace korvane::cli
