// Holding a disk for ourselves while its bridge is written: a file system that stays mounted
// under a firmware write loses what it had cached when the bridge restarts, and one mounted
// during the write is no better. Each platform takes the hold its own way; whoever holds it
// keeps it until the hold is destroyed, however the update ends.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <variant>

namespace korvane {

/// The exclusive hold of one disk; released when destroyed.
class DiskHold {
 public:
  virtual ~DiskHold() = default;
  /// What the hold could not cover and the update goes on without, for the verbose output and
  /// the trace ("the block device could not be opened: ..."); empty when it covers everything.
  virtual std::string gaps() const { return {}; }
};

/// Takes exclusive holds of disks.
class DiskHolder {
 public:
  virtual ~DiskHolder() = default;
  /// The hold of the disk at path, the path discovery listed; or, as one line, why it cannot be
  /// had, naming what holds the disk and what to do.
  virtual std::variant<std::unique_ptr<DiskHold>, std::string> Hold(std::string_view path) = 0;
};

}  // namespace korvane
