// korvane-fw update: the check, then, when it offers an update and the user agrees, the window's
// update command with its progress on the terminal.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "CheckCommand.h"
#include "Command.h"

namespace korvane::cli {

/// The options of the update command.
struct UpdateOptions {
  bool yes = false;  ///< no question: the update goes ahead once it is offered
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
  std::optional<std::string> reason;      ///< why it failed or was not offered
  std::vector<AttemptFailure> attempts;   ///< every failed attempt, when there were several
  std::optional<CommandOutcome> command;  ///< the command that failed, when a command did
};

/// {"result", "status_text", "failed_step", "reason", "failed_command", "attempts": [{"step",
/// "reason", "failed_command"}...], "check": <the check's JSON>}.
nlohmann::ordered_json UpdateJson(const UpdateOutcome& outcome, const CheckReport& check);

/// The command that failed as {"opcode", "direction", "stage", "os_error", "scsi_status",
/// "host_status", "driver_status", "sense": {"key", "asc", "ascq", "text"} or null}.
nlohmann::ordered_json FailedCommandJson(const CommandOutcome& command);

/// True for an answer that agrees: "y" or "yes" in any case, blanks around ignored.
bool IsYes(std::string_view answer);

/// The note printed once when SIGINT or SIGTERM arrives while the update writes.
inline constexpr std::string_view kInterruptNote =
    "Interrupt received: the update finishes first; a half-written flash leaves the enclosure "
    "unusable";

/// Runs the command; returns the exit code. An interrupt noted during the write is left in the
/// context's deferral for the caller to act on once everything is reported.
int RunUpdate(CommandContext& context, const UpdateOptions& options);

}  // namespace korvane::cli
