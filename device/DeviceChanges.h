// Device changes: disks plugged in or pulled out, from the platform's notifications, a simulated
// bus or a recording. A program that waits for an enclosure rescans once a burst of them is over.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "Clock.h"

namespace korvane {

/// What one wait for a device change ended with.
enum class ChangeWait : std::uint8_t {
  Change,  ///< a disk came or went
  Quiet,   ///< the time ran out first, or a signal woke the wait
  Ended,   ///< no change can come any more: simulated or recorded disks that are all there
};

/// A source of device changes. Nothing is reported until it listens.
class DeviceChanges {
 public:
  virtual ~DeviceChanges() = default;
  /// Starts listening: a change from now on is reported, even one that comes before the first
  /// wait. The reason when the platform cannot tell of changes; nothing when it listens.
  virtual std::optional<std::string> Listen() = 0;
  /// Waits at most timeout for the next change, on the clock of the device stack it belongs to.
  virtual ChangeWait Wait(std::chrono::milliseconds timeout) = 0;
};

/// For stacks whose disks never change.
class NoDeviceChanges final : public DeviceChanges {
 public:
  std::optional<std::string> Listen() override { return std::nullopt; }
  ChangeWait Wait(std::chrono::milliseconds) override { return ChangeWait::Ended; }
};

/// How waiting for settled changes ended.
enum class SettledWait : std::uint8_t {
  Settled,      ///< a burst of changes came and has been quiet for the whole interval
  Ended,        ///< no change came and none can come any more
  Interrupted,  ///< stop said so first
  TimedOut,     ///< the deadline passed before a change came
};

/// How long device changes must lie quiet before a rescan: the window's rescan timer, and the
/// command line's wait for an enclosure.
inline constexpr std::chrono::milliseconds kRescanInterval{500};

/// Waits for device changes and returns once the last change of a burst lies quiet behind by
/// the interval, as the window's rescan timer does: every change starts the interval again.
/// stop is asked at least every slice, so that a signal is acted on soon after it comes. With a
/// deadline on the clock, no first change by then ends the wait as TimedOut, and a burst still
/// going on then counts as settled.
SettledWait WaitForSettledChanges(DeviceChanges& changes, Clock& clock,
                                  std::chrono::milliseconds interval,
                                  const std::function<bool()>& stop,
                                  std::optional<std::chrono::microseconds> deadline = {});

}  // namespace korvane
