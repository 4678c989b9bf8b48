// The backup that backup and update make: what the bridge runs, read twice and judged, kept as a
// firmware image with its record beside it, or not at all.
#pragma once

#include <optional>
#include <string>
#include <variant>

#include <nlohmann/json.hpp>

#include "CheckReport.h"
#include "Command.h"
#include "JobSession.h"
#include "Store.h"

namespace korvane::cli {

/// How a backup went.
struct BackupOutcome {
  BackupEnd end = BackupEnd::Failed;
  std::string file;    ///< where it was written, with Saved
  std::string sha256;  ///< of the file, with Saved
  std::string serial;  ///< the serial number in the NVRAM record read; empty when none
  std::string reason;  ///< why not, otherwise
  std::optional<CommandOutcome> command;  ///< the command that failed, when one did
  bool interrupted = false;               ///< Ctrl-C or SIGTERM came while it was read
};

/// Where a backup of this run goes, made ready before the bridge is read: output, or a new file
/// in the state folder when it is empty. Nothing with a replay, which writes no backup; the reason
/// when it cannot go there.
std::variant<std::optional<BackupDestination>, std::string> PrepareBackup(
    const CommandContext& context, const std::string& output);

/// Keeps a backup that was read at destination (none: a replay, which keeps nothing). A signal
/// that came while it was read leaves nothing written.
BackupOutcome KeepRead(const CommandContext& context, const FirmwareBackup& read,
                       std::optional<BackupDestination> destination);

/// Reads the backup of the checked enclosure and writes it to destination (none: a replay, which
/// reads it as the recording did and keeps nothing). The signals that would end the program are
/// held back while it is read; one that came leaves nothing written.
BackupOutcome TakeBackup(CommandContext& context, JobSession& session, const CheckReport& check,
                         std::optional<BackupDestination> destination);

/// {"file", "sha256"} for a saved backup; null otherwise.
nlohmann::ordered_json BackupJson(const BackupOutcome& backup);

}  // namespace korvane::cli
