#include "UpdateCommand.h"

#include <algorithm>
#include <array>
#include <memory>

#include "EmbeddedImages.h"
#include "EnclosureWait.h"
#include "HistoryEvents.h"
#include "ImageCheck.h"
#include "Reload.h"
#include "SenseData.h"
#include "Sha256.h"
#include "Text.h"

namespace korvane::cli {
namespace {

/// True for a refusal said as one: every refusal but that of a chip we do not update, which is
/// said as a failure.
bool Says(Refusal refusal) { return refusal != Refusal::None && refusal != Refusal::Chip; }

/// A refused update: nothing was written.
UpdateOutcome Failed(const CheckReport& check, Refusal refusal, std::string reason) {
  UpdateOutcome outcome;
  outcome.result = UpdateResult::Fail;
  outcome.statusText = check.statusText;
  outcome.failedStep = std::string(UpdateStepName(RefusalStep(refusal)));
  outcome.reason = std::move(reason);
  outcome.refused = Says(refusal);
  outcome.exitCode = RefusesInput(refusal) ? exitcode::kBadInput : exitcode::kFailure;
  return outcome;
}

UpdateOutcome Ended(UpdateResult result, const CheckReport& check,
                    std::optional<std::string> reason = std::nullopt) {
  UpdateOutcome outcome;
  outcome.result = result;
  outcome.statusText = check.statusText;
  outcome.reason = std::move(reason);
  return outcome;
}

WrittenImage WrittenFile(const FileFacts& file) {
  return {file.name, file.size, file.sha256, VersionWords(file.firmware), file.firmware.version};
}

/// What an update of a file writes, and over what, said before anything is asked or refused.
void PrintFileToWrite(std::ostream& out, const CheckReport& check, const FileFacts& file) {
  std::string over = "firmware whose version could not be read";
  if (check.firmware) {
    over = check.firmware->romMode ? std::string("a bridge that runs its boot ROM")
                                   : "the running " + RunningText(check, check.firmware->version);
  }
  out << "To write:  " << Printable(file.name) << ", version " << VersionWords(file.firmware)
      << ", over " << over << '\n';
}

/// Asks on err and reads one line; end of input is a no.
bool Confirm(CommandContext& context, const CheckReport& check, const FileFacts* file,
             const std::optional<WrittenImage>& written) {
  const std::string running = check.firmware ? RunningText(check, check.firmware->version)
                                             : std::string("its present version");
  if (file == nullptr) {
    context.err << "Update the firmware of " << Printable(EnclosureName(check)) << " from "
                << running << " to " << OfferedText(check) << "?\n";
  } else {
    context.err << "Write " << Printable(file->name) << " to " << Printable(EnclosureName(check))
                << "?\n  the file: version " << written->version << ", SHA-256 " << file->sha256
                << "\n  the enclosure runs " << running << '\n';
  }
  context.err << "Do not unplug the enclosure while it is written. Continue? [y/N] " << std::flush;
  std::string answer;
  if (!std::getline(context.console.in, answer)) {
    context.err << '\n';
    return false;
  }
  return IsYes(answer);
}

/// The attempts after the first, which the failed step and reason above describe.
void PrintLaterAttempts(std::ostream& err, const UpdateOutcome& outcome) {
  for (std::size_t index = 1; index < outcome.attempts.size(); ++index) {
    const AttemptFailure& attempt = outcome.attempts[index];
    err << "korvane-fw: Attempt " << index + 1 << ": " << UpdateStepName(attempt.step) << ": "
        << Printable(attempt.reason) << '\n';
  }
}

void PrintOutcome(std::ostream& out, std::ostream& err, const UpdateOutcome& outcome,
                  bool noRights) {
  switch (outcome.result) {
    case UpdateResult::Complete:
      out << "Update complete\n"
          << "Unplug the enclosure and plug it in again, so that the new firmware starts.\n";
      return;
    case UpdateResult::Fail:
      if (outcome.refused) {
        err << "korvane-fw: Refused: " << Printable(outcome.reason.value_or("")) << ".\n"
            << "korvane-fw: Nothing was written.\n";
        return;
      }
      err << "korvane-fw: Update Fail\n"
          << "korvane-fw: Failed step: " << outcome.failedStep.value_or("unknown") << '\n'
          << "korvane-fw: Reason: " << Printable(outcome.reason.value_or("not known")) << '\n';
      PrintLaterAttempts(err, outcome);
      return;
    case UpdateResult::NotOffered:
      out << (noRights ? "Nothing was written: the enclosure could not be opened.\n"
                       : "Nothing was written: no update is offered.\n");
      return;
    case UpdateResult::Declined:
      out << "Nothing was written.\n";
      return;
  }
}

/// Reports the outcome that ends the command with code.
void Finish(CommandContext& context, const UpdateOutcome& outcome, const CheckReport& check,
            int code) {
  if (context.options.json) {
    context.json.Set(UpdateJson(outcome, check));
  } else {
    PrintOutcome(context.out, context.err, outcome, check.noRights);
  }
  PrintWarnings(context, check);
  if (code == exitcode::kOk || code == exitcode::kOffered) return;
  const std::optional<std::string> reason = outcome.reason ? outcome.reason : check.reason;
  if (reason) context.json.Add(Severity::Error, *reason);
}

/// What a bridge reports once it runs what the update wrote, or was to write: the file, or the
/// carried image of an offer.
std::optional<std::array<std::uint8_t, 4>> WrittenRunning(const UpdateOutcome& outcome,
                                                          const CheckReport& check) {
  if (outcome.written) return outcome.written->running;
  const bool tried =
      outcome.result == UpdateResult::Complete || outcome.result == UpdateResult::Fail;
  if (!tried || check.verdict != CheckVerdict::Offer) return std::nullopt;
  return check.carried;
}

}  // namespace

std::string_view UpdateResultName(UpdateResult result) {
  static constexpr std::array<std::string_view, 4> kNames{"complete", "fail", "not-offered",
                                                          "declined"};
  return kNames[static_cast<std::size_t>(result)];
}

nlohmann::ordered_json FailedCommandJson(const CommandOutcome& command) {
  nlohmann::ordered_json sense = nullptr;
  if (command.sense.valid) {
    sense = {{"key", command.sense.key},
             {"asc", command.sense.asc},
             {"ascq", command.sense.ascq},
             {"text", DescribeSense(command.sense)}};
  }
  return {{"opcode", command.opcode},
          {"direction", command.direction == Direction::Out ? "out" : "in"},
          {"stage", FailureStageName(command.stage)},
          {"os_error", command.osError},
          {"scsi_status", command.scsiStatus},
          {"host_status", command.hostStatus},
          {"driver_status", command.driverStatus},
          {"sense", sense}};
}

namespace {

nlohmann::ordered_json OrNull(const std::optional<CommandOutcome>& command) {
  return command ? FailedCommandJson(*command) : nlohmann::ordered_json(nullptr);
}

}  // namespace

nlohmann::ordered_json UpdateJson(const UpdateOutcome& outcome, const CheckReport& check) {
  nlohmann::ordered_json attempts = nlohmann::ordered_json::array();
  for (const AttemptFailure& attempt : outcome.attempts) {
    attempts.push_back({{"step", UpdateStepName(attempt.step)},
                        {"reason", attempt.reason},
                        {"failed_command", OrNull(attempt.command)}});
  }
  nlohmann::ordered_json json{
      {"result", UpdateResultName(outcome.result)},
      {"status_text", outcome.statusText},
      {"failed_step", nullptr},
      {"reason", nullptr},
      {"failed_command", OrNull(outcome.command)},
      {"attempts", attempts},
      {"backup", outcome.backup ? BackupJson(*outcome.backup) : nlohmann::ordered_json(nullptr)},
      {"image", nullptr},
      {"replug", outcome.replug ? ReplugJson(*outcome.replug) : nlohmann::ordered_json(nullptr)},
      {"check", CheckJson(check)}};
  if (outcome.written) {
    json["image"] = {
        {"name", outcome.written->name},
        {"size", outcome.written->size},
        {"sha256", outcome.written->sha256},
        {"version", outcome.written->running
                        ? nlohmann::ordered_json(VersionText(*outcome.written->running))
                        : nlohmann::ordered_json(nullptr)}};
  }
  if (outcome.failedStep) json["failed_step"] = *outcome.failedStep;
  if (outcome.reason) json["reason"] = *outcome.reason;
  const auto running = WrittenRunning(outcome, check);
  json["written_version"] = running ? nlohmann::ordered_json(VersionText(*running)) : nullptr;
  json["written_release"] = ReleaseJson(CheckedChip(check), running);
  return json;
}

bool IsYes(std::string_view answer) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!answer.empty() && blank(answer.front())) answer.remove_prefix(1);
  while (!answer.empty() && blank(answer.back())) answer.remove_suffix(1);
  const std::string lower = AsciiLower(answer);
  return lower == "y" || lower == "yes";
}

