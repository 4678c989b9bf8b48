// Writes a run down as a trace as it happens: the commands, the lister's and the mount check's
// answers, the exit code.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "Discovery.h"
#include "MountState.h"
#include "TraceFormat.h"
#include "Transport.h"

namespace korvane::trace {

/// Writes the lines of one trace to a sink, the header first.
class TraceWriter {
 public:
  using Sink = std::function<void(const std::string& line)>;
  /// The header's disks are filled in from the first listing, when the run lists before anything
  /// else happens.
  TraceWriter(TraceHeader header, Sink sink);

  void Listing(const std::vector<DiskInterface>& disks);
  void Mount(std::string_view path, const MountState& state);
  /// The answer of a hold of the disk at path.
  void Hold(std::string_view path, const std::optional<std::string>& refused,
            std::string_view gaps);
  void Command(const TraceRecord& record);
  void Exit(int code);

 private:
  void Write(const std::string& line);
  /// Writes the header unless it is out already.
  void Start();

  TraceHeader header_;
  Sink sink_;
  bool started_ = false;
};

}  // namespace korvane::trace
