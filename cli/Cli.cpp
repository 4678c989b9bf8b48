#include "Cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <exception>
#include <optional>
#include <sstream>
#include <system_error>
#include <vector>

#include "BackupCommand.h"
#include "CheckCommand.h"
#include "ChosenDisk.h"
#include "DeviceStack.h"
#include "EmbeddedImages.h"
#include "FileIdentity.h"
#include "HistoryCommand.h"
#include "ListCommand.h"
#include "ProblemReport.h"
#include "ReplayDevices.h"
#include "SimulatedDevices.h"
#include "Store.h"
#include "TerminalGuard.h"
#include "Text.h"
#include "TraceRecorder.h"
#include "UpdateCommand.h"

namespace korvane::cli {
namespace {

/// What --version says: the version, and what a build of development images cannot do.
std::string ProgramVersionText() {
  std::string text = "korvane-fw " KORVANE_VERSION;
  if (EmbeddedImages().development()) text += "\n" + std::string(kDevelopmentBuildNote);
  return text;
}

constexpr std::string_view kDescription =
    "Updates the firmware of Korvane USB storage enclosures.\n"
    "Without --simulate it talks to the disks attached to this machine.\n"
    "A file it writes replaces what is there only once it is whole, keeping its permissions; a "
    "backup never replaces a file, and is kept with its record or not at all.";

/// What report runs and where it writes.
struct ReportOptions {
  bool update = false;  ///< also run an update
  std::string output = "korvane-report.jsonl";
};

/// The commands korvane-fw takes.
enum class Command : std::uint8_t { None, List, Check, Update, Report, Backup, History };

/// The command's name on the command line and in traces.
std::string_view CommandName(Command command) {
  static constexpr std::array<std::string_view, 7> kNames{"",       "list",   "check",  "update",
                                                          "report", "backup", "history"};
  return kNames[static_cast<std::size_t>(command)];
}

/// The parsed command line: the global options and the command that was named.
struct Invocation {
  GlobalOptions options;
  UpdateOptions update;
  ReportOptions report;
  BackupOptions backup;
  /// The file update --image writes, read whole before any command goes to a bridge.
  std::optional<ImageFile> imageFile;
  Command command = Command::None;
  /// The command and its options as a trace's header names them: without the files and the
  /// enclosures they were taken from.
  std::vector<std::string> words;
  /// The program's name and every argument, as a JSON answer names them.
  std::vector<std::string> argv;
};

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

/// Options that name where the enclosures or the files are, and take a value. A trace names the
/// firmware file it wrote in its header.
constexpr std::string_view kPlaceOptions[] = {"--simulate", "--trace",  "--save-state",
                                              "--replay",   "--output", "--image"};

std::vector<std::string> CommandWords(std::span<const std::string> args) {
  std::vector<std::string> words;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    // The disk chosen stays, as one word: the command is the first word without a dash.
    if (arg == "--device" && i + 1 < args.size()) {
      words.push_back("--device=" + args[++i]);
      continue;
    }
    const auto place = std::ranges::find_if(kPlaceOptions, [&](std::string_view option) {
      return arg == option || arg.starts_with(std::string(option) + "=");
    });
    if (place == std::end(kPlaceOptions)) {
      words.push_back(args[i]);
    } else if (arg == *place) {
      ++i;
    }
  }
  return words;
}

void AddGlobalOptions(CLI::App& app, GlobalOptions& options) {
  app.add_option("--simulate", options.simulate,
                 "Use simulated enclosures: a built-in scenario name (--list-scenarios names "
                 "them) or a scenario file");
  app.add_option("--trace", options.trace,
                 "Write every command sent and the device's answer as one JSON line each to FILE")
      ->option_text("FILE");
  app.add_option("--replay", options.replay,
                 "Answer every command from a trace FILE instead of a disk (a problem report "
                 "also serves: the run of the command named)")
      ->option_text("FILE");
  app.add_option("--save-state", options.saveState,
                 "With --simulate: after the command, write the simulated enclosures as they "
                 "would be after a replug to FILE, as a scenario file")
      ->option_text("FILE");
  app.add_option("--device", options.device,
                 "Work on the enclosure at PATH alone, as list shows it, when several are "
                 "attached: no other disk receives a command")
      ->option_text("PATH");
  app.add_flag("--json", options.json, "Print the result as JSON");
  app.add_flag("--verbose", options.verbose, "Say more about what was done and left out");
}

/// --list-scenarios: what --simulate takes by name, one a line, as bash completion asks for it.
void AddScenarioListing(CLI::App& app, std::ostream& out) {
  app.add_flag_callback(
      "--list-scenarios",
      [&out] {
        for (const std::string_view name : BuiltInScenarios()) out << name << '\n';
        throw CLI::Success();
      },
      "Print the names of the built-in scenarios that --simulate takes, one a line, and exit");
}

void AddWaitFlag(CLI::App& command, GlobalOptions& options) {
  command.add_flag("--wait", options.wait,
                   "When no enclosure is attached, wait until one is plugged in (Ctrl-C stops)");
}

void AddUpdateFileOptions(CLI::App& update, UpdateOptions& options) {
  update
      .add_option("--image", options.image,
                  "Write this firmware file (a backup, or the vendor's image) instead of the "
                  "carried one, once its layout is checked")
      ->option_text("FILE");
  update.add_flag("--allow-older", options.allowOlder,
                  "With --image: write a file older than the running firmware");
  update.add_flag("--allow-reinstall", options.allowReinstall,
                  "With --image: write the version that runs already");
  update.add_flag("--force", options.force,
                  "With --image: write a file whose version cannot be ordered against the "
                  "running one (a JMS578 image)");
  update.add_flag("--no-backup", options.noBackup,
                  "Write without backing up the bridge's firmware first");
  update.add_flag("--restore-nvram", options.restoreNvram,
                  "With --image and a backup of this enclosure: write back its NVRAM record "
                  "instead of rewriting the identity");
}

void AddCommands(CLI::App& app, Invocation& invocation) {
  // Subcommands take the setting when they are made: global options may then follow the
  // command, as in "update --yes --save-state s.json".
  app.fallthrough();
  auto* list = app.add_subcommand("list", "List the disks behind a recognised bridge chip");
  list->callback([&invocation] { invocation.command = Command::List; });
  auto* check = app.add_subcommand(
      "check",
      "Tell whether an update is offered for the attached enclosure (exit code 3 if so); with "
      "--wait, first wait for one to be plugged in");
  AddWaitFlag(*check, invocation.options);
  check->callback([&invocation] { invocation.command = Command::Check; });
  auto* update = app.add_subcommand(
      "update",
      "Check, and write the offered firmware after asking for confirmation (--yes: do not ask; "
      "--wait: first wait for an enclosure to be plugged in)");
  update->add_flag("--yes,-y", invocation.update.yes, "Do not ask: update once it is offered");
  AddUpdateFileOptions(*update, invocation.update);
  auto* replug = update->add_flag_callback(
      "--replug", [&invocation] { invocation.update.replug = true; },
      "After a complete update, wait for the enclosure to be unplugged and plugged in again and "
      "check what it runs (the default on a terminal)");
  update
      ->add_flag_callback(
          "--no-replug", [&invocation] { invocation.update.replug = false; },
          "Do not wait for the replug after the update")
      ->excludes(replug);
  update
      ->add_option("--replug-wait", invocation.update.replugWait,
                   "How long to wait for the replug, in seconds (default: 600)")
      ->option_text("SECONDS")
      ->check(CLI::Range(1, 86400));
#ifdef _WIN32
  update->add_flag("--force-dismount", invocation.update.forceDismount,
                   "Dismount a volume of the disk even where programs keep files open on it: "
                   "what they have not saved there is lost");
#endif
  AddWaitFlag(*update, invocation.options);
  update->callback([&invocation] { invocation.command = Command::Update; });
  auto* report = app.add_subcommand(
      "report",
      "Run list and check with full traces and write them to one file to attach to a problem "
      "report (it holds the bridge's NVRAM record, which may carry the enclosure's serial number)");
  report->add_flag("--update", invocation.report.update,
                   "Also run update, which asks before writing unless --yes is given");
  report->add_flag("--yes,-y", invocation.update.yes, "With --update: do not ask");
  report
      ->add_option("--output,-o", invocation.report.output,
                   "Where the report goes (default: korvane-report.jsonl)")
      ->option_text("FILE");
  report->callback([&invocation] { invocation.command = Command::Report; });
  auto* backup = app.add_subcommand(
      "backup",
      "Read the bridge's firmware and NVRAM record, each twice, and keep them as a firmware image "
      "file (update --image writes it back)");
  backup
      ->add_option("--output,-o", invocation.backup.output,
                   "Where the backup goes, a file that must not exist yet (default: a new file in "
                   "the backup folder)")
      ->option_text("FILE");
  AddWaitFlag(*backup, invocation.options);
  backup->callback([&invocation] { invocation.command = Command::Backup; });
  auto* history = app.add_subcommand(
      "history",
      "List what updates (complete or failed) and backups were run, oldest first, from the "
      "history file in the state folder");
  history->callback([&invocation] { invocation.command = Command::History; });
  // At most one; none is reported by us, so that a misspelt command is named as such.
  app.require_subcommand(0, 1);
}

/// Text from the argument parser with each line as korvane-fw's own error lines begin.
std::string Prefixed(const std::string& text) {
  std::string prefixed;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) prefixed += "korvane-fw: " + line + '\n';
  return prefixed;
}

