#include "BackupKeeping.h"

#include <chrono>

#include "Sha256.h"
#include "Store.h"

namespace korvane::cli {
namespace {

BackupOutcome FromRead(const FirmwareBackup& read) {
  BackupOutcome outcome;
  outcome.end = read.end;
  outcome.reason = read.failure.reason;
  outcome.command = read.failure.command;
  return outcome;
}

/// Writes a backup that was read to its destination; a replay keeps nothing.
BackupOutcome Save(const CommandContext& context, const FirmwareBackup& read,
                   std::optional<BackupDestination> destination) {
  BackupOutcome outcome = FromRead(read);
  outcome.sha256 = Sha256Hex(read.image);
  if (read.end == BackupEnd::Saved) outcome.serial = BackupSerial(read);
  if (!destination) {
    outcome.reason = "a replay keeps no backup";
    return outcome;
  }
  const BackupFacts facts{std::chrono::system_clock::now(),
                          context.devices.enclosures() == Enclosures::Simulated, outcome.sha256};
  auto saved = destination->Save(read, facts);
  if (auto* problem = std::get_if<std::string>(&saved)) {
    outcome.end = BackupEnd::Failed;
    outcome.reason = "the backup could not be written: " + *problem;
    outcome.sha256.clear();
    return outcome;
  }
  outcome.file = std::get<std::filesystem::path>(saved).string();
  return outcome;
}

}  // namespace

std::variant<std::optional<BackupDestination>, std::string> PrepareBackup(
    const CommandContext& context, const std::string& output) {
  if (!context.options.replay.empty()) return std::nullopt;
  auto prepared = output.empty() ? BackupDestination::InStateFolder(context.console.stateFolder,
                                                                    *context.console.files)
                                 : BackupDestination::ToFile(output, *context.console.files);
  if (auto* problem = std::get_if<std::string>(&prepared)) return std::move(*problem);
  return std::optional(std::move(std::get<BackupDestination>(prepared)));
}

BackupOutcome KeepRead(const CommandContext& context, const FirmwareBackup& read,
                       std::optional<BackupDestination> destination) {
  if (context.interrupts.received() != 0) {
    BackupOutcome outcome = FromRead(read);
    outcome.end = BackupEnd::Failed;
    outcome.interrupted = true;
    outcome.reason = "interrupted while the bridge was read: no backup was written";
    return outcome;
  }
  if (read.end != BackupEnd::Saved) return FromRead(read);
  return Save(context, read, std::move(destination));
}

BackupOutcome TakeBackup(CommandContext& context, JobSession& session, const CheckReport& check,
                         std::optional<BackupDestination> destination) {
  if (!context.interrupts.armed()) context.interrupts.Arm();
  TerminalView& view = session.view();
  view.BeginJob();
  const FirmwareBackup read =
      session.job().Backup(check.checkedPath, session.job().check().bridgeInfo, &view);
  view.EndJob();
  return KeepRead(context, read, std::move(destination));
}

nlohmann::ordered_json BackupJson(const BackupOutcome& backup) {
  if (backup.end != BackupEnd::Saved) return nullptr;
  return {{"file", backup.file}, {"sha256", backup.sha256}};
}

}  // namespace korvane::cli
