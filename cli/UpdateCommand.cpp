#include "UpdateCommand.h"

#include <algorithm>
#include <array>
#include <memory>

#include "EmbeddedImages.h"
#include "EnclosureWait.h"
#include "HistoryCommand.h"
#include "ImageCheck.h"
#include "SenseData.h"
#include "Sha256.h"
#include "Text.h"

namespace korvane::cli {
namespace {

/// Why a build of development images does not write its carried firmware to a real enclosure.
constexpr std::string_view kDevelopmentRefusal =
    "this build carries development firmware images only, which would leave a real enclosure "
    "unusable: it writes to one only a firmware file given with --image";

/// A failed or refused update: nothing written unless a step failed under way.
UpdateOutcome Failed(const CheckReport& check, UpdateStep step, std::string reason,
                     int exitCode = exitcode::kFailure) {
  UpdateOutcome outcome;
  outcome.result = UpdateResult::Fail;
  outcome.statusText = check.statusText;
  outcome.failedStep = std::string(UpdateStepName(step));
  outcome.reason = std::move(reason);
  outcome.exitCode = exitCode;
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

/// Refuses a disk in use before asking: the update would refuse it too, but only after the
/// question. Writing the bridge's firmware under a mounted file system is a known way to brick an
/// enclosure.
std::optional<UpdateOutcome> RefuseMounted(const UpdateJob& job, const CheckReport& check) {
  std::optional<std::string> reason = job.InUse(EnclosureName(check));
  if (!reason) return std::nullopt;
  return Failed(check, UpdateStep::InUse, std::move(*reason));
}

/// The version in an image's header as people read it: a.b.c.d, or the JMS578's four digits.
std::string ImageVersionText(const ChipUpdate& chip, std::span<const std::uint8_t> image) {
  const auto version = ImageVersion(image);
  if (!version) return "unknown";
  if (chip.chipCode == kChipCodeJms583) return VersionText(*version);
  return "\"" + Printable(std::string(version->begin(), version->end())) + "\"";
}

WrittenImage WrittenFile(const ImageFile& file, const ChipUpdate& chip) {
  return {file.path, file.bytes.size(), file.sha256, ImageVersionText(chip, file.bytes),
          RunningVersionOf(chip, file.bytes)};
}

/// Why the file must not be written to this bridge without the user's leave; nothing when it
/// may. The JMS583 keeps its version as four bytes taken in order; the JMS578's image names its
/// version in digits that the bridge does not report the same way, so they cannot be ordered.
std::optional<std::string> VersionRefusal(const VersionCheck& checked, const ChipUpdate& chip,
                                          const WrittenImage& written,
                                          std::span<const std::uint8_t> image,
                                          const UpdateOptions& options) {
  if (checked.romMode) return std::nullopt;
  if (!checked.firmware) return std::string("the running version could not be read");
  const std::string running = VersionText(*checked.firmware);
  if (chip.chipCode != kChipCodeJms583) {
    if (options.force) return std::nullopt;
    return "the file names its version " + written.version + ", which cannot be ordered against " +
           "the running " + running + ": add --force to write it";
  }
  const auto version = ImageVersion(image).value_or(std::array<std::uint8_t, 4>{});
  if (version < *checked.firmware && !options.allowOlder) {
    return "the file holds " + written.version + ", older than the running " + running +
           ": add --allow-older to write it";
  }
  if (version == *checked.firmware && !options.allowReinstall) {
    return "the file holds " + written.version +
           ", which the bridge runs already: add --allow-reinstall to write it again";
  }
  return std::nullopt;
}

/// Why the file is no firmware for the checked bridge, or may not be written; nothing when it
/// may. A backup this program made is judged as a whole image is: the bridge's stamp in its second
/// block holds no judged field, and a broken signature would leave the bridge in its boot ROM.
std::optional<UpdateOutcome> JudgeFile(const VersionCheck& checked, const CheckReport& check,
                                       const ImageFile& file, const UpdateOptions& options) {
  const ChipUpdate& chip = *checked.chip;
  if (const ChipUpdate* other = ChipOfImage(file.bytes); other != nullptr && other != &chip) {
    return Failed(check, UpdateStep::Image,
                  file.path + " is an image for a " + std::string(other->chipName) +
                      "; the enclosure's bridge is a " + std::string(chip.chipName),
                  exitcode::kBadInput);
  }
  const ImageJudgement judgement =
      file.backupRecord ? ImageJudgement::Backup : ImageJudgement::Whole;
  if (auto problem = FirmwareImageProblem(chip, file.bytes, judgement)) {
    return Failed(check, UpdateStep::Image, file.path + ": " + *problem, exitcode::kBadInput);
  }
  if (auto refusal = VersionRefusal(checked, chip, WrittenFile(file, chip), file.bytes, options)) {
    return Failed(check, UpdateStep::Version, std::move(*refusal));
  }
  return std::nullopt;
}

/// Why the file's NVRAM record must not be written back to this enclosure; nothing when it may.
/// Only a backup this program made of this very enclosure qualifies: a vendor's template is
/// never written, and another enclosure's record would clone its serial number.
std::optional<std::string> RestoreRefusal(JobSession& session, const ImageFile& file,
                                          Enclosures enclosures) {
  const VersionCheck& checked = session.job().check();
  if (!file.backupRecord) {
    return file.path + " is not a backup this program made (its record " + file.path +
           ".json is missing or names another file): its NVRAM record is not written";
  }
  const bool simulated = file.backupRecord->value("simulated", false);
  if (simulated && enclosures == Enclosures::Real) {
    return file.path +
           " is the backup of a simulated enclosure: its NVRAM record is not written "
           "to a real one";
  }
  UpdateFailure failure;
  const auto current = session.job().ReadCheckedRecord(failure);
  if (!current) return "the enclosure's own NVRAM record could not be read: " + failure.reason;
  const std::span<const std::uint8_t> saved =
      std::span(file.bytes).subspan(checked.chip->firmwareArea);
  constexpr std::size_t kUsbIds = 4;
  const bool sameIds = std::ranges::equal(saved.first(kUsbIds), std::span(*current).first(kUsbIds));
  if (!sameIds || SerialDescriptor(saved) != SerialDescriptor(*current)) {
    return "the backup was made of another enclosure (its USB ids or serial number differ): "
           "its NVRAM record is not written, which would give this one the other's serial";
  }
  return std::nullopt;
}

/// Asks on err and reads one line; end of input is a no.
bool Confirm(CommandContext& context, const CheckReport& check, const ImageFile* file,
             const std::optional<WrittenImage>& written) {
  const std::string running = check.firmware ? RunningText(check, check.firmware->version)
                                             : std::string("its present version");
  if (file == nullptr) {
    context.err << "Update the firmware of " << Printable(EnclosureName(check)) << " from "
                << running << " to " << OfferedText(check) << "?\n";
  } else {
    context.err << "Write " << Printable(file->path) << " to " << Printable(EnclosureName(check))
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

/// The job's update, with the signals that would end the program held back from the first write
/// until its outcome is recorded.
UpdateOutcome Write(CommandContext& context, JobSession& session, const UpdatePlan& plan) {
  InterruptDeferral& interrupts = context.interrupts;
  TerminalView& view = session.view();
  // The view keeps the hook, so what it refers to must live as long as the view.
  auto noted = std::make_shared<bool>(false);
  auto noteOnce = [noted, &interrupts, &view] {
    if (*noted || interrupts.received() == 0) return;
    *noted = true;
    view.Note(kInterruptNote);
  };
  if (!interrupts.armed()) interrupts.Arm();
  view.AddPumpHook(noteOnce);
  UpdateJob& job = session.job();
  job.Announce();
  view.BeginJob();
  const bool complete = job.Update(job.check().path, job.check().bridgeInfo, view, plan);
  view.EndJob();
  // A signal after the last pump still deserves its word before the outcome.
  noteOnce();

  UpdateOutcome outcome;
  if (complete) {
    outcome.result = UpdateResult::Complete;
    outcome.statusText = std::string(status::kUpdateComplete);
    outcome.exitCode = exitcode::kOk;
    return outcome;
  }
  const UpdateFailure& failure = job.failure();
  outcome.result = UpdateResult::Fail;
  outcome.statusText = std::string(status::kUpdateFail);
  outcome.failedStep = std::string(UpdateStepName(failure.step));
  if (!failure.reason.empty()) outcome.reason = failure.reason;
  outcome.attempts = failure.attempts;
  outcome.command = failure.command;
  return outcome;
}

/// The attempts after the first, which the failed step and reason above describe.
void PrintLaterAttempts(std::ostream& out, const UpdateOutcome& outcome) {
  for (std::size_t index = 1; index < outcome.attempts.size(); ++index) {
    const AttemptFailure& attempt = outcome.attempts[index];
    out << "Attempt " << index + 1 << ": " << UpdateStepName(attempt.step) << ": "
        << Printable(attempt.reason) << '\n';
  }
}

/// True for a refusal of ours before anything went to the bridge.
bool RefusedBeforeWriting(const UpdateOutcome& outcome) {
  static constexpr std::array kBefore{UpdateStep::InUse, UpdateStep::Image, UpdateStep::Version,
                                      UpdateStep::Backup, UpdateStep::Guard};
  return std::ranges::any_of(
      kBefore, [&outcome](UpdateStep step) { return outcome.failedStep == UpdateStepName(step); });
}

void PrintOutcome(std::ostream& out, const UpdateOutcome& outcome) {
  switch (outcome.result) {
    case UpdateResult::Complete:
      out << "Update complete\n"
          << "Unplug the enclosure and plug it in again, so that the new firmware starts.\n";
      return;
    case UpdateResult::Fail:
      if (RefusedBeforeWriting(outcome)) {
        out << "Refused: " << Printable(outcome.reason.value_or("")) << ".\nNothing was written.\n";
        return;
      }
      out << "Update Fail\n"
          << "Failed step: " << outcome.failedStep.value_or("unknown") << '\n'
          << "Reason: " << Printable(outcome.reason.value_or("not known")) << '\n';
      PrintLaterAttempts(out, outcome);
      return;
    case UpdateResult::NotOffered:
      out << "Nothing was written: no update is offered.\n";
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
    PrintOutcome(context.out, outcome);
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
    json["image"] = {{"name", outcome.written->name},
                     {"size", outcome.written->size},
                     {"sha256", outcome.written->sha256},
                     {"version", outcome.written->version}};
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

/// The backup before the write, as the options ask; an outcome when the update must not go on.
std::optional<UpdateOutcome> BackUpFirst(CommandContext& context, JobSession& session,
                                         const CheckReport& check, const UpdateOptions& options,
                                         std::optional<BackupOutcome>& made) {
  const bool human = !context.options.json;
  if (options.recordedNoBackup) return std::nullopt;
  if (options.noBackup) {
    if (human) context.out << "No backup is made (--no-backup).\n";
    return std::nullopt;
  }
  auto prepared = PrepareBackup(context, {});
  if (auto* problem = std::get_if<std::string>(&prepared)) {
    const bool noFolder = *problem == kNoStateFolder;
    return Failed(check, UpdateStep::Backup,
                  noFolder ? *problem + ": set one, or add --no-backup" : *problem);
  }
  if (human) context.out << "Backing up the firmware first.\n" << std::flush;
  made = TakeBackup(context, session, check,
                    std::move(std::get<std::optional<BackupDestination>>(prepared)));
  switch (made->end) {
    case BackupEnd::Saved:
      if (!human) return std::nullopt;
      if (made->file.empty()) {
        context.out << "Backup read: " << made->reason << ".\n";
      } else {
        context.out << "Backup written to " << Printable(made->file) << '\n';
      }
      return std::nullopt;
    case BackupEnd::BootRom:
      // Nothing to save, and the recovery of a bridge in its boot ROM must not be blocked.
      if (human) context.out << "Nothing to back up: " << Printable(made->reason) << ".\n";
      return std::nullopt;
    case BackupEnd::Failed:
      break;
  }
  UpdateOutcome refused = Failed(check, UpdateStep::Backup, made->reason);
  refused.command = made->command;
  return refused;
}

/// What is written, when the options name a file: judged here, before anything is sent. An
/// outcome when it must not be written.
std::optional<UpdateOutcome> PlanFile(JobSession& session, const CheckReport& check,
                                      const ImageFile& file, const UpdateOptions& options,
                                      UpdatePlan& plan, Enclosures enclosures) {
  const VersionCheck& checked = session.job().check();
  if (checked.chip == nullptr || check.checkedPath.empty()) {
    return Failed(check, UpdateStep::Chip,
                  "no enclosure of a chip this program updates was identified: " +
                      check.reason.value_or("the check failed"));
  }
  if (auto refusal = JudgeFile(checked, check, file, options)) return refusal;
  plan.image = file.bytes;
  if (options.restoreNvram) {
    if (auto refusal = RestoreRefusal(session, file, enclosures)) {
      return Failed(check, UpdateStep::Image, std::move(*refusal));
    }
    plan.restoreNvram = std::span(file.bytes).subspan(checked.chip->firmwareArea);
  }
  return std::nullopt;
}

/// The image as the history names it, with the version a bridge reports once it runs it.
HistoryImage WithRunning(HistoryImage image, const ChipUpdate& chip,
                         const std::optional<std::array<std::uint8_t, 4>>& running) {
  if (!running) return image;
  image.running = VersionText(*running);
  if (const std::string_view release = ReleaseOf(chip, *running); !release.empty()) {
    image.release = std::string(release);
  }
  return image;
}

/// The carried image an update offered writes, as the history names it.
std::optional<HistoryImage> CarriedImage(const CheckReport& check) {
  const ChipUpdate* chip = check.chipCode ? FindChipUpdate(*check.chipCode) : nullptr;
  if (chip == nullptr || check.offeredVersion.empty()) return std::nullopt;
  const EmbeddedImages images;
  const auto bytes = images.Find(chip->firmwareImage, kFirmwareType);
  return WithRunning(
      HistoryImage{std::string(chip->firmwareImage),
                   bytes ? std::optional(Sha256Hex(*bytes)) : std::nullopt, check.offeredVersion},
      *chip, check.carried);
}

/// What the update wrote, or would have written: the file, or the carried image.
std::optional<HistoryImage> WrittenImageOf(const UpdateOutcome& outcome, const CheckReport& check,
                                           const ImageFile* file) {
  if (outcome.written) {
    const HistoryImage image{RecordedPath(outcome.written->name), outcome.written->sha256,
                             outcome.written->version};
    const ChipUpdate* chip = CheckedChip(check);
    return chip != nullptr ? WithRunning(image, *chip, outcome.written->running) : image;
  }
  if (file == nullptr) return CarriedImage(check);
  // A file refused before it was planned: its version as its own chip writes it, where known.
  const ChipUpdate* chip = ChipOfImage(file->bytes);
  if (chip == nullptr && check.chipCode) chip = FindChipUpdate(*check.chipCode);
  const std::string path = RecordedPath(file->path);
  if (chip == nullptr) return HistoryImage{path, file->sha256, std::nullopt};
  const HistoryImage image{path, file->sha256, ImageVersionText(*chip, file->bytes)};
  return WithRunning(image, *chip, RunningVersionOf(*chip, file->bytes));
}

HistoryEvent UpdateEvent(const CommandContext& context, const UpdateOutcome& outcome,
                         const CheckReport& check, const ImageFile* file) {
  HistoryEvent event = NewHistoryEvent(context, "update", check);
  event.written = WrittenImageOf(outcome, check, file);
  event.result = std::string(UpdateResultName(outcome.result));
  event.failedStep = outcome.failedStep;
  event.reason = outcome.reason;
  if (outcome.backup && outcome.backup->end == BackupEnd::Saved) {
    event.backup = RecordedPath(outcome.backup->file);
  }
  if (outcome.replug) event.replug = ReplugJson(*outcome.replug);
  return event;
}

/// Reports an update that completed or failed, and adds it to the history.
int Report(CommandContext& context, const UpdateOutcome& outcome, const CheckReport& check,
           const ImageFile* file) {
  Finish(context, outcome, check, outcome.exitCode);
  RecordHistory(context, UpdateEvent(context, outcome, check, file));
  return outcome.exitCode;
}

/// A person at a terminal replugs and sees the proof; scripts ask for it with --replug.
bool WantsReplug(const CommandContext& context, const UpdateOptions& options) {
  return options.replug.value_or(context.console.inIsTerminal && context.console.outIsTerminal);
}

/// What the proof after the replug looks for: the chip, what ran, what the written image runs.
ReplugExpectation ExpectationOf(const JobSession& session, const CheckReport& check,
                                const UpdateOptions& options, const ImageFile* file) {
  const ChipUpdate& chip = *session.job().check().chip;
  ReplugExpectation expected;
  expected.chipCode = chip.chipCode;
  expected.path = check.checkedPath;
  if (check.firmware) expected.before = check.firmware->version;
  const std::span<const std::uint8_t> image = file != nullptr
                                                  ? std::span<const std::uint8_t>(file->bytes)
                                                  : EmbeddedImages()
                                                        .Find(chip.firmwareImage, kFirmwareType)
                                                        .value_or(std::span<const std::uint8_t>());
  expected.written = RunningVersionOf(chip, image);
  expected.wait = options.replugWait;
  return expected;
}

/// Says the update completed, waits for the replug and reports what it showed.
int ProveAndReport(CommandContext& context, JobSession& session, UpdateOutcome outcome,
                   const CheckReport& check, const ReplugExpectation& expected,
                   const ImageFile* file) {
  const bool human = !context.options.json;
  if (human) context.out << "Update complete\n" << std::flush;
  outcome.replug = ProveReplug(context, session, expected);
  outcome.exitCode = ReplugExitCode(outcome.replug->result);
  if (!human) return Report(context, outcome, check, file);
  const bool recoverable =
      context.devices.enclosures() == Enclosures::Simulated || !EmbeddedImages().development();
  PrintReplugProof(context.out, *outcome.replug, expected, recoverable);
  PrintWarnings(context, check);
  RecordHistory(context, UpdateEvent(context, outcome, check, file));
  return outcome.exitCode;
}

}  // namespace

int RunUpdate(CommandContext& context, const UpdateOptions& options, const ImageFile* file) {
  JobSession session(context);
  if (const auto ended = ScanForEnclosure(context, session)) {
    const CheckReport check = BuildCheckReport(session.job(), context.messages);
    if (context.options.json)
      context.json.Set(UpdateJson(Ended(UpdateResult::NotOffered, check, check.reason), check));
    return *ended;
  }
  const CheckReport check = BuildCheckReport(session.job(), context.messages);
  const bool human = !context.options.json;
  if (human) PrintCheckReport(context.out, check, ReportFor::Update);

  const bool enclosure =
      check.verdict != CheckVerdict::NotFound && check.verdict != CheckVerdict::Multiple;
  if (check.verdict != CheckVerdict::Offer && (file == nullptr || !enclosure)) {
    const int code = CheckExitCode(check.verdict, session.job().RightsExplain());
    Finish(context, Ended(UpdateResult::NotOffered, check, check.reason), check, code);
    return code;
  }
  // The engine would refuse the carried image at the write; said before the question and the
  // backup, which would be for nothing.
  if (file == nullptr && DevelopmentNoteApplies(check)) {
    return Report(context, Failed(check, UpdateStep::Guard, std::string(kDevelopmentRefusal)),
                  check, file);
  }
  UpdatePlan plan;
  // The identity rewrite starts from bytes read alike twice: the backup's record, or two reads.
  // A recording made before updates backed up read the record once, and its replay does the same.
  plan.nvramStart =
      options.recordedNoBackup && !options.noBackup ? NvramStart::OneRead : NvramStart::Agreed;
  std::optional<WrittenImage> written;
  if (file != nullptr) {
    if (auto refusal =
            PlanFile(session, check, *file, options, plan, context.devices.enclosures())) {
      return Report(context, *refusal, check, file);
    }
    written = WrittenFile(*file, *session.job().check().chip);
  }
  if (auto refusal = RefuseMounted(session.job(), check)) {
    return Report(context, *refusal, check, file);
  }
  if (!options.yes && !Confirm(context, check, file, written)) {
    Finish(context, Ended(UpdateResult::Declined, check), check, exitcode::kOk);
    return exitcode::kOk;
  }
  std::optional<BackupOutcome> backup;
  if (auto refusal = BackUpFirst(context, session, check, options, backup)) {
    refusal->backup = backup;
    refusal->written = written;
    return Report(context, *refusal, check, file);
  }
  if (human) {
    const std::string what =
        written ? Printable(written->name) + " (" + written->version + ")" : OfferedText(check);
    context.out << "Writing " << what << ": do not unplug the enclosure.\n" << std::flush;
  }
  const std::size_t denialsBefore = context.access.denials();
  UpdateOutcome outcome = Write(context, session, plan);
  outcome.backup = std::move(backup);
  outcome.written = written;
  if (outcome.result != UpdateResult::Complete && context.access.denials() > denialsBefore) {
    outcome.exitCode = exitcode::kNoRights;
  }
  if (outcome.result == UpdateResult::Complete && WantsReplug(context, options)) {
    return ProveAndReport(context, session, std::move(outcome), check,
                          ExpectationOf(session, check, options, file), file);
  }
  return Report(context, outcome, check, file);
}

}  // namespace korvane::cli