/// Parses the arguments; an exit code when parsing ends the run (help, or an error).
std::optional<int> Parse(CLI::App& app, std::span<const std::string> args, std::ostream& out,
                         std::ostream& err) {
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    std::ostringstream said;
    const int code = app.exit(error, out, said);
    err << Prefixed(said.str());
    return code == 0 ? exitcode::kOk : exitcode::kBadInput;
  }
  return std::nullopt;
}

/// Usage errors that parsing alone cannot see; nothing has touched a disk yet.
std::optional<std::string> CheckUsage(const Invocation& invocation, const Console& console) {
  if (invocation.command == Command::None) {
    return "name a command: list, check, update, backup, report or history (--help shows the "
           "options)";
  }
  const GlobalOptions& options = invocation.options;
  if (invocation.command == Command::History &&
      !(options.replay.empty() && options.trace.empty() && options.saveState.empty() &&
        options.device.empty())) {
    return "history reads the history file and talks to no enclosure: leave out --replay, "
           "--trace, --save-state and --device";
  }
  if (!invocation.options.replay.empty() && !invocation.options.simulate.empty()) {
    return "--replay and --simulate both name the enclosures: use one";
  }
  if (!invocation.options.replay.empty() && invocation.command == Command::Update &&
      !invocation.update.yes) {
    return "a replay does not ask: add --yes to replay an update";
  }
  if (!invocation.options.saveState.empty() && invocation.options.simulate.empty()) {
    return "--save-state saves simulated enclosures: use it with --simulate";
  }
  if (invocation.command == Command::Report && !invocation.options.replay.empty()) {
    return "a replay plays one command: replay each run of a report on its own";
  }
  if (invocation.command == Command::Report && !invocation.options.trace.empty()) {
    return "the report holds the traces itself: leave out --trace";
  }
  const UpdateOptions& update = invocation.update;
  const bool fileOptions =
      update.allowOlder || update.allowReinstall || update.force || update.restoreNvram;
  if (fileOptions && update.image.empty()) {
    return "--allow-older, --allow-reinstall, --force and --restore-nvram go with --image FILE";
  }
  const bool updates = invocation.command == Command::Update ||
                       (invocation.command == Command::Report && invocation.report.update);
  if (updates && !invocation.update.yes && !console.inIsTerminal) {
    return "update asks for confirmation, but standard input is not a terminal: add --yes to "
           "update without asking";
  }
  return std::nullopt;
}

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
    case Command::None:
    case Command::Report:
    case Command::History:
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

