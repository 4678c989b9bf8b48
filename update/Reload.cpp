#include "Reload.h"

namespace korvane {
namespace {

using std::chrono::milliseconds;

/// The check of the last scan, where the scan led to one of a single disk.
const VersionCheck* CheckedAlone(const UpdateJob& job) {
  if (!job.LeadsToCheck() || job.check().path.empty()) return nullptr;
  return &job.check();
}

}  // namespace

ReloadExpectation ExpectReload(const PreparedUpdate& plan,
                               const std::optional<std::array<std::uint8_t, 4>>& before,
                               std::chrono::milliseconds wait) {
  ReloadExpectation expected;
  expected.chipCode = plan.chip != nullptr ? plan.chip->chipCode : 0;
  expected.path = plan.path;
  if (before) expected.before = *before;
  expected.written = plan.running;
  expected.wait = wait;
  return expected;
}

std::optional<ReloadSeen> JudgeReload(const UpdateJob& job, const ReloadExpectation& expected,
                                      bool& seenGone) {
  if (job.verdict() == CheckVerdict::NotFound) seenGone = true;
  const VersionCheck* check = CheckedAlone(job);
  if (check == nullptr || !check->firmware) return std::nullopt;
  if (ChipCodeOf(check->bridgeInfo) != expected.chipCode) return std::nullopt;
  ReloadSeen seen{ReplugResult::OtherVersion, check->path, check->firmware, check->romMode};
  if (check->romMode) {
    seen.result = ReplugResult::BootRom;
    return seen;
  }
  if (*check->firmware == expected.written) {
    seen.result = ReplugResult::Runs;
    return seen;
  }
  // The old firmware keeps running until the power cycle: unchanged, it has not replugged yet.
  if (!seenGone && *check->firmware == expected.before) return std::nullopt;
  return seen;
}

ReloadSeen WaitForReload(UpdateJob& job, const ReloadWait& wait,
                         const ReloadExpectation& expected) {
  const auto deadline = wait.clock.Now() + expected.wait;
  bool seenGone = false;
  for (;;) {
    switch (WaitForSettledChanges(wait.changes, wait.clock, kRescanInterval, wait.stop, deadline)) {
      case SettledWait::Interrupted:
        return {ReplugResult::Interrupted, {}, std::nullopt, false};
      case SettledWait::TimedOut:
        return {};
      case SettledWait::Ended:
        // Nothing can come any more: the rest of the wait passes as it would have.
        wait.clock.Sleep(std::chrono::ceil<milliseconds>(deadline - wait.clock.Now()));
        return {};
      case SettledWait::Settled:
        break;
    }
    if (wait.beforeScan) wait.beforeScan();
    job.ScanAndCheck();
    if (auto seen = JudgeReload(job, expected, seenGone)) return *seen;
  }
}

}  // namespace korvane
