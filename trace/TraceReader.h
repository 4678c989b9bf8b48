// Reads a trace file back: for a replay, which needs every answer, or for a comparison of the
// commands alone, which also takes the header-less traces of earlier versions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "Port.h"
#include "TraceFormat.h"

namespace korvane::trace {

/// One command as the trace holds it: what was sent and, in a full trace, what came back.
struct RecordedCommand {
  std::size_t line = 0;    ///< where it stands in the file, from 1
  std::size_t number = 0;  ///< its place among the trace's commands, from 1
  std::string path;
  std::vector<std::uint8_t> cdb;
  Direction direction = Direction::In;
  std::int32_t length = 0;
  bool ok = false;
  std::vector<std::uint8_t> sent;  ///< data out
  FailureStage stage = FailureStage::None;
  std::uint32_t osError = 0;
  std::uint8_t scsiStatus = 0;
  std::uint16_t hostStatus = 0;
  std::uint16_t driverStatus = 0;
  std::uint32_t transferred = 0;
  std::vector<std::uint8_t> sense;
  std::vector<std::uint8_t> answer;  ///< data in, as far as the device transferred it
};

/// One answer of the disk lister.
struct RecordedListing {
  std::size_t line = 0;
  std::vector<DiskInterface> disks;
};

/// One answer of the mount check.
struct RecordedMount {
  std::size_t line = 0;
  std::string path;
  MountState state;
};

/// One answer of a hold of a disk.
struct RecordedHold {
  std::size_t line = 0;
  std::string path;
  std::optional<std::string> refused;  ///< why it was refused; nothing when it was taken
  std::string gaps;                    ///< what a hold that was taken left uncovered
};

/// A whole trace. A trace of an earlier version has no header and no answers.
struct Trace {
  std::string name;  ///< the file, for messages
  std::optional<TraceHeader> header;
  std::vector<RecordedCommand> commands;
  std::vector<RecordedListing> listings;  ///< the header's disks first, when it has them
  std::vector<RecordedMount> mounts;
  std::vector<RecordedHold> holds;  ///< none in a trace of a version that did not hold disks
  std::optional<int> exitCode;      ///< absent when the recording stopped before the end
};

/// What the trace is read for.
enum class TraceUse : std::uint8_t {
  Replay,   ///< header and answers required
  Compare,  ///< the commands sent are enough
};

/// A problem with a trace: "FILE:LINE: what is wrong".
struct TraceError {
  std::string message;
};

/// Reads a trace from text; name is the file's name for messages. A problem report holds one
/// trace per command it ran: command picks one ("check"); plain traces ignore it.
std::variant<Trace, TraceError> ReadTrace(std::istream& in, std::string_view name, TraceUse use,
                                          std::string_view command = {});
/// Reads the trace file at path.
std::variant<Trace, TraceError> LoadTrace(const std::string& path, TraceUse use,
                                          std::string_view command = {});

}  // namespace korvane::trace