/// The code of a command whose outcome holds, but one of whose files was not saved: a command
/// that succeeded must not say so by its code; one that failed keeps its own.
int OutputNotSaved(int code) { return code == exitcode::kOk ? exitcode::kOutputNotSaved : code; }

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

/// The trace a command writes: to a file, completed once its exit line is in, or kept in memory
/// (a report's, with no file).
struct CommandTrace {
  trace::TraceWriter& writer;
  WatchedOutput* file = nullptr;
};

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

/// Runs the command and records its outcome. A signal held back since the first write ends the
/// command with its own code, which the trace's last line and the answer name; the caller lets
/// go of the signals once every record is written.
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

/// One command of a report: its JSON result and its trace, kept in memory.
ReportRun RunForReport(const Invocation& invocation, const Console& console, Devices& devices,
                       Command command, InterruptDeferral& interrupts) {
  Invocation run = invocation;
  run.command = command;
  run.options.json = true;
  run.options.saveState.clear();
  run.words = {std::string(CommandName(command)), "--json"};
  if (command == Command::Update && run.update.yes) run.words.push_back("--yes");
  run.argv = {"korvane-fw"};
  run.argv.insert(run.argv.end(), run.words.begin(), run.words.end());
  ReportRun result{run.words, 0, {}, {}};
  trace::TraceWriter writer(HeaderFor(run, devices),
                            [&result](const std::string& line) { result.trace += line + "\n"; });
  std::ostringstream out;
  Console captured = WithStreams(console, out, console.err);
  captured.outIsTerminal = false;
  Outputs none;
  CommandTrace trace{writer};
  result.exitCode = RunCommand(run, captured, devices, &trace, none, interrupts);
  result.output = out.str();
  return result;
}

