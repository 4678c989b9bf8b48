#include "Options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <optional>
#include <regex>
#include <span>
#include <sstream>
#include <vector>

#include "SimulatedDevices.h"

namespace korvane::cli {
namespace {

/// Options that name where the enclosures or the files are, and take a value. A trace names the
/// firmware file it wrote in its header.
constexpr std::string_view kPlaceOptions[] = {"--simulate", "--trace",  "--save-state",
                                              "--replay",   "--output", "--image"};

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
                  "Write firmware older than the running one: a file, or a JMS583's carried "
                  "firmware");
  update.add_flag("--allow-reinstall", options.allowReinstall,
                  "Write the version that runs already");
  update.add_flag("--force", options.force,
                  "With --image: write a file whose version cannot be ordered against the "
                  "running one (a JMS578 image)");
  update.add_flag("--no-backup", options.noBackup,
                  "Write without backing up the bridge's firmware first");
  update.add_flag("--restore-nvram", options.restoreNvram,
                  "With --image and a backup of this enclosure: write back its NVRAM record "
                  "instead of rewriting the identity");
}

/// Text from the argument parser with each line as korvane-fw's own error lines begin.
std::string Prefixed(const std::string& text) {
  std::string prefixed;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) prefixed += "korvane-fw: " + line + '\n';
  return prefixed;
}

/// The commands that have name among their own options.
std::vector<std::string> OwnersOf(CLI::App& app, const std::string& name) {
  std::vector<std::string> owners;
  for (CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) {
    if (command->get_option_no_throw(name) != nullptr) owners.push_back(command->get_name());
  }
  return owners;
}

/// The command named in args: the first word that names one.
std::string NamedCommand(CLI::App& app, std::span<const std::string> args) {
  for (const std::string& arg : args) {
    const auto named =
        app.get_subcommands([&arg](CLI::App* command) { return command->get_name() == arg; });
    if (!named.empty()) return arg;
  }
  return {};
}

/// Where an option given before the command belongs, when it is one of a command's own options
/// and no global one; nothing when no such option precedes the command.
std::optional<std::string> MisplacedOption(CLI::App& app, std::span<const std::string> args) {
  const std::string command = NamedCommand(app, args);
  for (const std::string& arg : args) {
    if (!command.empty() && arg == command) break;
    if (!arg.starts_with('-')) continue;
    const std::string name = arg.substr(0, arg.find('='));
    if (app.get_option_no_throw(name) != nullptr) continue;
    const std::vector<std::string> owners = OwnersOf(app, name);
    if (owners.empty()) continue;
    if (std::ranges::find(owners, command) != owners.end()) {
      return name + " belongs to " + command + ": give it after the command, as in korvane-fw " +
             command + " " + name;
    }
    std::string commands = owners.front();
    for (std::size_t i = 1; i < owners.size(); ++i) {
      commands += (i + 1 == owners.size() ? " and " : ", ") + owners[i];
    }
    return name + " is an option of " + commands + " only: give it after one of them";
  }
  return std::nullopt;
}

/// The parser's words for an option given too often or without its value, said plainly;
/// nothing for other errors, whose words stand.
std::optional<std::string> Reworded(const std::string& what) {
  static const std::regex kAtMost(R"(^(\S+): At Most (\d+) required but received (\d+)$)");
  static const std::regex kMissing(R"(^(\S+): (\d+) required (\S+) missing$)");
  std::smatch match;
  if (std::regex_match(what, match, kAtMost)) {
    const std::string most = match[2] == "1" ? "once" : match[2].str() + " times";
    return match[1].str() + " was given " + match[3].str() + " times: give it " + most;
  }
  if (std::regex_match(what, match, kMissing)) return match[1].str() + " needs a value";
  return std::nullopt;
}

/// What the parser said, with its words replaced where ours are plainer.
std::string ParserText(CLI::App& app, std::span<const std::string> args,
                       const CLI::ParseError& error, const std::string& said) {
  std::optional<std::string> better = MisplacedOption(app, args);
  if (!better) better = Reworded(error.what());
  if (!better) return said;
  std::string text = said;
  const std::string what = error.what();
  if (const auto at = text.find(what); at != std::string::npos)
    text.replace(at, what.size(), *better);
  return text;
}

/// Where a command name was taken as the value of the option before it, as in "--simulate
/// check": that option asks for its own value.
std::optional<std::string> CommandTakenAsValue(const GlobalOptions& options) {
  struct Valued {
    std::string_view option;
    std::string_view what;
    const std::string& value;
  };
  const Valued valued[] = {{"--simulate", "SCENARIO", options.simulate},
                           {"--replay", "TRACE", options.replay},
                           {"--trace", "FILE", options.trace},
                           {"--save-state", "FILE", options.saveState},
                           {"--device", "PATH", options.device}};
  constexpr auto kLast = static_cast<int>(Command::Verify);
  for (const Valued& given : valued) {
    for (int command = 1; command <= kLast; ++command) {
      if (given.value != CommandName(static_cast<Command>(command))) continue;
      return std::string(given.option) + " took the command " + given.value +
             " as its value: give its " + std::string(given.what) + " first, as in korvane-fw " +
             std::string(given.option) + " " + std::string(given.what) + " " + given.value;
    }
  }
  return std::nullopt;
}

