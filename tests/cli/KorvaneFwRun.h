// Runs korvane-fw in-process on string streams, as the cli tests do.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Cli.h"
#include "Command.h"
#include "SimulatedBus.h"
#include "SimulatedClock.h"
#include "SimulatedDevices.h"

namespace korvane::cli::testing {

/// A JMS583 at 0.0.0.8 with extra keys, as a scenario file.
inline std::string Jms583With(std::string_view keys) {
  return R"({"disks": [{"path": "\\\\?\\usbstor#disk&ven_korvane&prod_nvme#1#{53f56307}",
    "bridge": "jms583", "firmware": "0.0.0.8")" +
         std::string(keys) + "}]}";
}

/// What one run left: the exit code and both output streams.
struct Outcome {
  int code = -1;
  std::string out, err;
};

/// The console a run gets: its input, whether the streams count as terminals, a pump hook.
struct RunConsole {
  std::string input;
  bool inIsTerminal = false;
  bool outIsTerminal = false;
  std::function<void()> onPump;
  std::string stateFolder;  ///< empty: the test program's, StateFolder()
};

/// A person at a terminal who types input.
inline RunConsole TerminalAnswering(std::string input) {
  RunConsole console;
  console.input = std::move(input);
  console.inIsTerminal = true;
  return console;
}
/// Input from a pipe or file.
inline RunConsole PipedInput(std::string input) {
  RunConsole console;
  console.input = std::move(input);
  return console;
}
/// Output to a terminal, input from nowhere.
inline RunConsole TerminalOutput() {
  RunConsole console;
  console.outIsTerminal = true;
  return console;
}
/// Input from nowhere, with a state folder of the test's own.
inline RunConsole InStateFolder(std::string folder) {
  RunConsole console;
  console.stateFolder = std::move(folder);
  return console;
}
/// Output to a pipe, with a hook at every pump of the window's messages.
inline RunConsole PumpHook(std::function<void()> hook) {
  RunConsole console;
  console.onPump = std::move(hook);
  return console;
}

/// Stands in for this machine: the disks the platform lists, which nobody may open, and its
/// device changes.
class LockedMachine final : public Devices {
 public:
  LockedMachine(std::vector<DiskInterface> disks, std::unique_ptr<DeviceChanges> changes)
      : lister_(std::move(disks)), changes_(std::move(changes)) {}
  /// One USB disk that never changes.
  LockedMachine()
      : LockedMachine({{"/dev/sg1", {.usbStorage = true}}}, std::make_unique<NoDeviceChanges>()) {}

  Port& port() override { return bus_; }
  DiskLister& lister() override { return lister_; }
  Clock& clock() override { return clock_; }
  DeviceChanges& changes() override { return *changes_; }
  Enclosures enclosures() const override { return Enclosures::Real; }
  MountState CheckMounts(std::string_view) override { return {}; }

 private:
  struct Lister final : DiskLister {
    explicit Lister(std::vector<DiskInterface> listed) : disks(std::move(listed)) {}
    std::vector<DiskInterface> ListDisks() override { return disks; }
    std::vector<DiskInterface> disks;
  };
  sim::SimulatedClock clock_;
  sim::SimulatedBus bus_{clock_};
  Lister lister_;
  std::unique_ptr<DeviceChanges> changes_;
};

/// A simulated scenario that passes for this machine's own enclosures, as a build of development
/// images must treat them.
class RealLooking final : public Devices {
 public:
  explicit RealLooking(std::unique_ptr<Devices> simulated) : inner_(std::move(simulated)) {}
  Port& port() override { return inner_->port(); }
  DiskLister& lister() override { return inner_->lister(); }
  Clock& clock() override { return inner_->clock(); }
  DeviceChanges& changes() override { return inner_->changes(); }
  Enclosures enclosures() const override { return Enclosures::Real; }
  MountState CheckMounts(std::string_view path) override { return inner_->CheckMounts(path); }

 private:
  std::unique_ptr<Devices> inner_;
};

/// The state folder of every in-process run: one per test program, removed when it ends, so
/// that no test writes backups to the user's own.
inline std::string StateFolder() {
  struct Folder {
    std::filesystem::path path = std::filesystem::temp_directory_path() /
                                 ("korvane-cli-state-" + std::to_string(std::random_device{}()));
    ~Folder() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  };
  static const Folder folder;
  return folder.path.string();
}

