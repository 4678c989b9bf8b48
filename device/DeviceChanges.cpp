#include "DeviceChanges.h"

#include <algorithm>
#include <optional>

namespace korvane {
namespace {

/// The longest a wait runs before stop is asked again. A signal usually wakes a wait at once;
/// this bounds the one that came just before the wait began.
constexpr std::chrono::milliseconds kSlice{200};

std::chrono::milliseconds Remaining(const Clock& clock, std::chrono::microseconds deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock.Now());
  return std::clamp(left, std::chrono::milliseconds{0}, kSlice);
}

/// Until the first change; Settled stands for "a change came".
SettledWait WaitForFirstChange(DeviceChanges& changes, const Clock& clock,
                               const std::function<bool()>& stop,
                               std::optional<std::chrono::microseconds> deadline) {
  while (!stop()) {
    const std::chrono::milliseconds slice = deadline ? Remaining(clock, *deadline) : kSlice;
    if (slice.count() == 0) return SettledWait::TimedOut;
    switch (changes.Wait(slice)) {
      case ChangeWait::Change:
        return SettledWait::Settled;
      case ChangeWait::Ended:
        return SettledWait::Ended;
      case ChangeWait::Quiet:
        break;
    }
  }
  return SettledWait::Interrupted;
}

}  // namespace

SettledWait WaitForSettledChanges(DeviceChanges& changes, Clock& clock,
                                  std::chrono::milliseconds interval,
                                  const std::function<bool()>& stop,
                                  std::optional<std::chrono::microseconds> end) {
  if (const SettledWait first = WaitForFirstChange(changes, clock, stop, end);
      first != SettledWait::Settled) {
    return first;
  }
  // Every change starts the interval again, never past the end.
  const auto settleBy = [&clock, interval, end] {
    const auto by = clock.Now() + interval;
    return end ? std::min(by, *end) : by;
  };
  auto deadline = settleBy();
  while (!stop()) {
    const std::chrono::milliseconds left = Remaining(clock, deadline);
    if (left.count() == 0) return SettledWait::Settled;
    switch (changes.Wait(left)) {
      case ChangeWait::Change:
        deadline = settleBy();
        break;
      case ChangeWait::Ended:
        // Nothing more can come: the rest of the interval passes as it would have.
        clock.Sleep(std::chrono::ceil<std::chrono::milliseconds>(deadline - clock.Now()));
        return SettledWait::Settled;
      case ChangeWait::Quiet:
        break;
    }
  }
  return SettledWait::Interrupted;
}

}  // namespace korvane
