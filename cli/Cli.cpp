#include "Cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <exception>
#include <optional>
#include <sstream>
#include <system_error>
#include <vector>

#include "CheckCommand.h"
#include "ListCommand.h"
#include "PendingFile.h"
#include "ProblemReport.h"
#include "RecordingDevices.h"
#include "ReplayDevices.h"
#include "SimulatedDevices.h"
#include "TraceRecorder.h"
#include "UpdateCommand.h"

namespace korvane::cli {
namespace {

constexpr std::string_view kDescription =
    "Updates the firmware of Korvane USB storage enclosures.\n"
    "Without --simulate it talks to the disks attached to this machine.";

/// What report runs and where it writes.
struct ReportOptions {
  bool update = false;  ///< also run an update
  std::string output = "korvane-report.jsonl";
};

/// The parsed command line: the global options and the command that was named.
struct Invocation {
  GlobalOptions options;
  UpdateOptions update;
  ReportOptions report;
  std::string command;
  /// The command and its options as a trace's header names them: without the files and the
  /// enclosures they were taken from.
  std::vector<std::string> words;
};

/// Options that name where the enclosures or the files are, and take a value.
constexpr std::string_view kPlaceOptions[] = {"--simulate", "--trace", "--save-state", "--replay"};

std::vector<std::string> CommandWords(std::span<const std::string> args) {
  std::vector<std::string> words;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
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
                 "Use simulated enclosures: a built-in scenario name or a scenario file");
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
  app.add_flag("--json", options.json, "Print the result as JSON");
  app.add_flag("--verbose", options.verbose, "Say more about what was done and left out");
}

void AddWaitFlag(CLI::App& command, GlobalOptions& options) {
  command.add_flag("--wait", options.wait,
                   "When no enclosure is attached, wait until one is plugged in (Ctrl-C stops)");
}

void AddCommands(CLI::App& app, Invocation& invocation) {
  // Subcommands take the setting when they are made: global options may then follow the
  // command, as in "update --yes --save-state s.json".
  app.fallthrough();
  auto* list = app.add_subcommand("list", "List the disks behind a recognised bridge chip");
  list->callback([&invocation] { invocation.command = "list"; });
  auto* check = app.add_subcommand(
      "check",
      "Tell whether an update is offered for the attached enclosure (exit code 3 if so); with "
      "--wait, first wait for one to be plugged in");
  AddWaitFlag(*check, invocation.options);
  check->callback([&invocation] { invocation.command = "check"; });
  auto* update = app.add_subcommand(
      "update",
      "Check, and write the offered firmware after asking for confirmation (--yes: do not ask; "
      "--wait: first wait for an enclosure to be plugged in)");
  update->add_flag("--yes,-y", invocation.update.yes, "Do not ask: update once it is offered");
  AddWaitFlag(*update, invocation.options);
  update->callback([&invocation] { invocation.command = "update"; });
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
  report->callback([&invocation] { invocation.command = "report"; });
  // At most one; none is reported by us, so that a misspelt command is named as such.
  app.require_subcommand(0, 1);
}

/// Parses the arguments; an exit code when parsing ends the run (help, or an error).
std::optional<int> Parse(CLI::App& app, std::span<const std::string> args, std::ostream& out,
                         std::ostream& err) {
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    const int code = app.exit(error, out, err);
    return code == 0 ? exitcode::kOk : exitcode::kBadInput;
  }
  return std::nullopt;
}

/// Usage errors that parsing alone cannot see; nothing has touched a disk yet.
std::optional<std::string> CheckUsage(const Invocation& invocation, const Console& console) {
  if (invocation.command.empty()) {
    return "name a command: list, check, update or report (--help shows the options)";
  }
  if (!invocation.options.replay.empty() && !invocation.options.simulate.empty()) {
    return "--replay and --simulate both name the enclosures: use one";
  }
  if (!invocation.options.replay.empty() && invocation.command == "update" &&
      !invocation.update.yes) {
    return "a replay does not ask: add --yes to replay an update";
  }
  if (!invocation.options.saveState.empty() && invocation.options.simulate.empty()) {
    return "--save-state saves simulated enclosures: use it with --simulate";
  }
  if (invocation.command == "report" && !invocation.options.replay.empty()) {
    return "a replay plays one command: replay each run of a report on its own";
  }
  if (invocation.command == "report" && !invocation.options.trace.empty()) {
    return "the report holds the traces itself: leave out --trace";
  }
  const bool updates = invocation.command == "update" ||
                       (invocation.command == "report" && invocation.report.update);
  if (updates && !invocation.update.yes && !console.inIsTerminal) {
    return "update asks for confirmation, but standard input is not a terminal: add --yes to "
           "update without asking";
  }
  return std::nullopt;
}

