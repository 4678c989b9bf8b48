// korvane-fw's command line: its options and commands, parsed into an invocation and checked.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "BackupCommand.h"
#include "Command.h"
#include "InspectCommand.h"
#include "Store.h"
#include "UpdateCommand.h"
#include "VerifyCommand.h"

namespace CLI {
class App;
}

namespace korvane::cli {

/// What report runs and where it writes.
struct ReportOptions {
  bool update = false;  ///< also run an update
  std::string output = "korvane-report.jsonl";
};

/// The commands korvane-fw takes.
enum class Command : std::uint8_t {
  None,
  List,
  Check,
  Update,
  Report,
  Backup,
  History,
  Inspect,
  Verify
};

/// The command's name on the command line and in traces.
std::string_view CommandName(Command command);

/// The parsed command line: the global options and the command that was named.
struct Invocation {
  GlobalOptions options;
  UpdateOptions update;
  ReportOptions report;
  BackupOptions backup;
  InspectOptions inspect;
  VerifyOptions verify;
  /// The file update --image writes, or verify compares, read whole before any command goes to a
  /// bridge.
  std::optional<ImageFile> imageFile;
  Command command = Command::None;
  /// The command and its options as a trace's header names them: without the files and the
  /// enclosures they were taken from.
  std::vector<std::string> words;
  /// The program's name and every argument, as a JSON answer names them.
  std::vector<std::string> argv;
};

/// The command and its options as a trace's header names them: the arguments without the files
/// and the enclosures they name.
std::vector<std::string> CommandWords(std::span<const std::string> args);
/// The options that go before or after any command.
void AddGlobalOptions(CLI::App& app, GlobalOptions& options);
/// --list-scenarios: what --simulate takes by name, one a line, as bash completion asks for it.
void AddScenarioListing(CLI::App& app, std::ostream& out);
/// The commands and their own options, each setting the invocation's command when named.
void AddCommands(CLI::App& app, Invocation& invocation);
/// Parses the arguments; an exit code when parsing ends the run (help, or an error).
std::optional<int> Parse(CLI::App& app, std::span<const std::string> args, std::ostream& out,
                         std::ostream& err);
/// Usage errors that parsing alone cannot see; nothing has touched a disk yet.
std::optional<std::string> CheckUsage(const Invocation& invocation, const Console& console);
/// An option given that has no effect in this run, said once as a warning; nothing when every
/// option counts.
std::optional<std::string> IdleOption(const Invocation& invocation, const Console& console);

}  // namespace korvane::cli
