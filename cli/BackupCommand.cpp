#include "BackupCommand.h"

#include <chrono>

#include "Backups.h"
#include "EnclosureWait.h"
#include "HistoryCommand.h"
#include "Sha256.h"
#include "Text.h"

namespace korvane::cli {
namespace {

BackupOutcome FromRead(const FirmwareBackup& read) {
  BackupOutcome outcome;
  outcome.end = read.end;
  outcome.reason = read.failure.reason;
  outcome.command = read.failure.command;
  return outcome;
}

/// Writes a backup that was read: to output, or to a new file in the state folder.
BackupOutcome Save(const CommandContext& context, const FirmwareBackup& read,
                   const std::string& output) {
  BackupOutcome outcome = FromRead(read);
  const auto now = std::chrono::system_clock::now();
  std::string target = output;
  if (target.empty()) {
    auto place = NewBackupPath(context.console.stateFolder, read, now);
    if (auto* problem = std::get_if<std::string>(&place)) {
      outcome.end = BackupEnd::Failed;
      outcome.reason = *problem;
      return outcome;
    }
    target = std::get<std::filesystem::path>(place).string();
  }
  if (auto problem = SaveBackup(target, read, now)) {
    outcome.end = BackupEnd::Failed;
    outcome.reason = "the backup could not be written to " + target + ": " + *problem;
    return outcome;
  }
  outcome.file = target;
  outcome.sha256 = Sha256Hex(read.image);
  return outcome;
}

/// The chip the check found, when this program updates it; the verdict's exit code otherwise.
std::optional<int> NoBridgeToRead(CommandContext& context, const JobSession& session,
                                  const CheckReport& check) {
  if (session.job().check().chip != nullptr && !check.checkedPath.empty()) return std::nullopt;
  if (check.verdict == CheckVerdict::NotFound || check.verdict == CheckVerdict::Multiple) {
    context.err << "korvane-fw: " << Printable(check.reason.value_or(check.statusText)) << '\n';
    return CheckExitCode(check.verdict, session.job().RightsExplain());
  }
  context.err << "korvane-fw: no enclosure of a chip this program updates was identified: "
              << Printable(check.reason.value_or("the check failed")) << '\n';
  return session.job().RightsExplain() ? exitcode::kNoRights : exitcode::kFailure;
}

void PrintBackup(std::ostream& out, const BackupOutcome& backup) {
  switch (backup.end) {
    case BackupEnd::Saved:
      out << "Backup written to " << Printable(backup.file) << "\nSHA-256 " << backup.sha256
          << '\n';
      return;
    case BackupEnd::BootRom:
      out << "Nothing to back up: " << Printable(backup.reason) << ".\n";
      return;
    case BackupEnd::Failed:
      out << "Backup failed: " << Printable(backup.reason) << '\n';
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
  if (!backup.reason.empty()) event.reason = backup.reason;
  if (backup.end == BackupEnd::Saved) event.backup = backup.file;
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

BackupOutcome TakeBackup(CommandContext& context, JobSession& session, const CheckReport& check,
                         const std::string& output) {
  if (!context.interrupts.armed()) context.interrupts.Arm();
  TerminalView& view = session.view();
  view.BeginJob();
  const FirmwareBackup read =
      session.job().Backup(check.checkedPath, session.job().check().bridgeInfo, &view);
  view.EndJob();
  if (context.interrupts.received() != 0) {
    BackupOutcome outcome = FromRead(read);
    outcome.end = BackupEnd::Failed;
    outcome.interrupted = true;
    outcome.reason = "interrupted while the bridge was read: no backup was written";
    return outcome;
  }
  if (read.end != BackupEnd::Saved) return FromRead(read);
  return Save(context, read, output);
}

nlohmann::ordered_json BackupJson(const BackupOutcome& backup) {
  if (backup.end != BackupEnd::Saved) return nullptr;
  return {{"file", backup.file}, {"sha256", backup.sha256}};
}

int RunBackup(CommandContext& context, const BackupOptions& options) {
  JobSession session(context);
  if (const auto ended = ScanForEnclosure(context, session)) return *ended;
  const CheckReport check = BuildCheckReport(session.job(), context.messages);
  if (const auto code = NoBridgeToRead(context, session, check)) return *code;
  if (options.output.empty() && context.console.stateFolder.empty()) {
    context.err << "korvane-fw: " << kNoStateFolder << ": give one with --output\n";
    return exitcode::kBadInput;
  }
  if (!context.options.json) {
    context.out << "Backing up " << Printable(EnclosureName(check)) << '\n' << std::flush;
  }
  const BackupOutcome backup = TakeBackup(context, session, check, options.output);
  if (context.options.json) {
    nlohmann::ordered_json json{
        {"result", BackupResultName(backup.end)},
        {"backup", BackupJson(backup)},
        {"reason", backup.reason.empty() ? nlohmann::ordered_json(nullptr)
                                         : nlohmann::ordered_json(backup.reason)},
        {"check", CheckJson(check)}};
    context.out << DumpJson(json) << '\n';
  } else {
    PrintBackup(context.out, backup);
  }
  PrintWarnings(context.err, check);
  RecordHistory(context, BackupEvent(context, backup, check));
  return ExitCodeOf(backup);
}

}  // namespace korvane::cli