namespace {

/// The carried image an update offered writes, as the history names it.
std::optional<HistoryImage> CarriedImage(const CheckReport& check) {
  const ChipUpdate* chip = CheckedChip(check);
  if (chip == nullptr || check.offeredVersion.empty()) return std::nullopt;
  return HistoryImageOf(std::string(chip->firmwareImage),
                        DescribeCarriedFirmware(*chip, EmbeddedImages()));
}

/// What the update wrote, or would have written: the file, or the carried image.
std::optional<HistoryImage> WrittenImageOf(const CheckReport& check, const FileFacts* file) {
  if (file == nullptr) return CarriedImage(check);
  return HistoryImageOf(RecordedPath(file->name), file->firmware);
}

HistoryEvent UpdateEvent(const CommandContext& context, const UpdateOutcome& outcome,
                         const CheckReport& check, const FileFacts* file) {
  HistoryEvent event = NewHistoryEvent(context, "update", check);
  event.written = WrittenImageOf(check, file);
  event.result = std::string(UpdateResultName(outcome.result));
  event.failedStep = outcome.failedStep;
  event.reason = outcome.reason;
  if (outcome.backup && outcome.backup->end == BackupEnd::Saved) {
    event.backup = RecordedPath(outcome.backup->file);
  }
  if (outcome.backup && !outcome.backup->serial.empty()) {
    event.enclosure.serial = outcome.backup->serial;
  }
  if (outcome.replug) event.replug = ReplugJson(*outcome.replug);
  return event;
}

/// Reports an update that completed or failed, and adds it to the history.
int Report(CommandContext& context, const UpdateOutcome& outcome, const CheckReport& check,
           const FileFacts* file) {
  Finish(context, outcome, check, outcome.exitCode);
  RecordHistory(context, UpdateEvent(context, outcome, check, file));
  return outcome.exitCode;
}

bool AtTerminal(const CommandContext& context) {
  return context.console.inIsTerminal && context.console.outIsTerminal;
}

/// A person at a terminal replugs and sees the proof, unless nobody can replug the enclosure: a
/// simulated one its scenario never replugs. Scripts ask for it with --replug.
bool WantsReplug(const CommandContext& context, const UpdateOptions& options, bool replugs) {
  return options.replug.value_or(replugs && AtTerminal(context));
}

/// Where the replug would have been waited for, but the scenario never replugs the enclosure.
void SayNotReplugged(CommandContext& context, const UpdateOptions& options, bool replugs) {
  if (replugs || options.replug || !AtTerminal(context) || context.options.json) return;
  context.out << "The scenario never replugs this simulated enclosure, so its replug is not waited "
                 "for. ";
  const std::string& saved = context.options.saveState;
  if (saved.empty()) {
    context.out << "Add --save-state FILE to save it as it would be after a replug, then run "
                   "korvane-fw --simulate FILE check.\n";
    return;
  }
  context.out << "It is saved as it would be after a replug: korvane-fw --simulate "
              << Printable(saved) << " check shows what it runs then.\n";
}

/// A proof that needs no wait: nothing will ever plug the simulated enclosure in again.
ReplugProof NeverReplugged() {
  return {ReplugResult::NotBack,
          std::nullopt,
          {},
          "the scenario never replugs this simulated enclosure"};
}

/// Says the update completed, waits for the replug and reports what it showed.
int ProveAndReport(CommandContext& context, JobSession& session, UpdateOutcome outcome,
                   const CheckReport& check, const ReplugExpectation& expected,
                   const FileFacts* file) {
  const bool human = !context.options.json;
  if (human) context.out << "Update complete\n" << std::flush;
  outcome.replug = context.devices.Replugs(expected.path) ? ProveReplug(context, session, expected)
                                                          : NeverReplugged();
  outcome.exitCode = ReplugExitCode(outcome.replug->result);
  if (!human) return Report(context, outcome, check, file);
  const bool recoverable = !session.job().CarriedImageGuarded();
  PrintReplugProof(context.out, *outcome.replug, expected, recoverable);
  PrintWarnings(context, check);
  RecordHistory(context, UpdateEvent(context, outcome, check, file));
  return outcome.exitCode;
}

/// The update's steps on a terminal: the backup kept in the state folder, the progress of each
/// step, and the signals that would end the program held back from the backup or the first
/// write until the outcome is recorded.
class TerminalSteps final : public UpdateSteps {
 public:
  TerminalSteps(CommandContext& context, JobSession& session, const UpdateOptions& options,
                const CheckReport& check, const std::optional<WrittenImage>& written)
      : context_(context), session_(session), options_(options), check_(check), written_(written) {}

