#include "BackupCommand.h"

#include "BackupKeeping.h"
#include "BridgeToRead.h"
#include "CheckReport.h"
#include "EnclosureWait.h"
#include "HistoryEvents.h"
#include "Store.h"
#include "Text.h"

namespace korvane::cli {
namespace {

/// The chip the check found, when this program updates it; the verdict's exit code otherwise.
/// The answer with --json: what became of the backup, and the check it read.
nlohmann::ordered_json BackupAnswer(std::string_view result, nlohmann::ordered_json backup,
                                    const std::string& reason, const CheckReport& check) {
  return {
      {"result", result},
      {"backup", std::move(backup)},
      {"reason", reason.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(reason)},
      {"check", CheckJson(check)}};
}

/// Ends the command before anything was read: said as an error line, and with --json answered
/// with the result "not-read".
int NotRead(CommandContext& context, const CheckReport& check, const std::string& reason,
            int code) {
  context.err << "korvane-fw: " << Printable(reason) << '\n';
  if (context.options.json) {
    context.json.Set(BackupAnswer("not-read", nullptr, reason, check));
    context.json.Add(Severity::Error, reason);
  }
  PrintWarnings(context, check);
  return code;
}

std::optional<int> NothingToRead(CommandContext& context, const JobSession& session,
                                 const CheckReport& check) {
  const auto none = WhyNoBridgeToRead(session, check);
  if (!none) return std::nullopt;
  return NotRead(context, check, none->reason, none->code);
}

void PrintBackup(std::ostream& out, std::ostream& err, const BackupOutcome& backup) {
  switch (backup.end) {
    case BackupEnd::Saved:
      if (backup.file.empty()) {
        out << "Backup read, SHA-256 " << backup.sha256 << ": " << backup.reason << '\n';
        return;
      }
      out << "Backup written to " << Printable(backup.file) << "\nSHA-256 " << backup.sha256
          << '\n';
      return;
    case BackupEnd::BootRom:
      out << "Nothing to back up: " << Printable(backup.reason) << ".\n";
      return;
    case BackupEnd::Failed:
      err << "korvane-fw: Backup failed: " << Printable(backup.reason) << '\n';
      return;
  }
}

/// "saved", "boot-rom" or "fail".
std::string_view BackupResultName(BackupEnd end) {
  switch (end) {
    case BackupEnd::Saved:
      return "saved";
    case BackupEnd::BootRom:
      return "boot-rom";
    case BackupEnd::Failed:
      break;
  }
  return "fail";
}

HistoryEvent BackupEvent(const CommandContext& context, const BackupOutcome& backup,
                         const CheckReport& check) {
  HistoryEvent event = NewHistoryEvent(context, "backup", check);
  event.result = std::string(BackupResultName(backup.end));
  if (!backup.serial.empty()) event.enclosure.serial = backup.serial;
  if (!backup.reason.empty()) event.reason = backup.reason;
  if (backup.end == BackupEnd::Saved && !backup.file.empty()) {
    event.backup = RecordedPath(backup.file);
  }
  return event;
}

int ExitCodeOf(const BackupOutcome& backup) {
  switch (backup.end) {
    case BackupEnd::Saved:
      return exitcode::kOk;
    case BackupEnd::BootRom:
      return exitcode::kNothingToSave;
    case BackupEnd::Failed:
      break;
  }
  return exitcode::kFailure;
}

}  // namespace

/// Ends the command before any bridge hears a command: the backup could not go where it should.
int NoPlace(CommandContext& context, const std::string& reason) {
  context.err << "korvane-fw: " << Printable(reason) << '\n';
  if (context.options.json) context.json.Add(Severity::Error, reason);
  return exitcode::kBadInput;
}

int RunBackup(CommandContext& context, const BackupOptions& options) {
  auto prepared = PrepareBackup(context, options.output);
  if (auto* problem = std::get_if<std::string>(&prepared)) {
    const bool noFolder = *problem == kNoStateFolder;
    return NoPlace(context, noFolder ? *problem + ": give one with --output" : *problem);
  }
  JobSession session(context);
  const auto ended = ScanForEnclosure(context, session);
  const CheckReport check = BuildCheckReport(session.job(), context.messages);
  if (ended) {
    if (context.options.json) context.json.Set(BackupAnswer("not-read", nullptr, "", check));
    return *ended;
  }
  if (const auto code = NothingToRead(context, session, check)) return *code;
  if (!context.options.json) {
    context.out << "Backing up " << Printable(EnclosureName(check)) << '\n' << std::flush;
  }
  auto& destination = std::get<std::optional<BackupDestination>>(prepared);
  const BackupOutcome backup = TakeBackup(context, session, check, std::move(destination));
  if (context.options.json) {
    context.json.Set(
        BackupAnswer(BackupResultName(backup.end), BackupJson(backup), backup.reason, check));
    if (backup.end == BackupEnd::Failed) context.json.Add(Severity::Error, backup.reason);
  } else {
    PrintBackup(context.out, context.err, backup);
  }
  PrintWarnings(context, check);
  RecordHistory(context, BackupEvent(context, backup, check));
  return ExitCodeOf(backup);
}

}  // namespace korvane::cli