/// What report answers with --json: the file, and each command it ran with its exit status.
JsonAnswer ReportAnswer(const std::string& file, const std::vector<ReportRun>& runs) {
  nlohmann::ordered_json ran = nlohmann::ordered_json::array();
  for (const ReportRun& run : runs) {
    ran.push_back({{"command", run.words}, {"exit_status", run.exitCode}});
  }
  JsonAnswer answer;
  answer.Set({{"report", file}, {"runs", ran}});
  answer.Add(Severity::Information,
             "the report holds the bridge's NVRAM record, which may carry the enclosure's serial "
             "number");
  return answer;
}

/// Runs list and check (and update when asked) and writes their results and traces to one file.
int RunReport(const Invocation& invocation, const Console& console, Devices& devices,
              Outputs& outputs, InterruptDeferral& interrupts) {
  std::vector<Command> commands{Command::List, Command::Check};
  if (invocation.report.update) commands.push_back(Command::Update);
  std::vector<ReportRun> runs;
  for (const Command command : commands) {
    runs.push_back(RunForReport(invocation, console, devices, command, interrupts));
    // A signal ends the report after the run it came in, which is kept.
    if (exitcode::EndedBySignal(runs.back().exitCode)) break;
  }
  const std::string& file = invocation.report.output;
  JsonAnswer answer = ReportAnswer(file, runs);
  outputs.report->Write(ProblemReportText(invocation.words, runs));
  const std::optional<std::string> problem = outputs.report->Finish();
  if (problem) SayNotSaved(console, answer, "the report", *problem);
  int code = SaveState(outputs.state, devices, console, answer,
                       problem ? exitcode::kOutputNotSaved : exitcode::kOk);
  if (const int signalled = interrupts.exitCode(); signalled != 0) code = signalled;
  if (invocation.options.json) {
    console.out << DumpJson(answer.Framed(invocation.argv, code)) << '\n';
    return code;
  }
  if (problem) return code;
  console.out << "The report is in " << Printable(file) << ": attach it to your problem report.\n"
              << "It holds the traces of " << runs.size()
              << " commands, with the bridge's NVRAM record, which may carry the enclosure's "
                 "serial number.\n";
  return code;
}

/// Runs the command and records its outcome: its history, saved state, trace or report. The
/// signals held back from the first write are let go only once all of those are written.
int RunOn(const Invocation& invocation, const Console& console, Devices& devices,
          Outputs& outputs) {
  InterruptDeferral interrupts;
  int code = 0;
  if (invocation.command == Command::Report) {
    code = RunReport(invocation, console, devices, outputs, interrupts);
  } else if (!outputs.trace) {
    code = RunCommand(invocation, console, devices, nullptr, outputs, interrupts);
  } else {
    code = RunTraced(invocation, console, devices, outputs, interrupts);
  }
  interrupts.Restore();
  // A signal that came after the code was settled still ends the run as that signal does.
  const int late = interrupts.exitCode();
  return late != 0 && !exitcode::EndedBySignal(code) ? late : code;
}

