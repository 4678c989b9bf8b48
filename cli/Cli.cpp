#include "Cli.h"

#include <CLI/CLI.hpp>
#include <exception>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>
#include <vector>

#include "CheckCommand.h"
#include "ListCommand.h"
#include "SimulatedDevices.h"
#include "TraceJson.h"
#include "UpdateCommand.h"

namespace korvane::cli {
namespace {

constexpr std::string_view kDescription =
    "Updates the firmware of Korvane USB storage enclosures.\n"
    "Without --simulate it talks to the disks attached to this machine.";

/// The parsed command line: the global options and the command that was named.
struct Invocation {
  GlobalOptions options;
  UpdateOptions update;
  std::string command;
};

void AddGlobalOptions(CLI::App& app, GlobalOptions& options) {
  app.add_option("--simulate", options.simulate,
                 "Use simulated enclosures: a built-in scenario name or a scenario file");
  app.add_option("--trace", options.trace, "Write every command sent as one JSON line to FILE")
      ->option_text("FILE");
  app.add_option("--save-state", options.saveState,
                 "With --simulate: after the command, write the simulated enclosures as they "
                 "would be after a replug to FILE, as a scenario file")
      ->option_text("FILE");
  app.add_flag("--json", options.json, "Print the result as JSON");
  app.add_flag("--verbose", options.verbose, "Say more about what was done and left out");
}

void AddCommands(CLI::App& app, Invocation& invocation) {
  // Subcommands take the setting when they are made: global options may then follow the
  // command, as in "update --yes --save-state s.json".
  app.fallthrough();
  auto* list = app.add_subcommand("list", "List the disks behind a recognised bridge chip");
  list->callback([&invocation] { invocation.command = "list"; });
  auto* check = app.add_subcommand(
      "check", "Tell whether an update is offered for the attached enclosure (exit code 3 if so)");
  check->callback([&invocation] { invocation.command = "check"; });
  auto* update = app.add_subcommand(
      "update", "Check, and write the offered firmware after asking for confirmation");
  update->add_flag("--yes,-y", invocation.update.yes, "Do not ask: update once it is offered");
  update->callback([&invocation] { invocation.command = "update"; });
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
    return "name a command: list, check or update (--help shows the options)";
  }
  if (!invocation.options.saveState.empty() && invocation.options.simulate.empty()) {
    return "--save-state saves simulated enclosures: use it with --simulate";
  }
  if (invocation.command == "update" && !invocation.update.yes && !console.inIsTerminal) {
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

/// Writes each command to the trace file as it happens, so a crash leaves the trace so far.
void AttachTrace(Transport& io, std::ofstream& file) {
  io.SetTrace([&file](const TraceRecord& record) { file << TraceJson(record) << std::endl; });
}

/// Writes text to a file beside path and then puts it in its place, so that a failed write
/// never leaves half a scenario where the old one was (the file may be the one --simulate read).
std::optional<std::string> WriteWhole(const std::string& path, const std::string& text) {
  const std::filesystem::path target(path);
  std::filesystem::path temporary = target;
  temporary += ".partial";
  {
    std::ofstream file(temporary, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!(file << text) || !file.flush()) return "cannot write " + temporary.string();
  }
  std::error_code error;
  std::filesystem::rename(temporary, target, error);
  if (!error) return std::nullopt;
  std::filesystem::remove(temporary, error);
  return "cannot replace " + path;
}

/// After the command: the simulated enclosures as after a replug, when asked for.
int SaveState(const GlobalOptions& options, const Devices& devices, std::ostream& err, int code) {
  if (options.saveState.empty()) return code;
  const std::optional<std::string> text = devices.SavedStateText();
  std::optional<std::string> problem =
      text ? WriteWhole(options.saveState, *text) : "these enclosures cannot be saved";
  if (!problem) return code;
  err << "korvane-fw: the state was not saved: " << *problem << '\n';
  return exitcode::kBadInput;
}

int RunWithDevices(const Invocation& invocation, const Console& console, Devices& devices) {
  AccessWatch access(devices.port());
  Transport io(access);
  std::ofstream trace;
  if (!invocation.options.trace.empty()) {
    trace.open(invocation.options.trace, std::ios::out | std::ios::trunc);
    if (!trace) {
      console.err << "korvane-fw: cannot write the trace file " << invocation.options.trace << '\n';
      return exitcode::kBadInput;
    }
    AttachTrace(io, trace);
  }
  KeptMessages messages;
  InterruptDeferral interrupts;
  CommandContext context{invocation.options, console,    devices,     access,     io,
                         messages,           interrupts, console.out, console.err};
  int code = Dispatch(invocation, context);
  code = SaveState(invocation.options, devices, console.err, code);
  // The outcome is out and the state saved: only now does a held-back interrupt count.
  interrupts.Restore();
  if (const int interrupted = interrupts.exitCode(); interrupted != 0) return interrupted;
  return code;
}

int Run(const Invocation& invocation, const Console& console, const PlatformFactory& platform) {
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
