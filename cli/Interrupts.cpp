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
  previousInterrupt_ = std::signal(SIGINT, NoteSignal);
  previousTerminate_ = std::signal(SIGTERM, NoteSignal);
  armed_ = true;
}

void InterruptDeferral::Restore() {
  if (!armed_) return;
  std::signal(SIGINT, previousInterrupt_ == SIG_ERR ? SIG_DFL : previousInterrupt_);
  std::signal(SIGTERM, previousTerminate_ == SIG_ERR ? SIG_DFL : previousTerminate_);
  received_ = gReceived;
  armed_ = false;
}

int InterruptDeferral::received() const { return armed_ ? static_cast<int>(gReceived) : received_; }

int InterruptDeferral::exitCode() const {
  const int signal = received();
  return signal == 0 ? 0 : 128 + signal;
}

}  // namespace korvane::cli