/// Why --device cannot name the disk at path; nothing when it can.
std::optional<std::string> ChoiceProblem(ChosenStanding standing, std::string_view path) {
  const std::string named = "--device " + Printable(path);
  switch (standing) {
    case ChosenStanding::Listed:
      return std::nullopt;
    case ChosenStanding::NotListed:
      return named +
             ": no disk is attached at that path (korvane-fw list shows the paths of the "
             "enclosures)";
    case ChosenStanding::NotCandidate:
      return named +
             ": not a USB, UASP or FireWire disk, which is where a bridge chip sits: no "
             "command is sent to it";
  }
  return std::nullopt;
}

int RunWithDevices(const Invocation& invocation, const Console& console, Devices& devices,
                   Outputs& outputs) {
  const std::string& path = invocation.options.device;
  if (path.empty()) return RunOn(invocation, console, devices, outputs);
  // The other disks are listed by the platform, but never shown to discovery.
  ChosenDisk chosen(devices, path);
  if (const auto problem = ChoiceProblem(chosen.Standing(), path)) {
    console.err << "korvane-fw: " << *problem << '\n';
    return exitcode::kBadInput;
  }
  const int code = RunOn(invocation, console, chosen, outputs);
  // The words for nothing found speak of every disk; only this one was looked at.
  if (code == exitcode::kNothingFound) {
    console.err << "korvane-fw: --device " << Printable(path)
                << ": no bridge chip this tool knows answers there; no other disk was examined\n";
  }
  return code;
}

/// Runs the command on a recording. Its output is held back until the replay is known to have
/// followed the recording to the end; a replay that left it says only where.
int RunReplay(const Invocation& invocation, const Console& console, Outputs& outputs) {
  auto replay = ReplayTraceFile(invocation.options.replay, CommandName(invocation.command),
                                PastTheRecording::Differs);
  if (auto* problem = std::get_if<std::string>(&replay)) {
    console.err << "korvane-fw: " << Printable(*problem) << '\n';
    return exitcode::kBadInput;
  }
  ReplayDevices& devices = *std::get<std::unique_ptr<ReplayDevices>>(replay);
  // A replay does what its recording did, which says whether it backed up before writing.
  Invocation replayed = invocation;
  replayed.update.recordedNoBackup = !devices.recordedBackup();
  std::ostringstream out;
  std::ostringstream err;
  const Console held = WithStreams(console, out, err);
  const int code = RunWithDevices(replayed, held, devices, outputs);
  devices.Finish();
  if (const auto difference = devices.divergence()) {
    console.err << "korvane-fw: " << Printable(*difference) << '\n';
    return exitcode::kBadInput;
  }
  console.out << out.str();
  console.err << err.str();
  return code;
}

/// Reads the file update --image writes, before anything is sent; the reason when it cannot be.
std::optional<std::string> ReadImage(Invocation& invocation) {
  if (invocation.command != Command::Update || invocation.update.image.empty()) {
    return std::nullopt;
  }
  auto read = ReadImageFile(invocation.update.image);
  if (auto* problem = std::get_if<std::string>(&read)) return std::move(*problem);
  invocation.imageFile = std::move(std::get<ImageFile>(read));
  return std::nullopt;
}

int RunHistoryCommand(const Invocation& invocation, const Console& console) {
  if (!invocation.options.json) return RunHistory(console, nullptr);
  JsonAnswer answer;
  const int code = RunHistory(console, &answer);
  console.out << DumpJson(answer.Framed(invocation.argv, code)) << '\n';
  return code;
}

