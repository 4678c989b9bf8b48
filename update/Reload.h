// The reload step after a complete update: the user unplugs the enclosure and plugs it in again,
// and the job waits for it, checks it once more and judges what it runs, so that an update is
// proven by the firmware that runs, not by the write alone.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "DeviceChanges.h"
#include "UpdateJob.h"

namespace korvane {

/// What the replug showed.
enum class ReplugResult : std::uint8_t {
  Runs,          ///< it came back running the version written
  BootRom,       ///< it came back in its boot ROM
  OtherVersion,  ///< it came back running another version
  NotBack,       ///< it did not come back within the wait
  Interrupted,   ///< the user ended the wait; the update itself had completed
  CannotWait,    ///< the platform cannot tell of device changes
};

/// What the reload looks for: the chip to find again, what ran before and what must run now.
struct ReloadExpectation {
  std::uint8_t chipCode = 0;
  std::string path;  ///< where it was written
  std::array<std::uint8_t, 4> before{};
  std::optional<std::array<std::uint8_t, 4>> written;  ///< nothing: the image names none
  std::chrono::milliseconds wait{600'000};
};

/// What a check after the replug found.
struct ReloadSeen {
  ReplugResult result = ReplugResult::NotBack;
  std::string path;                                    ///< where it came back
  std::optional<std::array<std::uint8_t, 4>> version;  ///< what runs, when read
  bool romMode = false;
};

/// What the reload of a prepared update looks for, after a check that read before.
ReloadExpectation ExpectReload(const PreparedUpdate& plan,
                               const std::optional<std::array<std::uint8_t, 4>>& before,
                               std::chrono::milliseconds wait);

/// Judges the job's last scan and check after a change: nothing while the enclosure is gone, not
/// found alone, or another chip's. The wait ends at once for the version written or the boot
/// ROM; another version counts once the enclosure was seen gone, or when it differs from what
/// ran before. seenGone is raised when this scan found no enclosure.
std::optional<ReloadSeen> JudgeReload(const UpdateJob& job, const ReloadExpectation& expected,
                                      bool& seenGone);

/// What the wait lends the reload: the changes it listens to, when to stop, and what is done
/// before each scan.
struct ReloadWait {
  DeviceChanges& changes;
  Clock& clock;
  std::function<bool()> stop;        ///< true once the user asked to stop waiting
  std::function<void()> beforeScan;  ///< none: nothing
};

/// Waits for settled device changes until a scan and check of the job shows the enclosure back,
/// or the wait ends: the user stopped it, or the time ran out.
ReloadSeen WaitForReload(UpdateJob& job, const ReloadWait& wait, const ReloadExpectation& expected);

}  // namespace korvane
