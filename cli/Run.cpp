#include "Run.h"

#include <algorithm>
#include <array>
#include <sstream>
#include <vector>

#include "ChosenDisk.h"
#include "CommandRun.h"
#include "DiskEntries.h"
#include "FileIdentity.h"
#include "HistoryCommand.h"
#include "InspectCommand.h"
#include "ReplayDevices.h"
#include "ReportCommand.h"
#include "SimulatedDevices.h"
#include "Store.h"
#include "Text.h"

namespace korvane::cli {
namespace {

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

/// The options that change what a command sends, which a replay must be given as they were
/// recorded: without them it would leave its recording with nothing said of why.
constexpr std::array<std::string_view, 1> kReplayedOptions{"--replug"};

/// Why the replay needs an option its recording was made with; nothing when it has them all.
std::optional<std::string> MissingRecordedOption(const std::vector<std::string>& recorded,
                                                 const std::vector<std::string>& given) {
  for (const std::string_view option : kReplayedOptions) {
    if (std::ranges::find(recorded, option) != recorded.end() &&
        std::ranges::find(given, option) == given.end()) {
      return "the trace was recorded with " + std::string(option) + ": add it to replay the run";
    }
  }
  return std::nullopt;
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
  if (auto missing = MissingRecordedOption(devices.recordedCommand(), invocation.words)) {
    console.err << "korvane-fw: " << *missing << '\n';
    return exitcode::kBadInput;
  }
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
  const bool verify = invocation.command == Command::Verify;
  const std::string& path = verify ? invocation.verify.file : invocation.update.image;
  if ((invocation.command != Command::Update && !verify) || path.empty()) return std::nullopt;
  auto read = ReadImageFile(path);
  if (auto* problem = std::get_if<std::string>(&read)) return std::move(*problem);
  invocation.imageFile = std::move(std::get<ImageFile>(read));
  return std::nullopt;
}

/// Runs history or inspect, which open no enclosure, framing the answer with --json.
int RunWithoutEnclosure(const Invocation& invocation, const Console& console) {
  const auto run = [&invocation, &console](JsonAnswer* answer) {
    if (invocation.command == Command::Inspect) {
      return RunInspect(console, invocation.inspect, answer);
    }
    return RunHistory(console, answer);
  };
  if (!invocation.options.json) return run(nullptr);
  JsonAnswer answer;
  const int code = run(&answer);
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
  if (invocation.command == Command::Verify) {
    add(invocation.verify.file, "the file to verify", false);
    add(invocation.verify.file + ".json", "the record of the file to verify", false);
  }
  return files;
}

}  // namespace

int Run(Invocation invocation, const Console& console, const PlatformFactory& platform) {
  // The history is read from the state folder alone, and inspect reads its file alone: no
  // enclosure, simulated or not, is opened.
  if (invocation.command == Command::History || invocation.command == Command::Inspect) {
    return RunWithoutEnclosure(invocation, console);
  }
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
    // One korvane-fw runs one job: its nodes may stay open from one command to the next.
    const std::unique_ptr<Devices> devices = platform(
        PlatformChoices{.forceDismount = invocation.update.forceDismount, .keepNodesOpen = true});
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

}  // namespace korvane::cli
