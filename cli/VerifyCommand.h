// korvane-fw verify: what the bridge's flash holds, read twice as backup reads it, compared with
// a firmware file. Only reads are sent.
#pragma once

#include <string>

#include "Command.h"
#include "Store.h"

namespace korvane::cli {

/// The options of the verify command.
struct VerifyOptions {
  std::string file;  ///< the file to compare with, read whole before anything is sent
};

/// Runs the command on the file read; returns the exit code: 0 when the flash holds the file's
/// firmware, 12 when it differs, 2 for a file the enclosure's chip would refuse (nothing read).
int RunVerify(CommandContext& context, const ImageFile& file);

}  // namespace korvane::cli
