#include "WindowShell.h"

#include <exception>
#include <string>

#include "WindowLayout.h"

namespace korvane {
namespace {

/// Names the outermost handler for as long as it runs, however it ends.
class RunningScope {
 public:
  RunningScope(Running& running, Running kind) : running_(running) { running_ = kind; }
  ~RunningScope() { running_ = Running::Nothing; }
  RunningScope(const RunningScope&) = delete;
  RunningScope& operator=(const RunningScope&) = delete;

 private:
  Running& running_;
};

}  // namespace

void WindowShell::ListenForChanges() {
  if (services_.changes == nullptr || listening_) return;
  if (const auto problem = services_.changes->Listen()) {
    services_.debug.Write("Device changes cannot be followed: " + *problem + "\n");
    return;
  }
  listening_ = true;
}

void WindowShell::FirstScan() {
  {
    const RunningScope scope(running_, Running::Scan);
    services_.form.btn_RefreshClick();
  }
  RepeatPendingClose();
}

void WindowShell::Run(Running kind, const std::function<void()>& handler) {
  if (running_ != Running::Nothing) {
    Guarded(handler);
    return;
  }
  Outermost(kind, handler);
  RepeatPendingClose();
}

// The window's own close command is withdrawn for the time of the update, so that it does not
// offer what it would refuse.
void WindowShell::Outermost(Running kind, const std::function<void()>& handler) {
  const RunningScope scope(running_, kind);
  const bool update = kind == Running::Update;
  if (update) services_.window.OfferClose(false);
  Guarded(handler);
  if (update) services_.window.OfferClose(true);
}

void WindowShell::RepeatPendingClose() {
  if (!closePending_) return;
  closePending_ = false;
  services_.window.RepeatClose();
}

void WindowShell::Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    services_.messages.ShowMessage(error.what(), layout::kApplicationTitle, MessageIcon::Error);
  } catch (...) {
    services_.messages.ShowMessage("", layout::kApplicationTitle, MessageIcon::Error);
  }
}

// A close while the firmware is written is refused: taking the window down would end the program
// between two flash blocks. A close during a scan or check waits until it has finished.
CloseAnswer WindowShell::RequestClose() {
  if (updateRunning()) return CloseAnswer::Refused;
  if (running_ == Running::Nothing) return CloseAnswer::Close;
  closePending_ = true;
  return CloseAnswer::Deferred;
}

bool WindowShell::updateRunning() const {
  return running_ == Running::Update || services_.form.state().UpdateInProgress == 1;
}

void WindowShell::OnDeviceChange(DeviceChange change) {
  Guarded([this, change] { services_.form.OnDeviceChange(change); });
}

bool WindowShell::PollDeviceChanges() {
  if (!listening_) return false;
  for (int read = 0; read < kChangesPerPoll; ++read) {
    switch (services_.changes->Wait(std::chrono::milliseconds(0))) {
      case ChangeWait::Change:
        OnDeviceChange(DeviceChange::NodesChanged);
        break;
      case ChangeWait::Quiet:
        return true;
      case ChangeWait::Ended:
        return false;
    }
  }
  return true;
}

}  // namespace korvane
