// What every korvane-fw command gets to work with.
#pragma once

#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "AccessWatch.h"
#include "DeviceServices.h"
#include "Devices.h"
#include "FileCalls.h"
#include "Interrupts.h"
#include "JsonAnswer.h"
#include "MessageSink.h"
#include "Transport.h"

namespace korvane::cli {

/// Exit codes of korvane-fw.
namespace exitcode {
inline constexpr int kOk = 0;                  ///< done, or nothing to do
inline constexpr int kNothingFound = 1;        ///< no enclosure could be listed
inline constexpr int kBadInput = 2;            ///< bad arguments or files; a replay that differs
inline constexpr int kOffered = 3;             ///< check: an update is offered
inline constexpr int kMultiple = 4;            ///< several enclosures are attached
inline constexpr int kFailure = 5;             ///< the check could not decide, or the update failed
inline constexpr int kNoRights = 6;            ///< the disks could not be opened or commanded
inline constexpr int kNothingToSave = 7;       ///< backup, verify: the bridge runs its boot ROM
inline constexpr int kReplugBootRom = 8;       ///< update: it came back in its boot ROM
inline constexpr int kReplugOtherVersion = 9;  ///< update: it came back with another version
inline constexpr int kReplugNotBack = 10;      ///< update: it did not come back within the wait
/// The command succeeded, but a file it was to write (trace, state, report) was not saved.
inline constexpr int kOutputNotSaved = 11;
inline constexpr int kDiffers = 12;  ///< verify: the flash does not hold the file's firmware
/// A held-back signal ends the run with this plus its number, as a shell reports a signal.
inline constexpr int kSignalBase = 128;
inline constexpr int kHungUp = 129;       ///< SIGHUP: the terminal went away
inline constexpr int kInterrupted = 130;  ///< SIGINT: ends a wait, or after the update's outcome
inline constexpr int kTerminated = 143;   ///< SIGTERM, likewise

/// True for a code that a held-back signal gave.
inline constexpr bool EndedBySignal(int code) { return code > kSignalBase; }
}  // namespace exitcode

/// The exit-code table, as --help, the manual page and docs/cli.md show it.
inline constexpr std::string_view kExitCodeTable =
    "Exit codes:\n"
    "  0    done, or nothing to do (list found enclosures; no update needed; update complete;\n"
    "       update declined; inspect read the file; verify found the file's firmware)\n"
    "  1    no enclosure found\n"
    "  2    usage error: bad arguments, scenario, trace, state or firmware file (inspect: a file\n"
    "       that cannot be read; verify: a file the enclosure's chip refuses); a replay that\n"
    "       left its recording\n"
    "  3    check: an update is offered\n"
    "  4    several enclosures are attached: disconnect all but the one to update, or name it\n"
    "       with --device PATH\n"
    "  5    failure: the check could not decide, or the update failed or was refused\n"
    "  6    missing rights: the disks could not be opened or commanded\n"
    "  7    backup, verify: the bridge runs its boot ROM and holds no firmware to save or compare\n"
    "  8    update: after the replug the enclosure runs its boot ROM\n"
    "  9    update: after the replug the enclosure runs another version than the one written\n"
    "  10   update: the enclosure did not come back within the replug wait\n"
    "  11   the command succeeded, but its trace, state or report file was not saved\n"
    "  12   verify: the bridge's firmware differs from the file's\n"
    "  130  interrupted by Ctrl-C (SIGINT) while waiting for an enclosure or its replug, or after\n"
    "       the update's outcome was recorded\n"
    "  143  terminated by SIGTERM, likewise\n"
    "  128+N  ended by another signal N, likewise: 129 SIGHUP (the terminal went away), 131\n"
    "       SIGQUIT, 138 SIGUSR1, 140 SIGUSR2, 142 SIGALRM; on Windows 149 Ctrl-Break";

/// What a build that carries development firmware images says of itself where a real enclosure
/// is concerned: the write-time refusal, said before anyone asks for a write.
inline constexpr std::string_view kDevelopmentBuildNote =
    "This build carries development firmware images only: it checks real enclosures, and writes "
    "to one only a firmware file given with update --image.";

/// The options every command takes.
struct GlobalOptions {
  std::string simulate;   ///< scenario name or file; empty: the real disks
  std::string trace;      ///< trace file; empty: no trace
  std::string replay;     ///< trace file whose answers stand in for the disks; empty: none
  std::string saveState;  ///< where the simulated enclosures go after the command; empty: nowhere
  std::string device;     ///< the one disk to work on, as list shows its path; empty: any
  bool json = false;
  bool verbose = false;
  bool wait = false;  ///< check and update: wait for an enclosure when none is attached
};

/// Where korvane-fw reads and writes, and what the program's entry found out about them.
struct Console {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  bool inIsTerminal = false;     ///< a person can answer a question
  bool outIsTerminal = false;    ///< progress may redraw one line in place
  std::function<void()> onPump;  ///< runs at each pump of the window's messages; for tests
  /// Where backups are kept (in its backups folder); the program's entry takes it from the
  /// environment, tests choose their own. Empty: none is known.
  std::string stateFolder;
  /// The calls the store makes to change files; tests hand their own.
  store::FileCalls* files = &store::MachineFileCalls();
};

/// The console with its output going elsewhere: held back, captured, or guarded.
inline Console WithStreams(const Console& console, std::ostream& out, std::ostream& err) {
  return {console.in,
          out,
          err,
          console.inIsTerminal,
          console.outIsTerminal,
          console.onPump,
          console.stateFolder,
          console.files};
}

/// Messages the device layer would show in a box: kept, and shown by the command's report.
class KeptMessages final : public MessageSink {
 public:
  void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override;
  /// "Error: Get chip information fail !" and the like, in the order they came.
  const std::vector<std::string>& texts() const { return texts_; }
  /// Forgets them, before a scan that replaces the one they came from.
  void Clear() { texts_.clear(); }

 private:
  std::vector<std::string> texts_;
};

/// A command's working set.
struct CommandContext {
  const GlobalOptions& options;
  const Console& console;
  Devices& devices;
  AccessWatch& access;  ///< the port under io; says whether rights were missing
  Transport& io;
  KeptMessages& messages;
  InterruptDeferral& interrupts;
  std::ostream& out;
  std::ostream& err;
  JsonAnswer& json;  ///< with --json: what the command answers, framed once it has ended
  /// What the device stack lends the engine, as its builder listed it.
  const DeviceServices& services;
};

}  // namespace korvane::cli