/// A path the disk list could show; an empty one names no enclosure.
const CLI::Validator kDevicePath(
    [](const std::string& path) {
      return path.empty() ? std::string(
                                "an empty path names no enclosure: korvane-fw list shows "
                                "the paths")
                          : std::string();
    },
    "");

}  // namespace

std::string_view CommandName(Command command) {
  static constexpr std::array<std::string_view, 9> kNames{
      "", "list", "check", "update", "report", "backup", "history", "inspect", "verify"};
  return kNames[static_cast<std::size_t>(command)];
}

std::vector<std::string> CommandWords(std::span<const std::string> args) {
  std::vector<std::string> words;
  bool fileOperand = false;  ///< the next word without a dash is the file inspect or verify names
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (arg == "inspect" || arg == "verify") fileOperand = true;
    if (fileOperand && !arg.starts_with('-') && arg != "inspect" && arg != "verify") {
      fileOperand = false;
      continue;
    }
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
      ->option_text("PATH")
      ->check(kDevicePath);
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
  auto* inspect = app.add_subcommand(
      "inspect",
      "Say what a firmware file holds (chip, version, SHA-256, whether it is a backup and of "
      "which enclosure) and whether update --image would refuse it for each chip; no enclosure "
      "is opened");
  inspect->add_option("FILE", invocation.inspect.file, "The firmware file")->required();
  inspect->callback([&invocation] { invocation.command = Command::Inspect; });
  auto* verify = app.add_subcommand(
      "verify",
      "Read the bridge's firmware twice, as backup does, and tell whether it is the firmware of "
      "FILE (exit code 12 if not); nothing is written");
  verify->add_option("FILE", invocation.verify.file, "The firmware file to compare with")
      ->required();
  AddWaitFlag(*verify, invocation.options);
  verify->callback([&invocation] { invocation.command = Command::Verify; });
  // At most one; none is reported by us, so that a misspelt command is named as such.
  app.require_subcommand(0, 1);
}

std::optional<int> Parse(CLI::App& app, std::span<const std::string> args, std::ostream& out,
                         std::ostream& err) {
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    std::ostringstream said;
    const int code = app.exit(error, out, said);
    err << Prefixed(code == 0 ? said.str() : ParserText(app, args, error, said.str()));
    return code == 0 ? exitcode::kOk : exitcode::kBadInput;
  }
  return std::nullopt;
}

std::optional<std::string> IdleOption(const Invocation& invocation, const Console& console) {
  if (invocation.command != Command::Update) return std::nullopt;
  const bool replugWait = std::ranges::any_of(invocation.words, [](std::string_view word) {
    return word == "--replug-wait" || word.starts_with("--replug-wait=");
  });
  if (!replugWait) return std::nullopt;
  if (invocation.update.replug == false) {
    return "--replug-wait has no effect with --no-replug: the replug is not waited for";
  }
  if (!invocation.update.replug && !(console.inIsTerminal && console.outIsTerminal)) {
    return "--replug-wait has no effect: without a terminal the replug is waited for only with "
           "--replug";
  }
  return std::nullopt;
}

/// Usage errors that parsing alone cannot see; nothing has touched a disk yet.
std::optional<std::string> CheckUsage(const Invocation& invocation, const Console& console) {
  if (invocation.command == Command::None) {
    if (auto taken = CommandTakenAsValue(invocation.options)) return *taken;
    return "name a command: list, check, update, backup, verify, inspect, report or history "
           "(--help shows the options)";
  }
  const GlobalOptions& options = invocation.options;
  const bool enclosureOptions = !(options.replay.empty() && options.trace.empty() &&
                                  options.saveState.empty() && options.device.empty());
  if (invocation.command == Command::History && enclosureOptions) {
    return "history reads the history file and talks to no enclosure: leave out --replay, "
           "--trace, --save-state and --device";
  }
  if (invocation.command == Command::Inspect && enclosureOptions) {
    return "inspect reads the file alone and talks to no enclosure: leave out --replay, "
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
  const bool fileOptions = update.force || update.restoreNvram;
  if (fileOptions && update.image.empty()) {
    return "--force and --restore-nvram go with --image FILE";
  }
  const bool updates = invocation.command == Command::Update ||
                       (invocation.command == Command::Report && invocation.report.update);
  if (updates && !invocation.update.yes && !console.inIsTerminal) {
    return "update asks for confirmation, but standard input is not a terminal: add --yes to "
           "update without asking";
  }
  return std::nullopt;
}

}  // namespace korvane::cli
