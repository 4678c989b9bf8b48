// What the two demonstration programs share around their window: the command line
// [SCENARIO | --replay FILE], the simulated or recorded enclosures it names, stack time that keeps
// up with the time the window has been running, and the end of a replay that left its recording.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "Clock.h"
#include "DeviceChanges.h"
#include "Devices.h"

namespace korvane::demo {

/// The scenario a demonstration shows when its command line names none.
inline constexpr std::string_view kDefaultScenario = "jms583-outdated";
/// Usage errors, unreadable scenarios or traces and a replay that left its recording end the
/// demonstration with the command line's usage code.
inline constexpr int kBadInput = 2;

/// What a demonstration's command line asks for.
struct DemoRequest {
  enum class Kind : std::uint8_t { Scenario, Replay, Usage };
  Kind kind = Kind::Usage;
  std::string argument;  ///< the scenario's name or file, or the trace file
};

/// Reads the arguments that follow the program's name.
DemoRequest ParseDemoArguments(std::span<const std::string> arguments);

/// Device changes whose waits first let the stack's clock catch up with the time that has passed
/// on the real clock since they were made. A window only polls, without waiting; simulated or
/// recorded time would stand still meanwhile, and a disk that a scenario plugs in later would
/// never come.
class PacedChanges final : public DeviceChanges {
 public:
  PacedChanges(DeviceChanges& inner, const Clock& stackClock, const Clock& realClock);

  std::optional<std::string> Listen() override { return inner_.Listen(); }
  ChangeWait Wait(std::chrono::milliseconds timeout) override;

 private:
  /// How far the stack's clock lags behind the real one since the start.
  std::chrono::milliseconds Behind() const;

  DeviceChanges& inner_;
  const Clock& stackClock_;
  const Clock& realClock_;
  std::chrono::microseconds stackStart_;
  std::chrono::microseconds realStart_;
};

/// A simulated or recorded stack whose changes are paced by the real clock.
class PacedDevices final : public Devices {
 public:
  PacedDevices(Devices& inner, const Clock& realClock)
      : inner_(inner), changes_(inner.changes(), inner.clock(), realClock) {}

  Port& port() override { return inner_.port(); }
  DiskLister& lister() override { return inner_.lister(); }
  Clock& clock() override { return inner_.clock(); }
  DeviceChanges& changes() override { return changes_; }
  Enclosures enclosures() const override { return inner_.enclosures(); }
  MountState CheckMounts(std::string_view path) override { return inner_.CheckMounts(path); }
  std::optional<std::string> SavedStateText() const override { return inner_.SavedStateText(); }
  bool Replugs(std::string_view path) const override { return inner_.Replugs(path); }

 private:
  Devices& inner_;
  PacedChanges changes_;
};

/// What a toolkit's demonstration program does around the shared part.
struct DemoWindow {
  /// The program's name in the usage line.
  std::string_view program;
  /// Runs the window over the devices until it closes; returns the program's exit code.
  std::function<int(Devices&)> run;
  /// Shows why the demonstration cannot run, or where a replay left its recording.
  std::function<void(const std::string&)> refuse;
};

/// Runs the demonstration the arguments ask for, on the real clock; returns the exit code.
int RunDemo(std::span<const std::string> arguments, const DemoWindow& window);

}  // namespace korvane::demo
