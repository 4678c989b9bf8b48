#include "CommandRun.h"

#include "BackupCommand.h"
#include "CheckCommand.h"
#include "DeviceStack.h"
#include "DiskEntries.h"
#include "ListCommand.h"
#include "Text.h"
#include "UpdateCommand.h"
#include "VerifyCommand.h"

namespace korvane::cli {
namespace {

int Dispatch(const Invocation& invocation, CommandContext& context) {
  switch (invocation.command) {
    case Command::List:
      return RunList(context);
    case Command::Check:
      return RunCheck(context);
    case Command::Update:
      return RunUpdate(context, invocation.update,
                       invocation.imageFile ? &*invocation.imageFile : nullptr);
    case Command::Backup:
      return RunBackup(context, invocation.backup);
    case Command::Verify:
      return RunVerify(context, *invocation.imageFile);
    case Command::None:
    case Command::Report:
    case Command::History:
    case Command::Inspect:
      break;
  }
  context.err << "korvane-fw: no command to run\n";
  return exitcode::kBadInput;
}

/// Opens one output, or says why it cannot be written.
std::optional<std::string> OpenOutput(std::optional<WatchedOutput>& output, const std::string& path,
                                      std::string_view what, const Console& console) {
  auto opened = OutputFile::Open(path, Existing::Replace, *console.files);
  if (auto* problem = std::get_if<std::string>(&opened)) return std::move(*problem);
  output.emplace(std::move(std::get<OutputFile>(opened)), std::string(what), console.err);
  return std::nullopt;
}

/// The code of a command whose outcome holds, but one of whose files was not saved: a command
/// that succeeded must not say so by its code; one that failed keeps its own.
int OutputNotSaved(int code) { return code == exitcode::kOk ? exitcode::kOutputNotSaved : code; }

/// Ends the trace with the code the run ends with; the trace file takes the place of an older
/// one only now that it is complete.
int FinishTrace(CommandTrace& trace, const Console& console, JsonAnswer& answer, int code) {
  trace.writer.Exit(code);
  if (trace.file == nullptr) return code;
  const std::optional<std::string> problem = trace.file->Finish();
  if (!problem) return code;
  SayNotSaved(console, answer, "the trace", *problem);
  return OutputNotSaved(code);
}

}  // namespace

/// Opens every file the run writes before anything is sent: one that cannot be written ends the
/// run with nothing sent to a bridge.
std::optional<std::string> OpenOutputs(const Invocation& invocation, Outputs& outputs,
                                       const Console& console) {
  const GlobalOptions& options = invocation.options;
  const bool report = invocation.command == Command::Report;
  if (!options.trace.empty()) {
    if (auto problem = OpenOutput(outputs.trace, options.trace, "the trace", console)) {
      return "cannot write the trace file: " + *problem;
    }
  }
  if (!options.saveState.empty()) {
    if (auto problem = OpenOutput(outputs.state, options.saveState, "the state", console)) {
      return "cannot write the state file: " + *problem;
    }
  }
  if (report) {
    if (auto problem =
            OpenOutput(outputs.report, invocation.report.output, "the report", console)) {
      return "cannot write the report: " + *problem;
    }
  }
  return std::nullopt;
}

/// Says that a file the run was to write was not saved, on standard error and in the answer.
void SayNotSaved(const Console& console, JsonAnswer& answer, std::string_view what,
                 const std::string& problem) {
  const std::string text = std::string(what) + " was not saved: " + problem;
  console.err << "korvane-fw: " << Printable(text) << '\n';
  answer.Add(Severity::Error, text);
}

/// After the command: the simulated enclosures as after a replug, when asked for.
int SaveState(std::optional<WatchedOutput>& state, const Devices& devices, const Console& console,
              JsonAnswer& answer, int code) {
  if (!state) return code;
  const std::optional<std::string> text = devices.SavedStateText();
  if (text) state->Write(*text);
  std::optional<std::string> problem = text ? state->Finish() : "these enclosures cannot be saved";
  state.reset();
  if (!problem) return code;
  SayNotSaved(console, answer, "the state", *problem);
  return OutputNotSaved(code);
}

int RunCommand(const Invocation& invocation, const Console& console, Devices& devices,
               CommandTrace* trace, Outputs& outputs, InterruptDeferral& interrupts) {
  DeviceStack stack(devices, trace != nullptr ? &trace->writer : nullptr);
  KeptMessages messages;
  JsonAnswer answer;
  CommandContext context{invocation.options, console,  stack.devices(), stack.access(),
                         stack.io(),         messages, interrupts,      console.out,
                         console.err,        answer,   stack.services()};
  int code = Dispatch(invocation, context);
  code = SaveState(outputs.state, devices, console, answer, code);
  if (const int signalled = interrupts.exitCode(); signalled != 0) code = signalled;
  if (trace != nullptr) code = FinishTrace(*trace, console, answer, code);
  // The answer names the exit status, so it is printed once that is known.
  if (invocation.options.json)
    console.out << DumpJson(answer.Framed(invocation.argv, code)) << '\n';
  return code;
}

trace::TraceHeader HeaderFor(const Invocation& invocation, const Devices& devices) {
  trace::TraceHeader header;
  header.program = "korvane-fw";
  header.programVersion = KORVANE_VERSION;
  header.platform = std::string(trace::ThisPlatform());
  header.command = invocation.words;
  header.enclosures = devices.enclosures();
  const bool updates = invocation.command == Command::Update;
  header.backup = updates && !invocation.update.noBackup;
  if (updates && invocation.imageFile) {
    const ImageFile& file = *invocation.imageFile;
    header.image = trace::TracedFile{file.path, file.bytes.size(), file.sha256};
  }
  return header;
}

/// Runs the command and writes its trace to the trace file.
int RunTraced(const Invocation& invocation, const Console& console, Devices& devices,
              Outputs& outputs, InterruptDeferral& interrupts) {
  WatchedOutput& file = *outputs.trace;
  trace::TraceWriter writer(HeaderFor(invocation, devices),
                            [&file](const std::string& line) { file.Write(line + "\n"); });
  CommandTrace trace{writer, &file};
  return RunCommand(invocation, console, devices, &trace, outputs, interrupts);
}

}  // namespace korvane::cli
