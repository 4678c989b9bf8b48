// korvane-fw update: the check, then, when it offers an update and the user agrees, the shared
// update job, the one the window runs too, with its progress on the terminal.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "BackupKeeping.h"
#include "CheckReport.h"
#include "Command.h"
#include "ReplugProof.h"
#include "Store.h"

namespace korvane::cli {

/// The options of the update command.
struct UpdateOptions {
  bool yes = false;               ///< no question: the update goes ahead once it is offered
  std::string image;              ///< --image: a firmware file to write; empty: the carried image
  bool allowOlder = false;        ///< the file may be older than what runs
  bool allowReinstall = false;    ///< the file may be what runs already
  bool force = false;             ///< a file whose version cannot be ordered may be written
  bool noBackup = false;          ///< write without backing the bridge up first
  bool forceDismount = false;     ///< Windows: dismount a volume whose lock is refused
  bool recordedNoBackup = false;  ///< a replay of a run that made none: none, and nothing said
  bool restoreNvram = false;  ///< write back the backup's NVRAM record, not the identity rewrite
  /// After a complete update, wait for the replug and read what runs: true/false as asked;
  /// nothing: when standard input and output are both a terminal.
  std::optional<bool> replug;
  std::chrono::seconds replugWait = kDefaultReplugWait;  ///< how long the replug is waited for
};

/// The image an update writes, as its outcome and its trace name it.
struct WrittenImage {
  std::string name;  ///< the file as given, or the carried image's name
  std::size_t size = 0;
  std::string sha256;
  std::string version;  ///< as the image's header carries it
  /// What a bridge reports once it runs the image; null when that cannot be told.
  std::optional<std::array<std::uint8_t, 4>> running = std::nullopt;
};

/// How an update command ended.
enum class UpdateResult : std::uint8_t {
  Complete,    ///< written, verified, identity rewritten
  Fail,        ///< refused before writing, or a step failed
  NotOffered,  ///< the check offered no update; nothing was written
  Declined,    ///< the user said no; nothing was written
};

/// "complete", "fail", "not-offered" or "declined".
std::string_view UpdateResultName(UpdateResult result);

/// What the update command reports.
struct UpdateOutcome {
  UpdateResult result = UpdateResult::NotOffered;
  std::string statusText;                 ///< the window's final text
  std::optional<std::string> failedStep;  ///< with Fail
  bool refused = false;  ///< with Fail: refused before anything was written, and said so
  /// With Fail: the firmware write or its verification failed after the flash was changed, so
  /// the bridge may start its boot ROM at the next power-up.
  bool partlyWritten = false;
  std::optional<std::string> reason;      ///< why it failed or was not offered
  std::vector<AttemptFailure> attempts;   ///< every failed attempt, when there were several
  std::optional<CommandOutcome> command;  ///< the command that failed, when a command did
  std::optional<BackupOutcome> backup;    ///< the backup before the write, when one was tried
  std::optional<WrittenImage> written;    ///< what was, or would have been, written
  std::optional<ReplugProof> replug;      ///< what the replug after a complete update showed
  int exitCode = exitcode::kFailure;      ///< with Fail: bad input, refused, no rights
};

/// {"result", "status_text", "failed_step", "reason", "failed_command", "attempts": [{"step",
/// "reason", "failed_command"}...], "backup", "image", "replug", "check": <the check's JSON>,
/// "written_version", "written_release"}: the version a bridge reports once it runs what was
/// written, or was to be, and its release name where the catalogue knows it.
nlohmann::ordered_json UpdateJson(const UpdateOutcome& outcome, const CheckReport& check);

/// The command that failed as {"opcode", "direction", "stage", "os_error", "scsi_status",
/// "host_status", "driver_status", "sense": {"key", "asc", "ascq", "text"} or null}.
nlohmann::ordered_json FailedCommandJson(const CommandOutcome& command);

/// True for an answer that agrees: "y" or "yes" in any case, blanks around ignored.
bool IsYes(std::string_view answer);

/// The note printed once when a held-back signal arrives while the update writes.
inline constexpr std::string_view kInterruptNote =
    "Interrupt received: the update finishes first; a half-written flash leaves the enclosure "
    "unusable";

/// Runs the command, writing file (read and opened before any command) where options name one;
/// returns the exit code. An interrupt noted during the backup or the write is left in the
/// context's deferral for the caller to act on once everything is reported.
int RunUpdate(CommandContext& context, const UpdateOptions& options,
              const ImageFile* file = nullptr);

}  // namespace korvane::cli