int Dispatch(const Invocation& invocation, CommandContext& context) {
  if (invocation.command == "list") return RunList(context);
  if (invocation.command == "check") return RunCheck(context);
  if (invocation.command == "update") return RunUpdate(context, invocation.update);
  context.err << "korvane-fw: unknown command " << invocation.command << '\n';
  return exitcode::kBadInput;
}

/// After the command: the simulated enclosures as after a replug, when asked for.
int SaveState(const GlobalOptions& options, const Devices& devices, std::ostream& err, int code) {
  if (options.saveState.empty()) return code;
  const std::optional<std::string> text = devices.SavedStateText();
  std::optional<std::string> problem =
      text ? WriteWholeFile(options.saveState, *text) : "these enclosures cannot be saved";
  if (!problem) return code;
  err << "korvane-fw: the state was not saved: " << *problem << '\n';
  return exitcode::kBadInput;
}

int RunCommand(const Invocation& invocation, const Console& console, Devices& devices,
               trace::TraceWriter* trace) {
  AccessWatch access(devices.port());
  Transport io(access);
  if (trace != nullptr) io.SetTrace([trace](const TraceRecord& record) { trace->Command(record); });
  KeptMessages messages;
  InterruptDeferral interrupts;
  CommandContext context{invocation.options, console,    devices,     access,     io,
                         messages,           interrupts, console.out, console.err};
  int code = Dispatch(invocation, context);
  if (trace != nullptr) trace->Exit(code);
  code = SaveState(invocation.options, devices, console.err, code);
  // The outcome is out and the state saved: only now does a held-back interrupt count.
  interrupts.Restore();
  if (const int interrupted = interrupts.exitCode(); interrupted != 0) return interrupted;
  return code;
}

trace::TraceHeader HeaderFor(const Invocation& invocation, const Devices& devices) {
  trace::TraceHeader header;
  header.program = "korvane-fw";
  header.programVersion = KORVANE_VERSION;
  header.platform = std::string(trace::ThisPlatform());
  header.command = invocation.words;
  header.enclosures = devices.enclosures();
  return header;
}

/// Runs the command and writes its trace; the trace file takes the place of an older one only
/// once it is complete.
int RunTraced(const Invocation& invocation, const Console& console, Devices& devices) {
  auto created = PendingFile::Create(invocation.options.trace);
  if (auto* problem = std::get_if<std::string>(&created)) {
    console.err << "korvane-fw: cannot write the trace file: " << *problem << '\n';
    return exitcode::kBadInput;
  }
  PendingFile& file = std::get<PendingFile>(created);
  trace::TraceWriter writer(HeaderFor(invocation, devices),
                            [&file](const std::string& line) { file.Write(line + "\n"); });
  RecordingDevices recording(devices, writer);
  const int code = RunCommand(invocation, console, recording, &writer);
  if (const auto problem = file.Commit()) {
    console.err << "korvane-fw: the trace was not saved: " << *problem << '\n';
    return code == exitcode::kOk ? exitcode::kBadInput : code;
  }
  return code;
}

/// One command of a report: its JSON result and its trace, kept in memory.
ReportRun RunForReport(const Invocation& invocation, const Console& console, Devices& devices,
                       const std::string& command) {
  Invocation run = invocation;
  run.command = command;
  run.options.json = true;
  run.options.saveState.clear();
  run.words = {command, "--json"};
  if (command == "update" && run.update.yes) run.words.push_back("--yes");
  ReportRun result{run.words, 0, {}, {}};
  trace::TraceWriter writer(HeaderFor(run, devices),
                            [&result](const std::string& line) { result.trace += line + "\n"; });
  RecordingDevices recording(devices, writer);
  std::ostringstream out;
  const Console captured{console.in, out, console.err, console.inIsTerminal, false, console.onPump};
  result.exitCode = RunCommand(run, captured, recording, &writer);
  result.output = out.str();
  return result;
}

