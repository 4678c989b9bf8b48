// What every window decides the same way around TForm1, whatever its toolkit: whether a close
// request is carried out now, waits for a scan's verdict or is refused while the firmware is
// written; which handler is the outermost one while handlers nest through the message pumps; and
// the device stack's changes, read on the window's thread and handed to TForm1. The window keeps
// its widgets and its toolkit's calls, and asks the shell.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string_view>

#include "DebugOutput.h"
#include "DeviceChanges.h"
#include "MessageSink.h"
#include "TForm1.h"

namespace korvane {

/// How often a window asks its device stack for changes.
inline constexpr std::chrono::milliseconds kChangePollInterval{50};
/// Changes read at most per poll, so a flood cannot hold the window.
inline constexpr int kChangesPerPoll = 64;

/// What the outermost handler on the window's thread is doing.
enum class Running : std::uint8_t { Nothing, Scan, Update };

/// What a close request meets.
enum class CloseAnswer : std::uint8_t {
  Close,     ///< nothing runs: the window closes now
  Deferred,  ///< a scan or check runs: the close is asked again once it has returned
  Refused,   ///< the firmware is being written
};

/// What the shell asks of the window around it.
class ShellWindow {
 public:
  virtual ~ShellWindow() = default;
  /// Asks for the close again, queued behind the handler that made it wait.
  virtual void RepeatClose() = 0;
  /// Offers or withdraws the window's own close command; withdrawn while the firmware is written.
  virtual void OfferClose(bool offered) { (void)offered; }
};

/// What the shell works with.
struct ShellServices {
  TForm1& form;
  ShellWindow& window;
  /// Where an exception that escapes a handler is shown.
  MessageSink& messages;
  /// Where a stack that cannot tell of changes is noted.
  DebugOutput& debug;
  /// The device stack's changes; none where the window learns of changes only from its own
  /// notifications.
  DeviceChanges* changes = nullptr;
};

/// The close, guard and device-change policy of a window.
class WindowShell {
 public:
  explicit WindowShell(ShellServices services) : services_(services) {}

  /// Starts listening to the stack's changes. Called before the first scan, so that a disk
  /// plugged in between that scan and the first poll is not missed. A stack that cannot tell of
  /// changes leaves the window without the rescans they would bring.
  void ListenForChanges();
  /// True once the stack's changes are listened to: the window then polls them every
  /// kChangePollInterval.
  bool listening() const { return listening_; }

  /// The window's first scan with its version check. An exception from it is not caught: it ends
  /// the start-up, and the program's entry reports it.
  void FirstScan();
  /// Runs a handler. The outermost one decides what a close request meets meanwhile, and a close
  /// that waited is asked again once it has returned; a nested one only runs.
  void Run(Running kind, const std::function<void()>& handler);
  /// Runs a handler and shows an exception that escapes it, with the program's title.
  void Guarded(const std::function<void()>& handler);

  /// What a close request meets now; a deferred one is remembered.
  CloseAnswer RequestClose();
  /// True while the firmware is written: by the outermost handler, or by any while TForm1's
  /// UpdateInProgress is raised. A close or the end of the session is refused meanwhile.
  bool updateRunning() const;

  /// A device-change message of the platform, handed to TForm1.
  void OnDeviceChange(DeviceChange change);
  /// Reads the changes that have come, each as the platform's "device nodes changed"; false once
  /// none can come any more, and the window stops polling.
  bool PollDeviceChanges();

 private:
  void Outermost(Running kind, const std::function<void()>& handler);
  void RepeatPendingClose();

  ShellServices services_;
  Running running_ = Running::Nothing;
  bool closePending_ = false;
  bool listening_ = false;
};

}  // namespace korvane
