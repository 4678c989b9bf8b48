#include "Interrupts.h"

namespace korvane::cli {
namespace {

volatile std::sig_atomic_t gReceived = 0;

extern "C" void NoteSignal(int signal) {
  if (gReceived == 0) gReceived = signal;
  // The Windows runtime puts the default handler back before it calls this one.
  std::signal(signal, NoteSignal);
}

}  // namespace

void InterruptDeferral::Arm() {
  if (armed_) return;
  gReceived = 0;
  received_ = 0;
  for (std::size_t i = 0; i < kHeldSignals.size(); ++i) {
    previous_[i] = std::signal(kHeldSignals[i], NoteSignal);
  }
  armed_ = true;
}

void InterruptDeferral::Restore() {
  if (!armed_) return;
  for (std::size_t i = 0; i < kHeldSignals.size(); ++i) {
    std::signal(kHeldSignals[i], previous_[i] == SIG_ERR ? SIG_DFL : previous_[i]);
  }
  received_ = gReceived;
  armed_ = false;
}

int InterruptDeferral::received() const { return armed_ ? static_cast<int>(gReceived) : received_; }

int InterruptDeferral::exitCode() const {
  const int signal = received();
  return signal == 0 ? 0 : 128 + signal;
}

}  // namespace korvane::cli
