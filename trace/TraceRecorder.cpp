#include "TraceRecorder.h"

#include <utility>

#include "TraceJson.h"

namespace korvane::trace {

TraceWriter::TraceWriter(TraceHeader header, Sink sink)
    : header_(std::move(header)), sink_(std::move(sink)) {}

void TraceWriter::Listing(const std::vector<DiskInterface>& disks) {
  if (!started_) {
    header_.disks = disks;
    Write({});
    return;
  }
  Write(DisksLine(disks));
}

void TraceWriter::Mount(std::string_view path, const MountState& state) {
  Write(MountLine(path, state));
}

void TraceWriter::Command(const TraceRecord& record) { Write(TraceJson(record)); }

void TraceWriter::Exit(int code) { Write(ExitLine(code)); }

// An empty line stands for the header alone.
void TraceWriter::Write(const std::string& line) {
  if (!started_) {
    started_ = true;
    sink_(HeaderLine(header_));
  }
  if (!line.empty()) sink_(line);
}

}  // namespace korvane::trace
