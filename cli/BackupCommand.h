// korvane-fw backup, and the backup that update makes before it writes: what the bridge runs,
// read twice and judged, kept as a firmware image with its record beside it.
#pragma once

#include <optional>
#include <string>

#include "CheckCommand.h"
#include "Command.h"
#include "JobSession.h"

namespace korvane::cli {

/// The options of the backup command.
struct BackupOptions {
  std::string output;  ///< where the backup goes; empty: a new file in the state folder
};

/// How a backup went.
struct BackupOutcome {
  BackupEnd end = BackupEnd::Failed;
  std::string file;                       ///< where it was written, with Saved
  std::string sha256;                     ///< of the file, with Saved
  std::string reason;                     ///< why not, otherwise
  std::optional<CommandOutcome> command;  ///< the command that failed, when one did
  bool interrupted = false;               ///< Ctrl-C or SIGTERM came while it was read
};

/// Reads the backup of the checked enclosure and writes it to output (empty: the state folder).
/// SIGINT and SIGTERM are held back while it is read; one that came leaves nothing written.
BackupOutcome TakeBackup(CommandContext& context, JobSession& session, const CheckReport& check,
                         const std::string& output);

/// {"file", "sha256"} for a saved backup; null otherwise.
nlohmann::ordered_json BackupJson(const BackupOutcome& backup);

/// Runs the command; returns the exit code.
int RunBackup(CommandContext& context, const BackupOptions& options);

}  // namespace korvane::cli
