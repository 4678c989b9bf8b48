#include "Cli.h"

#include <CLI/CLI.hpp>
#include <exception>
#include <fstream>
#include <iostream>
#include <vector>

#include "Command.h"
#include "ListCommand.h"
#include "TraceJson.h"

namespace korvane::cli {
namespace {

constexpr std::string_view kDescription =
    "Updates the firmware of Korvane USB storage enclosures.\n"
    "Without --simulate it talks to the disks attached to this machine.";

/// The parsed command line: the global options and the command that was named.
struct Invocation {
  GlobalOptions options;
  std::string command;
};

void AddGlobalOptions(CLI::App& app, GlobalOptions& options) {
  app.add_option("--simulate", options.simulate,
                 "Use simulated enclosures: a built-in scenario name or a scenario file");
  app.add_option("--trace", options.trace, "Write every command sent as one JSON line to FILE")
      ->option_text("FILE");
  app.add_flag("--json", options.json, "Print the result as JSON");
  app.add_flag("--verbose", options.verbose, "Say more about what was done and left out");
}

void AddCommands(CLI::App& app, Invocation& invocation) {
  auto* list = app.add_subcommand("list", "List the disks behind a recognised bridge chip");
  list->callback([&invocation] { invocation.command = "list"; });
  // At most one; none is reported by us, so that a misspelt command is named as such.
  app.require_subcommand(0, 1);
  app.fallthrough();
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

int Dispatch(const Invocation& invocation, CommandContext& context) {
  if (invocation.command == "list") return RunList(context);
  context.err << "korvane-fw: unknown command " << invocation.command << '\n';
  return exitcode::kBadInput;
}

/// Writes each command to the trace file as it happens, so a crash leaves the trace so far.
void AttachTrace(Transport& io, std::ofstream& file) {
  io.SetTrace([&file](const TraceRecord& record) { file << TraceJson(record) << std::endl; });
}

int RunWithDevices(const Invocation& invocation, Devices& devices, std::ostream& out,
                   std::ostream& err) {
  Transport io(devices.port());
  std::ofstream trace;
  if (!invocation.options.trace.empty()) {
    trace.open(invocation.options.trace, std::ios::out | std::ios::trunc);
    if (!trace) {
      err << "korvane-fw: cannot write the trace file " << invocation.options.trace << '\n';
      return exitcode::kBadInput;
    }
    AttachTrace(io, trace);
  }
  KeptMessages messages;
  CommandContext context{invocation.options, devices, io, messages, out, err};
  return Dispatch(invocation, context);
}

int Run(const Invocation& invocation, std::ostream& out, std::ostream& err,
        const PlatformFactory& platform) {
  if (invocation.options.simulate.empty()) {
    const std::unique_ptr<Devices> devices = platform();
    return RunWithDevices(invocation, *devices, out, err);
  }
  auto simulated = SimulatedDevices(invocation.options.simulate);
  if (auto* reason = std::get_if<std::string>(&simulated)) {
    err << "korvane-fw: " << *reason << '\n';
    return exitcode::kBadInput;
  }
  return RunWithDevices(invocation, *std::get<std::unique_ptr<Devices>>(simulated), out, err);
}

}  // namespace

void KeptMessages::ShowMessage(std::string_view text, std::string_view caption, MessageIcon) {
  texts_.push_back(std::string(caption) + ": " + std::string(text));
}

int RunKorvaneFw(std::span<const std::string> args, std::ostream& out, std::ostream& err,
                 const PlatformFactory& platform) {
  CLI::App app(std::string(kDescription), "korvane-fw");
  Invocation invocation;
  AddGlobalOptions(app, invocation.options);
  AddCommands(app, invocation);
  if (const auto code = Parse(app, args, out, err)) return *code;
  if (invocation.command.empty()) {
    err << "korvane-fw: name a command: list (--help shows the options)\n";
    return exitcode::kBadInput;
  }
  try {
    return Run(invocation, out, err, platform);
  } catch (const std::exception& error) {
    err << "korvane-fw: " << error.what() << '\n';
    return exitcode::kNothingFound;
  }
}

}  // namespace korvane::cli