/// korvane-fw on the machine the factory makes.
inline Outcome KorvaneFwOn(const PlatformFactory& machine, std::vector<std::string> args,
                           const RunConsole& run = {}) {
  std::istringstream in(run.input);
  std::ostringstream out, err;
  const Console console{in,
                        out,
                        err,
                        run.inIsTerminal,
                        run.outIsTerminal,
                        run.onPump,
                        run.stateFolder.empty() ? StateFolder() : run.stateFolder};
  const int code = RunKorvaneFw(args, console, machine);
  return {code, out.str(), err.str()};
}

/// korvane-fw on a scenario that passes for this machine's own enclosures.
inline Outcome KorvaneFwOnRealLooking(const std::string& scenario, std::vector<std::string> args,
                                      const RunConsole& run = {}) {
  return KorvaneFwOn(
      [&scenario](const PlatformChoices&) -> std::unique_ptr<Devices> {
        auto simulated = SimulatedDevices(scenario);
        return std::make_unique<RealLooking>(
            std::move(std::get<std::unique_ptr<Devices>>(simulated)));
      },
      std::move(args), run);
}

inline Outcome KorvaneFw(std::vector<std::string> args, const RunConsole& run = {}) {
  return KorvaneFwOn([](const PlatformChoices&) { return std::make_unique<LockedMachine>(); },
                     std::move(args), run);
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

/// A JSON answer without the command line that asked for it; other output as it is.
inline std::string WithoutArgv(const std::string& out) {
  auto json = nlohmann::ordered_json::parse(out, nullptr, false);
  if (json.is_discarded() || !json.is_object() || !json.contains("program")) return out;
  json["program"]["argv"] = nlohmann::ordered_json::array();
  return json.dump(2) + "\n";
}

/// A standard output as a replay is held to it. An update that backed the bridge up names the
/// file it wrote, and a replay, which keeps no backup, says so instead: the "Backup written to"
/// and "Backup read:" lines, and the JSON result's "backup"."file", say BACKUP in place of the
/// name. Everything else stays as printed,
/// the backup's SHA-256 included.
inline std::string WithoutBackupFile(const std::string& out) {
  const auto json = nlohmann::json::parse(out, nullptr, false);
  if (!json.is_discarded()) {
    const auto* file = json.is_object() && json.contains("backup") && json["backup"].is_object()
                           ? &json["backup"]
                           : nullptr;
    if (file == nullptr || !file->contains("file") || !(*file)["file"].is_string()) return out;
    // The name as the JSON writes it, quotes included, wherever it stands.
    const std::string name = (*file)["file"].dump();
    std::string kept;
    std::size_t from = 0;
    for (std::size_t at; (at = out.find(name, from)) != std::string::npos;
         from = at + name.size()) {
      kept += out.substr(from, at - from) + "\"BACKUP\"";
    }
    return kept + out.substr(from);
  }
  constexpr std::string_view kWritten = "Backup written to ";
  constexpr std::string_view kKeptNone = "Backup read: ";
  std::istringstream lines(out);
  std::string kept, line;
  while (std::getline(lines, line)) {
    const bool backup = line.starts_with(kWritten) || line.starts_with(kKeptNone);
    kept += backup ? std::string(kWritten) + "BACKUP" : line;
    if (!lines.eof()) kept += '\n';
  }
  return kept;
}

/// A file's bytes as text.
inline std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

/// The commands of a trace file, without its header, listings, mount checks and exit code.
inline std::vector<nlohmann::json> TraceRecords(const std::string& path) {
  std::vector<nlohmann::json> records;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) {
    auto record = nlohmann::json::parse(line);
    if (record.contains("path")) records.push_back(std::move(record));
  }
  return records;
}

/// How many commands of a trace sent data to a bridge.
inline int Writes(const std::vector<nlohmann::json>& records) {
  int writes = 0;
  for (const auto& record : records) writes += record["dir"] == "out" ? 1 : 0;
  return writes;
}

/// A fresh temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    path_ = std::filesystem::temp_directory_path() /
            ("korvane-cli-" + std::to_string(std::random_device{}()) + "-" +
             std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  /// The path of a file in the directory, written with content when content is given.
  std::string File(std::string_view name, std::string_view content = {}) const {
    const auto file = path_ / name;
    if (!content.empty()) std::ofstream(file) << content;
    return file.string();
  }
  std::string path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace korvane::cli::testing
