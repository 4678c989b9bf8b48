// The job's side of a request: prepared against the last check, then run step by step.
#include "ImageCheck.h"
#include "UpdateJob.h"

namespace korvane {
namespace {

/// Why a build of development images does not write its carried firmware to a real enclosure.
constexpr std::string_view kDevelopmentRefusal =
    "this build carries development firmware images only, which would leave a real enclosure "
    "unusable: it writes to one only a firmware file given with --image";

Preparation Refused(Refusal refusal, std::string reason = {}) {
  return {std::nullopt, refusal, std::move(reason), std::nullopt};
}

/// The refusals the write itself makes before anything is sent.
Refusal RefusalOf(UpdateStep step) {
  switch (step) {
    case UpdateStep::Guard:
      return Refusal::Guard;
    case UpdateStep::Chip:
      return Refusal::Chip;
    case UpdateStep::InUse:
      return Refusal::InUse;
    case UpdateStep::Image:
      return Refusal::Image;
    default:
      return Refusal::None;
  }
}

/// The declared step a failed engine step belongs to.
JobStep StepOf(UpdateStep step) {
  switch (step) {
    case UpdateStep::ReadBack:
    case UpdateStep::Verify:
      return JobStep::Verify;
    case UpdateStep::NvramRead:
    case UpdateStep::NvramWrite:
    case UpdateStep::NvramVerify:
      return JobStep::Nvram;
    default:
      return JobStep::Write;
  }
}

/// True when a failed write may have changed the bridge: it got past every refusal and past the
/// identity read, which comes before anything is sent that changes the flash or the NVRAM.
bool MayHaveWritten(const UpdateFailure& failure) {
  return RefusalOf(failure.step) == Refusal::None && failure.step != UpdateStep::Identity;
}

}  // namespace

bool UpdateJob::CarriedImageGuarded() const {
  return s_.devices.enclosures != Enclosures::Simulated && s_.images.development();
}

std::optional<std::string> UpdateJob::CarriedVersionRefusal(const VersionLeave& leave) const {
  const ChipUpdate* chip = IdentifiedChip();
  if (chip == nullptr || verdict() != CheckVerdict::Offer) return std::nullopt;
  const auto image = s_.images.Find(chip->firmwareImage, kFirmwareType);
  return image ? CarriedOrderRefusal(check_, *chip, *image, leave) : std::nullopt;
}

const ChipUpdate* UpdateJob::IdentifiedChip() const {
  const bool identified = checked_ && LeadsToCheck() && !check_.path.empty();
  return identified ? check_.chip : nullptr;
}

Preparation UpdateJob::Prepare(const UpdateRequest& request) {
  Preparation prepared = PrepareRules(request);
  if (request.file != nullptr) prepared.file = DescribeFile(*request.file, IdentifiedChip());
  return prepared;
}

Preparation UpdateJob::PrepareRules(const UpdateRequest& request) {
  if (request.refuseEarly) {
    const CheckVerdict now = verdict();
    const bool enclosure = now != CheckVerdict::NotFound && now != CheckVerdict::Multiple;
    if (now != CheckVerdict::Offer && (request.file == nullptr || !enclosure)) {
      return Refused(Refusal::NotOffered);
    }
    // The write would refuse the carried image; said before the question and the backup.
    if (request.file == nullptr && CarriedImageGuarded()) {
      return Refused(Refusal::Guard, std::string(kDevelopmentRefusal));
    }
    if (request.file == nullptr && request.orderCarried) {
      if (auto reason = CarriedVersionRefusal(request.leave)) {
        return Refused(Refusal::Version, std::move(*reason));
      }
    }
  }
  PreparedUpdate plan{request.path, request.info,        FindChipUpdate(ChipCodeOf(request.info)),
                      {},           request.backupFirst, std::nullopt};
  plan.write.nvramStart = request.nvramStart;
  if (request.file != nullptr) {
    std::string reason;
    if (const auto refusal = RefuseFile(request, plan, reason)) return Refused(*refusal, reason);
  }
  // Writing the bridge's firmware under a mounted file system is a known way to brick an
  // enclosure: refused before the question, which would be for nothing.
  if (request.refuseEarly) {
    if (auto reason = InUse(request.diskName)) return Refused(Refusal::InUse, std::move(*reason));
  }
  if (plan.chip != nullptr) {
    const auto image = request.file != nullptr
                           ? std::optional(request.file->bytes)
                           : s_.images.Find(plan.chip->firmwareImage, kFirmwareType);
    plan.running = image ? RunningVersionOf(*plan.chip, *image) : std::nullopt;
  }
  return {std::move(plan), Refusal::None, {}, std::nullopt};
}

std::optional<Refusal> UpdateJob::RefuseFile(const UpdateRequest& request, PreparedUpdate& plan,
                                             std::string& reason) {
  const FirmwareFile& file = *request.file;
  // A file is judged against the chip the check identified, and only then written.
  const ChipUpdate* chip = IdentifiedChip();
  if (chip == nullptr) {
    reason = "no enclosure of a chip this program updates was identified";
    return Refusal::Chip;
  }
  plan.chip = chip;
  if (auto refused = RefuseFileFor(file, *chip)) {
    reason = std::move(refused->reason);
    return refused->refusal;
  }
  if (auto refusal = VersionRefusal(check_, *chip, file.bytes, request.leave)) {
    reason = std::move(*refusal);
    return Refusal::Version;
  }
  plan.write.image = file.bytes;
  if (!request.restoreNvram) return std::nullopt;
  const std::span<const std::uint8_t> saved = file.bytes.subspan(chip->firmwareArea);
  std::optional<std::string> refusal = RestoreFileRefusal(file, s_.devices.enclosures);
  if (!refusal) {
    UpdateFailure failure;
    const auto current = ReadCheckedRecord(failure);
    refusal = current ? RestoreRecordRefusal(saved, *current)
                      : "the enclosure's own NVRAM record could not be read: " + failure.reason;
  }
  if (refusal) {
    reason = std::move(*refusal);
    return Refusal::Restore;
  }
  plan.write.restoreNvram = saved;
  return std::nullopt;
}

JobOutcome UpdateJob::Run(const PreparedUpdate& plan, UpdateSteps& steps) {
  if (!plan.backupFirst) return Write(plan, steps);
  JobOutcome outcome;
  outcome.reached = JobStep::Backup;
  outcome.refusal = Refusal::Backup;
  if (auto problem = steps.ReadyBackup()) {
    outcome.failure.step = UpdateStep::Backup;
    outcome.failure.reason = std::move(*problem);
    return outcome;
  }
  steps.Begin(JobStep::Backup);
  const FirmwareBackup read = Backup(plan.path, plan.info, &steps.view());
  const BackupEnd end = steps.KeepBackup(read, outcome.failure);
  steps.End(JobStep::Backup);
  if (end != BackupEnd::Failed) return Write(plan, steps);
  outcome.failure.step = UpdateStep::Backup;
  return outcome;
}

JobOutcome UpdateJob::Write(const PreparedUpdate& plan, UpdateSteps& steps) {
  const std::size_t denials = s_.devices.access != nullptr ? s_.devices.access->denials() : 0;
  steps.Begin(JobStep::Write);
  const bool complete = Update(plan.path, plan.info, steps.view(), plan.write);
  steps.End(JobStep::Write);
  JobOutcome outcome;
  outcome.failure = failure_;
  if (complete) {
    outcome.reached = JobStep::Done;
    outcome.written = true;
    return outcome;
  }
  outcome.reached = StepOf(failure_.step);
  outcome.refusal = RefusalOf(failure_.step);
  outcome.written = MayHaveWritten(failure_);
  // Missing rights explain a failed write when a command of this write was turned away for them.
  outcome.noRights = s_.devices.access != nullptr && s_.devices.access->denials() > denials;
  return outcome;
}

}  // namespace korvane
