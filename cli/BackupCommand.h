// korvane-fw backup: what the bridge runs, read twice and judged, kept as a firmware image with
// its record beside it.
#pragma once

#include <string>

#include "Command.h"

namespace korvane::cli {

/// The options of the backup command.
struct BackupOptions {
  std::string output;  ///< where the backup goes; empty: a new file in the state folder
};

/// Runs the command; returns the exit code.
int RunBackup(CommandContext& context, const BackupOptions& options);

}  // namespace korvane::cli
