// What backup and verify need before they read a bridge: one checked enclosure whose chip this
// program updates.
#pragma once

#include <optional>
#include <string>

#include "CheckReport.h"
#include "JobSession.h"

namespace korvane::cli {

/// Why no bridge can be read, and the exit code that says so.
struct NoBridgeToRead {
  std::string reason;
  int code = 0;
};

/// Why the last scan and check leave no bridge to read; nothing when they identified a chip this
/// program updates on the disk checked.
std::optional<NoBridgeToRead> WhyNoBridgeToRead(const JobSession& session,
                                                const CheckReport& check);

}  // namespace korvane::cli
