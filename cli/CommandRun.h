// The run of one command on its enclosures: the files it writes, its trace, and its answer.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Command.h"
#include "Options.h"
#include "Store.h"
#include "TraceRecorder.h"

namespace korvane::cli {

/// A file the run writes, opened before any command goes to a bridge. Where it breaks while the
/// command runs (a FIFO whose reader went away), that is said once and the command goes on.
class WatchedOutput {
 public:
  WatchedOutput(OutputFile file, std::string what, std::ostream& err)
      : file_(std::move(file)), what_(std::move(what)), err_(err) {}

  void Write(std::string_view text) {
    if (!file_.Write(text)) Warn(file_.failure());
  }
  /// Completes the file; the reason when a replacing file was not written. A FIFO or device that
  /// broke was warned of already, and does not change the command's outcome.
  std::optional<std::string> Finish() {
    std::optional<std::string> problem = file_.Commit();
    if (!problem || !file_.direct()) return problem;
    Warn(*problem);
    return std::nullopt;
  }

 private:
  void Warn(std::string_view reason) {
    if (warned_) return;
    warned_ = true;
    err_ << "korvane-fw: warning: " << what_ << " stopped: " << Printable(reason)
         << "; the command goes on\n"
         << std::flush;
  }

  OutputFile file_;
  std::string what_;
  std::ostream& err_;
  bool warned_ = false;
};

/// The files a run writes, each present when asked for.
struct Outputs {
  std::optional<WatchedOutput> trace;
  std::optional<WatchedOutput> state;
  std::optional<WatchedOutput> report;
};

/// Opens every file the run writes before anything is sent: one that cannot be written ends the
/// run with nothing sent to a bridge.
std::optional<std::string> OpenOutputs(const Invocation& invocation, Outputs& outputs,
                                       const Console& console);
/// Says that a file the run was to write was not saved, on standard error and in the answer.
void SayNotSaved(const Console& console, JsonAnswer& answer, std::string_view what,
                 const std::string& problem);
/// After the command: the simulated enclosures as after a replug, when asked for.
int SaveState(std::optional<WatchedOutput>& state, const Devices& devices, const Console& console,
              JsonAnswer& answer, int code);

/// The trace a command writes: to a file, completed once its exit line is in, or kept in memory
/// (a report's, with no file).
struct CommandTrace {
  trace::TraceWriter& writer;
  WatchedOutput* file = nullptr;
};

/// Runs the command and records its outcome. A signal held back since the first write ends the
/// command with its own code, which the trace's last line and the answer name; the caller lets
/// go of the signals once every record is written.
int RunCommand(const Invocation& invocation, const Console& console, Devices& devices,
               CommandTrace* trace, Outputs& outputs, InterruptDeferral& interrupts);
/// The header of the command's trace: the program, the platform, the command and its enclosures.
trace::TraceHeader HeaderFor(const Invocation& invocation, const Devices& devices);
/// Runs the command and writes its trace to the trace file.
int RunTraced(const Invocation& invocation, const Console& console, Devices& devices,
              Outputs& outputs, InterruptDeferral& interrupts);

}  // namespace korvane::cli