/// Runs list and check (and update when asked) and writes their results and traces to one file.
int RunReport(const Invocation& invocation, const Console& console, Devices& devices) {
  std::vector<std::string> commands{"list", "check"};
  if (invocation.report.update) commands.emplace_back("update");
  std::vector<ReportRun> runs;
  for (const std::string& command : commands) {
    runs.push_back(RunForReport(invocation, console, devices, command));
    // An interrupt ends the report after the run it came in, which is kept.
    if (runs.back().exitCode >= exitcode::kInterrupted) break;
  }
  const std::string& file = invocation.report.output;
  if (const auto problem = WriteWholeFile(file, ProblemReportText(invocation.words, runs))) {
    console.err << "korvane-fw: the report was not written: " << *problem << '\n';
    return exitcode::kBadInput;
  }
  const int code = SaveState(invocation.options, devices, console.err, exitcode::kOk);
  console.out << "The report is in " << file << ": attach it to your problem report.\n"
              << "It holds the traces of " << runs.size()
              << " commands, with the bridge's NVRAM record, which may carry the enclosure's "
                 "serial number.\n";
  return runs.back().exitCode >= exitcode::kInterrupted ? runs.back().exitCode : code;
}

int RunWithDevices(const Invocation& invocation, const Console& console, Devices& devices) {
  if (invocation.command == "report") return RunReport(invocation, console, devices);
  if (invocation.options.trace.empty()) return RunCommand(invocation, console, devices, nullptr);
  return RunTraced(invocation, console, devices);
}

/// Runs the command on a recording. Its output is held back until the replay is known to have
/// followed the recording to the end; a replay that left it says only where.
int RunReplay(const Invocation& invocation, const Console& console) {
  auto replay =
      ReplayTraceFile(invocation.options.replay, invocation.command, PastTheRecording::Differs);
  if (auto* problem = std::get_if<std::string>(&replay)) {
    console.err << "korvane-fw: " << *problem << '\n';
    return exitcode::kBadInput;
  }
  ReplayDevices& devices = *std::get<std::unique_ptr<ReplayDevices>>(replay);
  std::ostringstream out;
  std::ostringstream err;
  const Console held{console.in,    out, err, console.inIsTerminal, console.outIsTerminal,
                     console.onPump};
  const int code = RunWithDevices(invocation, held, devices);
  devices.Finish();
  if (const auto difference = devices.divergence()) {
    console.err << "korvane-fw: " << *difference << '\n';
    return exitcode::kBadInput;
  }
  console.out << out.str();
  console.err << err.str();
  return code;
}

int Run(const Invocation& invocation, const Console& console, const PlatformFactory& platform) {
  if (!invocation.options.replay.empty()) return RunReplay(invocation, console);
  if (invocation.options.simulate.empty()) {
    const std::unique_ptr<Devices> devices = platform();
    return RunWithDevices(invocation, console, *devices);
  }
  auto simulated = SimulatedDevices(invocation.options.simulate);
  if (auto* reason = std::get_if<std::string>(&simulated)) {
    console.err << "korvane-fw: " << *reason << '\n';
    return exitcode::kBadInput;
  }
  return RunWithDevices(invocation, console, *std::get<std::unique_ptr<Devices>>(simulated));
}

}  // namespace

void KeptMessages::ShowMessage(std::string_view text, std::string_view caption, MessageIcon) {
  texts_.push_back(std::string(caption) + ": " + std::string(text));
}

int RunKorvaneFw(std::span<const std::string> args, const Console& console,
                 const PlatformFactory& platform) {
  CLI::App app(std::string(kDescription), "korvane-fw");
  app.footer(std::string(kExitCodeTable));
  Invocation invocation;
  invocation.words = CommandWords(args);
  app.set_version_flag("--version", "korvane-fw " KORVANE_VERSION, "Print the version and exit");
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
    console.err << "korvane-fw: " << error.what() << '\n';
    return exitcode::kFailure;
  }
}

}  // namespace korvane::cli
