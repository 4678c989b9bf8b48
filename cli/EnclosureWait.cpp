#include "EnclosureWait.h"

#include "Text.h"

namespace korvane::cli {
namespace {

/// Nothing attached that could be examined; rights that turned a disk away are not something
/// to wait out.
bool NothingAttached(const JobSession& session) {
  return session.job().verdict() == CheckVerdict::NotFound && !session.job().RightsExplain();
}

std::optional<int> WaitForEnclosure(CommandContext& context, JobSession& session,
                                    const std::optional<std::string>& notListening) {
  if (notListening) {
    context.err << "korvane-fw: cannot wait for the enclosure: " << Printable(*notListening)
                << '\n';
    return exitcode::kFailure;
  }
  context.err << kPlugInNote << '\n' << std::flush;
  InterruptDeferral& interrupts = context.interrupts;
  // Nothing is written while waiting: a signal only ends the wait, at the next slice.
  interrupts.Arm();
  const auto stop = [&interrupts] { return interrupts.received() != 0; };
  while (NothingAttached(session)) {
    const SettledWait end = WaitForSettledChanges(context.devices.changes(),
                                                  context.devices.clock(), kRescanInterval, stop);
    if (end != SettledWait::Settled) break;
    // The report is of the scan that ends the wait, not of those that found nothing.
    context.messages.Clear();
    session.Scan();
  }
  interrupts.Restore();
  if (const int interrupted = interrupts.exitCode(); interrupted != 0) return interrupted;
  return std::nullopt;
}

}  // namespace

std::optional<int> ScanForEnclosure(CommandContext& context, JobSession& session) {
  std::optional<std::string> notListening;
  if (context.options.wait) notListening = context.devices.changes().Listen();
  session.Scan();
  if (!context.options.wait || !NothingAttached(session)) return std::nullopt;
  return WaitForEnclosure(context, session, notListening);
}

}  // namespace korvane::cli
