#include "Cli.h"

#include <CLI/CLI.hpp>
#include <exception>

#include "EmbeddedImages.h"
#include "Options.h"
#include "TerminalGuard.h"
#include "Text.h"

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
  if (const auto idle = IdleOption(invocation, console)) {
    console.err << "korvane-fw: warning: " << *idle << '\n';
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
