#include "UpdateJob.h"

#include <algorithm>
#include <array>

#include "ChipUpdate.h"
#include "FlashProgramming.h"
#include "NvramIdentity.h"

namespace korvane {
namespace {

/// A step's share of the whole job: it runs from `from` to `from + share` percent.
struct StepShare {
  UpdateStep step;
  int from;
  int share;
  std::string_view label;
};

constexpr std::array<StepShare, 5> kStepShares{{
    // The backup before a write is a job of its own, shown before the write starts over at 0.
    {UpdateStep::Backup, 0, 100, "Backing up the firmware"},
    {UpdateStep::WriteBlock, 0, 60, "Writing firmware"},
    {UpdateStep::ReadBack, 60, 30, "Verifying firmware"},
    {UpdateStep::Verify, 90, 0, "Verifying firmware"},
    {UpdateStep::NvramWrite, 90, 10, "Writing the NVRAM record"},
}};

}  // namespace

std::optional<JobProgress> JobProgressOf(UpdateStep step, int percent) {
  for (const StepShare& share : kStepShares) {
    if (share.step != step) continue;
    return JobProgress{share.from + std::clamp(percent, 0, 100) * share.share / 100, share.label};
  }
  return std::nullopt;
}

const ScanResult& UpdateJob::Scan(const ScanProgress& progress) {
  denialsAtScan_ = s_.devices.access != nullptr ? s_.devices.access->denials() : 0;
  scan_ = ScanBridgeDisks(s_.devices.lister, s_.devices.io, s_.messages, progress);
  scanned_ = true;
  checked_ = false;
  ForgetBackup();
  return scan_;
}

bool UpdateJob::LeadsToCheck() const {
  return scanned_ && scan_.enumeratedDiskCount > 0 && scan_.listed.size() <= 1;
}

std::string UpdateJob::ChosenPath() const {
  return scan_.listed.empty() ? scan_.unlistedPath : scan_.listed.front().path;
}

const VersionCheck& UpdateJob::Check(std::string_view path, const CheckProgress& progress) {
  check_ = CheckVersion({s_.devices.io, s_.devices.clock, s_.messages}, path, progress);
  checked_ = true;
  ForgetBackup();
  return check_;
}

void UpdateJob::ScanAndCheck() {
  Scan();
  if (LeadsToCheck()) Check(ChosenPath());
}

CheckVerdict UpdateJob::verdict() const {
  if (!scanned_) return CheckVerdict::Failure;
  if (scan_.enumeratedDiskCount == 0) return CheckVerdict::NotFound;
  if (scan_.listed.size() > 1) return CheckVerdict::Multiple;
  if (!checked_) return CheckVerdict::Failure;
  const CheckVerdict checked = CheckVerdictOf(check_.verdict());
  if (checked != CheckVerdict::Failure) return checked;
  // A failed check of a disk the scan could not list means that no enclosure was found.
  return scan_.listed.empty() ? CheckVerdict::NotFound : CheckVerdict::Failure;
}

bool RightsExplainEmptyScan(const AccessWatch* access) {
  return access != nullptr && access->denied();
}

bool UpdateJob::RightsExplain() const {
  // Only refusals since the last scan count: a window that scans again and again must not keep
  // saying that rights are missing once they no longer are.
  const AccessWatch* access = s_.devices.access;
  if (access == nullptr || access->denials() == denialsAtScan_) return false;
  const CheckVerdict now = verdict();
  if (now == CheckVerdict::NotFound) return true;
  return now == CheckVerdict::Failure && checked_ && access->DeniedFor(check_.path);
}

std::optional<std::string> UpdateJob::InUse(std::string_view name) const {
  if (s_.devices.mounts == nullptr || !checked_) return std::nullopt;
  return InUseReason(*s_.devices.mounts, check_.path, name);
}

void UpdateJob::Announce() const { s_.debug.Write("btn_upd Press\n"); }

bool UpdateJob::Update(std::string_view path, BridgeInfo info, UpdateView& view,
                       const UpdatePlan& plan) {
  failure_ = {};
  // The hold is released when the update returns, however it ends.
  std::unique_ptr<DiskHold> hold;
  const UpdateContext context{s_.devices.io,
                              s_.devices.clock,
                              view,
                              s_.messages,
                              s_.debug,
                              s_.images,
                              info,
                              &failure_,
                              s_.devices.enclosures,
                              s_.devices.mounts,
                              plan.image,
                              s_.devices.holder,
                              &hold};
  if (!UpdateFirmware(context, path)) return false;
  // UpdateFirmware serves only the chips of the table, so the record address is known here.
  const ChipUpdate* chip = FindChipUpdate(ChipCodeOf(info));
  if (chip == nullptr) return false;
  if (plan.restoreNvram.size() == kNvramRecordBytes) {
    return WriteNvramRecord(context, path, chip->nvramAddress,
                            plan.restoreNvram.first<kNvramRecordBytes>());
  }
  if (plan.nvramStart == NvramStart::OneRead) {
    return RewriteNvramIdentity(context, path, chip->nvramAddress);
  }
  const std::span<const std::uint8_t> agreed = backupPath_ == path
                                                   ? std::span<const std::uint8_t>(backupRecord_)
                                                   : std::span<const std::uint8_t>();
  return RewriteAgreedNvramIdentity(context, path, chip->nvramAddress, agreed);
}

std::optional<std::vector<std::uint8_t>> UpdateJob::ReadCheckedRecord(UpdateFailure& failure) {
  if (!checked_ || check_.chip == nullptr) {
    NoteFailure(&failure, UpdateStep::Chip, "no bridge of a chip this program updates was checked");
    return std::nullopt;
  }
  return ReadNvramRecord(s_.devices.io, s_.devices.clock, check_.path, *check_.chip, failure);
}

FirmwareBackup UpdateJob::Backup(std::string_view path, BridgeInfo info, UpdateView* view) {
  ForgetBackup();
  FirmwareBackup backup = ReadFirmwareBackup(s_.devices.io, s_.devices.clock, path, info, view);
  if (backup.end == BackupEnd::Saved && backup.image.size() >= kNvramRecordBytes) {
    backupPath_ = path;
    const std::span<const std::uint8_t> image(backup.image);
    const auto record = image.last(kNvramRecordBytes);
    backupRecord_.assign(record.begin(), record.end());
  }
  return backup;
}

void UpdateJob::ForgetBackup() {
  backupPath_.clear();
  backupRecord_.clear();
}

}  // namespace korvane