/// The files the run reads and writes, as the command line names them. A saved state may take
/// the place of the scenario it was read from: that file is read whole before anything is sent.
std::vector<store::NamedFile> NamedFiles(const Invocation& invocation) {
  const GlobalOptions& options = invocation.options;
  std::vector<store::NamedFile> files;
  const auto add = [&files](const std::string& path, std::string named, bool output) {
    if (!path.empty()) files.push_back({path, std::move(named), output});
  };
  add(options.trace, "--trace", true);
  add(options.saveState, "--save-state", true);
  add(options.replay, "--replay", false);
  if (invocation.command == Command::Report) add(invocation.report.output, "--output", true);
  if (invocation.command == Command::Backup && !invocation.backup.output.empty()) {
    add(invocation.backup.output, "--output", true);
    add(invocation.backup.output + ".json", "the record of --output", true);
  }
  if (invocation.command == Command::Update && !invocation.update.image.empty()) {
    add(invocation.update.image, "--image", false);
    add(invocation.update.image + ".json", "the record of --image", false);
  }
  return files;
}

int Run(Invocation invocation, const Console& console, const PlatformFactory& platform) {
  // The history is read from the state folder alone: no enclosure, simulated or not, is opened.
  if (invocation.command == Command::History) return RunHistoryCommand(invocation, console);
  if (const auto problem = store::SameFileTwice(NamedFiles(invocation))) {
    console.err << "korvane-fw: " << Printable(*problem) << '\n';
    return exitcode::kBadInput;
  }
  if (const auto problem = ReadImage(invocation)) {
    console.err << "korvane-fw: " << Printable(*problem) << '\n';
    return exitcode::kBadInput;
  }
  Outputs outputs;
  if (const auto problem = OpenOutputs(invocation, outputs, console)) {
    console.err << "korvane-fw: " << Printable(*problem) << '\n';
    return exitcode::kBadInput;
  }
  if (!invocation.options.replay.empty()) return RunReplay(invocation, console, outputs);
  if (invocation.options.simulate.empty()) {
    const std::unique_ptr<Devices> devices =
        platform(PlatformChoices{.forceDismount = invocation.update.forceDismount});
    return RunWithDevices(invocation, console, *devices, outputs);
  }
  auto simulated = SimulatedDevices(invocation.options.simulate);
  if (auto* reason = std::get_if<std::string>(&simulated)) {
    console.err << "korvane-fw: " << Printable(*reason) << '\n';
    return exitcode::kBadInput;
  }
  return RunWithDevices(invocation, console, *std::get<std::unique_ptr<Devices>>(simulated),
                        outputs);
}

}  // namespace

void KeptMessages::ShowMessage(std::string_view text, std::string_view caption, MessageIcon) {
  texts_.push_back(std::string(caption) + ": " + std::string(text));
}

namespace {

/// Runs korvane-fw on a console whose streams are guarded.
int RunGuarded(std::span<const std::string> args, const Console& console,
               const PlatformFactory& platform) {
  CLI::App app(std::string(kDescription), "korvane-fw");
  app.footer(std::string(kExitCodeTable));
  Invocation invocation;
  invocation.words = CommandWords(args);
  invocation.argv = {"korvane-fw"};
  invocation.argv.insert(invocation.argv.end(), args.begin(), args.end());
  app.set_version_flag("--version", ProgramVersionText(), "Print the version and exit");
  AddScenarioListing(app, console.out);
  AddGlobalOptions(app, invocation.options);
  AddCommands(app, invocation);
  if (const auto code = Parse(app, args, console.out, console.err)) return *code;
  if (const auto problem = CheckUsage(invocation, console)) {
    console.err << "korvane-fw: " << *problem << '\n';
    return exitcode::kBadInput;
  }
  try {
    return Run(invocation, console, platform);
  } catch (const std::exception& error) {
    console.err << "korvane-fw: " << Printable(error.what()) << '\n';
    return exitcode::kFailure;
  }
}

}  // namespace

int RunKorvaneFw(std::span<const std::string> args, const Console& console,
                 const PlatformFactory& platform) {
  TerminalGuard err(console.err, nullptr);
  TerminalGuard out(console.out, [&err] {
    err << "korvane-fw: warning: standard output was closed; the rest of what this command says "
           "is not shown, and it goes on to its outcome\n"
        << std::flush;
  });
  const Console guarded = WithStreams(console, out, err);
  return RunGuarded(args, guarded, platform);
}

}  // namespace korvane::cli
