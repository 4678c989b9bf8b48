// A recorded trace played back as the device stack: every command is answered from the
// recording, per disk and in order, through the same transport as the real ports.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "Devices.h"
#include "TraceReader.h"

namespace korvane {

/// Enclosures that answer as a trace recorded them.
class ReplayDevices : public Devices {
 public:
  /// Where the program first left the recording: the command's place, the recorded and the sent
  /// CDB. From then on every disk is gone.
  virtual std::optional<std::string> divergence() const = 0;
  /// Ends the replay: a recorded command the program never sent is a difference too.
  virtual void Finish() = 0;
  /// Whether the recorded update backed the bridge up before it wrote.
  virtual bool recordedBackup() const = 0;
  /// The recorded command and its options, as its header names them.
  virtual const std::vector<std::string>& recordedCommand() const = 0;
};

/// What a command after a disk's last recorded one means.
enum class PastTheRecording : std::uint8_t {
  Differs,  ///< in a complete recording the program sent more than it did: a difference
  Gone,     ///< the disk went away: for a window, where the user may click beyond the recording
};

/// The trace in the file at path as enclosures, or one line on why it cannot be replayed here. A
/// command names the run of a problem report, and a plain trace must have recorded it; an empty
/// one takes the trace as it is. A recording without its exit code stopped early: past its end
/// the disks are gone, whatever past says.
std::variant<std::unique_ptr<ReplayDevices>, std::string> ReplayTraceFile(const std::string& path,
                                                                          std::string_view command,
                                                                          PastTheRecording past);

}  // namespace korvane
