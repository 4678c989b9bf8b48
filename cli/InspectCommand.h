// korvane-fw inspect: what a firmware file holds, whether it is a backup and of which enclosure,
// and whether update --image would refuse it for each chip this program updates. No enclosure is
// opened.
#pragma once

#include <string>

#include "Command.h"

namespace korvane::cli {

/// The options of the inspect command.
struct InspectOptions {
  std::string file;  ///< the file to describe
};

/// Describes the file on the console, or, given an answer (--json), sets its description in it.
/// Exit 0 when the file was read, whatever it holds; 2 when it cannot be read.
int RunInspect(const Console& console, const InspectOptions& options, JsonAnswer* json);

}  // namespace korvane::cli