  UpdateView& view() override { return session_.view(); }
  std::optional<std::string> ReadyBackup() override;
  void Begin(JobStep step) override;
  BackupEnd KeepBackup(const FirmwareBackup& read, UpdateFailure& failure) override;
  void End(JobStep step) override;

  /// The backup before the write, when one was tried.
  const std::optional<BackupOutcome>& backup() const { return backup_; }

 private:
  bool human() const { return !context_.options.json; }
  void SayBackup() const;
  void NoteInterruptOnce();

  CommandContext& context_;
  JobSession& session_;
  const UpdateOptions& options_;
  const CheckReport& check_;
  const std::optional<WrittenImage>& written_;
  std::optional<BackupDestination> destination_;
  std::optional<BackupOutcome> backup_;
  // The view keeps the hook, so what it refers to must live as long as the view.
  std::shared_ptr<bool> noted_ = std::make_shared<bool>(false);
};

std::optional<std::string> TerminalSteps::ReadyBackup() {
  auto prepared = PrepareBackup(context_, {});
  if (auto* problem = std::get_if<std::string>(&prepared)) {
    const bool noFolder = *problem == kNoStateFolder;
    return noFolder ? *problem + ": set one, or add --no-backup" : *problem;
  }
  destination_ = std::move(std::get<std::optional<BackupDestination>>(prepared));
  return std::nullopt;
}

void TerminalSteps::Begin(JobStep step) {
  InterruptDeferral& interrupts = context_.interrupts;
  if (step == JobStep::Backup) {
    if (human()) context_.out << "Backing up the firmware first.\n" << std::flush;
  } else if (step == JobStep::Write) {
    if (human() && options_.noBackup && !options_.recordedNoBackup) {
      context_.out << "No backup is made (--no-backup).\n";
    }
    if (human()) {
      const std::string what = written_ ? Printable(written_->name) + " (" + written_->version + ")"
                                        : OfferedText(check_);
      context_.out << "Writing " << what << ": do not unplug the enclosure.\n" << std::flush;
    }
  }
  if (!interrupts.armed()) interrupts.Arm();
  if (step == JobStep::Write) session_.view().AddPumpHook([this] { NoteInterruptOnce(); });
  session_.view().BeginJob();
}

BackupEnd TerminalSteps::KeepBackup(const FirmwareBackup& read, UpdateFailure& failure) {
  session_.view().EndJob();
  backup_ = KeepRead(context_, read, std::move(destination_));
  SayBackup();
  failure.reason = backup_->reason;
  failure.command = backup_->command;
  return backup_->end;
}

void TerminalSteps::SayBackup() const {
  if (!human()) return;
  switch (backup_->end) {
    case BackupEnd::Saved:
      if (backup_->file.empty()) {
        context_.out << "Backup read: " << backup_->reason << ".\n";
      } else {
        context_.out << "Backup written to " << Printable(backup_->file) << '\n';
      }
      return;
    case BackupEnd::BootRom:
      // Nothing to save, and the recovery of a bridge in its boot ROM must not be blocked.
      context_.out << "Nothing to back up: " << Printable(backup_->reason) << ".\n";
      return;
    case BackupEnd::Failed:
      return;
  }
}

void TerminalSteps::End(JobStep step) {
  if (step != JobStep::Write) return;
  session_.view().EndJob();
  // A signal after the last pump still deserves its word before the outcome.
  NoteInterruptOnce();
}

void TerminalSteps::NoteInterruptOnce() {
  if (*noted_ || context_.interrupts.received() == 0) return;
  *noted_ = true;
  session_.view().Note(kInterruptNote);
}

/// The request the command's options make for the enclosure the check examined.
UpdateRequest RequestOf(const UpdateJob& job, const CheckReport& check,
                        const UpdateOptions& options, const std::optional<FirmwareFile>& file) {
  UpdateRequest request;
  request.path = job.check().path;
  request.info = job.check().bridgeInfo;
  request.diskName = EnclosureName(check);
  request.file = file ? &*file : nullptr;
  request.leave = {options.allowOlder, options.allowReinstall, options.force};
  request.backupFirst = !options.noBackup && !options.recordedNoBackup;
  request.restoreNvram = options.restoreNvram;
  // The identity rewrite starts from bytes read alike twice: the backup's record, or two reads.
  // A recording made before updates backed up read the record once, and its replay does the same.
  request.nvramStart =
      options.recordedNoBackup && !options.noBackup ? NvramStart::OneRead : NvramStart::Agreed;
  request.refuseEarly = true;
  request.orderCarried = true;
  return request;
}

/// Ends a command whose request was refused: not offered, or refused before anything was asked.
int Refuse(CommandContext& context, const UpdateJob& job, const CheckReport& check,
           const Preparation& prepared) {
  if (prepared.refusal == Refusal::NotOffered) {
    const int code = CheckExitCode(check.verdict, job.RightsExplain());
    Finish(context, Ended(UpdateResult::NotOffered, check, check.reason), check, code);
    return code;
  }
  std::string reason = prepared.reason;
  if (prepared.refusal == Refusal::Chip) reason += ": " + check.reason.value_or("the check failed");
  const FileFacts* file = prepared.file ? &*prepared.file : nullptr;
  return Report(context, Failed(check, prepared.refusal, std::move(reason)), check, file);
}

/// What the run came to, as the command reports it.
UpdateOutcome Presented(const JobOutcome& ran, const CheckReport& check, const TerminalSteps& steps,
                        const std::optional<WrittenImage>& written) {
  UpdateOutcome outcome;
  if (ran.reached == JobStep::Backup) {
    outcome = Failed(check, ran.refusal, ran.failure.reason);
    outcome.command = ran.failure.command;
  } else if (ran.complete()) {
    outcome.result = UpdateResult::Complete;
    outcome.statusText = std::string(status::kUpdateComplete);
    outcome.exitCode = exitcode::kOk;
  } else {
    outcome.result = UpdateResult::Fail;
    outcome.statusText = std::string(status::kUpdateFail);
    outcome.failedStep = std::string(UpdateStepName(ran.failure.step));
    if (!ran.failure.reason.empty()) outcome.reason = ran.failure.reason;
    outcome.attempts = ran.failure.attempts;
    outcome.command = ran.failure.command;
    outcome.refused = Says(ran.refusal);
    outcome.partlyWritten =
        ran.written && (ran.reached == JobStep::Write || ran.reached == JobStep::Verify);
    outcome.exitCode = ran.noRights ? exitcode::kNoRights : exitcode::kFailure;
  }
  outcome.backup = steps.backup();
  outcome.written = written;
  return outcome;
}

/// After a write that failed part-way: what the enclosure may run now, and what recovers it.
void AdviseBootRom(CommandContext& context, bool recoverable) {
  if (context.options.json) return;
  context.err << "korvane-fw: the flash may now hold an incomplete firmware, so the enclosure may "
                 "start its boot ROM when it is plugged in again; ";
  if (recoverable) {
    context.err << "run korvane-fw update again: it writes the firmware through the boot ROM\n";
    return;
  }
  context.err << "this build carries development images only and cannot write through the boot "
                 "ROM; a build that carries the vendor's images can (korvane-fw update)\n";
}

/// Ends the command after the first scan found nothing to update.
int EndedScan(CommandContext& context, const UpdateJob& job, int code) {
  const CheckReport check = BuildCheckReport(job, context.messages);
  if (context.options.json)
    context.json.Set(UpdateJson(Ended(UpdateResult::NotOffered, check, check.reason), check));
  return code;
}

}  // namespace

