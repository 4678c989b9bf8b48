#include "TraceRecorder.h"

#include <utility>

#include "TraceJson.h"

namespace korvane::trace {

TraceWriter::TraceWriter(TraceHeader header, Sink sink)
    : header_(std::move(header)), sink_(std::move(sink)) {}

void TraceWriter::Listing(const std::vector<DiskInterface>& disks) {
  if (started_) {
    Write(DisksLine(disks));
    return;
  }
  header_.disks = disks;
  Start();
}

void TraceWriter::Mount(std::string_view path, const MountState& state) {
  Write(MountLine(path, state));
}

void TraceWriter::Hold(std::string_view path, const std::optional<std::string>& refused,
                       std::string_view gaps) {
  Write(HoldLine(path, refused, gaps));
}

void TraceWriter::Command(const TraceRecord& record) { Write(TraceJson(record)); }

void TraceWriter::Exit(int code) { Write(ExitLine(code)); }

void TraceWriter::Write(const std::string& line) {
  Start();
  sink_(line);
}

void TraceWriter::Start() {
  if (started_) return;
  started_ = true;
  sink_(HeaderLine(header_));
}

}  // namespace korvane::trace