int RunUpdate(CommandContext& context, const UpdateOptions& options, const ImageFile* file) {
  JobSession session(context);
  UpdateJob& job = session.job();
  if (const auto ended = ScanForEnclosure(context, session)) return EndedScan(context, job, *ended);
  const CheckReport check = BuildCheckReport(job, context.messages);
  const std::optional<FirmwareFile> given =
      file != nullptr ? std::optional(AsFirmwareFile(*file)) : std::nullopt;
  const Preparation prepared = job.Prepare(RequestOf(job, check, options, given));
  if (!context.options.json) {
    PrintCheckReport(context.out, context.err, check, given ? ReportFor::File : ReportFor::Update,
                     context.options.verbose);
    if (prepared.file && !check.checkedPath.empty())
      PrintFileToWrite(context.out, check, *prepared.file);
  }
  if (!prepared.plan) return Refuse(context, job, check, prepared);
  const FileFacts* facts = prepared.file ? &*prepared.file : nullptr;
  const std::optional<WrittenImage> written =
      facts != nullptr ? std::optional(WrittenFile(*facts)) : std::nullopt;
  if (!options.yes && !Confirm(context, check, facts, written)) {
    Finish(context, Ended(UpdateResult::Declined, check), check, exitcode::kOk);
    return exitcode::kOk;
  }
  TerminalSteps steps(context, session, options, check, written);
  const JobOutcome ran = job.Run(*prepared.plan, steps);
  UpdateOutcome outcome = Presented(ran, check, steps, written);
  if (!ran.complete()) {
    const int code = Report(context, outcome, check, facts);
    if (outcome.partlyWritten) AdviseBootRom(context, !job.CarriedImageGuarded());
    return code;
  }
  const auto expected = ExpectReload(*prepared.plan, job.check().firmware, options.replugWait);
  const bool replugs = context.devices.Replugs(expected.path);
  if (WantsReplug(context, options, replugs)) {
    return ProveAndReport(context, session, std::move(outcome), check, expected, facts);
  }
  const int code = Report(context, outcome, check, facts);
  SayNotReplugged(context, options, replugs);
  return code;
}

}  // namespace korvane::cli
