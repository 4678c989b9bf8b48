// The update as a job of the engine, below every face: the scan, the version check and the verdict
// they come to, and the update itself (write, verify, the NVRAM identity) with its declared steps
// and its typed outcome. The windows present it in their controls, korvane-fw on a terminal; both
// send the bridge the same commands because both run this.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "DeviceServices.h"
#include "FirmwareBackup.h"
#include "IDEAccess.h"
#include "ImageSource.h"
#include "UpdateContext.h"
#include "UpdateRequest.h"
#include "UpdateStep.h"
#include "UpdateView.h"
#include "Verdict.h"
#include "VersionCheck.h"

namespace korvane {

/// How far the whole update has come, and what it is doing.
struct JobProgress {
  int percent = 0;
  std::string_view label;
};

/// The whole job's progress when a step has come percent of its way; nothing for a step that
/// takes no share of it. The write takes the longest, reading back half as long, and the NVRAM
/// record little.
std::optional<JobProgress> JobProgressOf(UpdateStep step, int percent);

/// What the job works through: the stack's services, and the face's messages, debug output and
/// images.
struct JobServices {
  const DeviceServices& devices;
  MessageSink& messages;
  DebugOutput& debug;
  const ImageSource& images;
};

/// True when missing rights explain a scan that found nothing: the port under it turned a disk
/// away. Without a port that notes refusals, rights never explain.
bool RightsExplainEmptyScan(const AccessWatch* access);

/// One check and update of an enclosure.
class UpdateJob {
 public:
  explicit UpdateJob(JobServices services) : s_(services) {}

  /// The scan: the candidate disks, each one's INQUIRY and identification.
  const ScanResult& Scan(const ScanProgress& progress = {});
  /// True when the last scan leads to a version check: it found candidates and listed at most
  /// one enclosure.
  bool LeadsToCheck() const;
  /// The disk checked when no face chooses one: the enclosure listed, or, with none listed, the
  /// last candidate examined.
  std::string ChosenPath() const;
  /// The version check of the disk at path.
  const VersionCheck& Check(std::string_view path, const CheckProgress& progress = {});
  /// The scan, then the check of the chosen disk where the scan leads to one.
  void ScanAndCheck();

  /// The verdict of the last scan and check.
  CheckVerdict verdict() const;
  /// True when missing rights explain the verdict: a disk was turned away in the last scan, which
  /// found nothing, or the disk that the check failed on was, since that scan. The one decision
  /// of rights that every face shows.
  bool RightsExplain() const;
  /// Why the checked disk must not be written now, naming it as name; nothing when it is free.
  std::optional<std::string> InUse(std::string_view name) const;

  /// The request prepared against the last check: a plan, or why it is refused. Only a restore
  /// sends a command, a read of the enclosure's own NVRAM record.
  Preparation Prepare(const UpdateRequest& request);
  /// Runs the plan's steps: the backup, kept through steps, then the write, its verification and
  /// the NVRAM record. The update's failure() tells the rest.
  JobOutcome Run(const PreparedUpdate& plan, UpdateSteps& steps);

  /// The window's line on the debug output as its update button starts the write; the command
  /// line says nothing of a button.
  void Announce() const;
  /// Writes and verifies the firmware on the disk at path, whose bridge is info, then rewrites
  /// its NVRAM identity (or writes back the plan's record); the view hears the progress. False
  /// with failure() telling why.
  bool Update(std::string_view path, BridgeInfo info, UpdateView& view,
              const UpdatePlan& plan = {});
  /// The checked disk's NVRAM record, read once; nothing, with failure telling why, when it
  /// cannot be read or the check found no chip of ours.
  std::optional<std::vector<std::uint8_t>> ReadCheckedRecord(UpdateFailure& failure);
  /// Reads what the bridge of the disk at path runs, for a backup; only reads are sent. A saved
  /// backup's NVRAM record is kept for an update of the same disk that asks to start from agreed
  /// bytes, until the next scan or check.
  FirmwareBackup Backup(std::string_view path, BridgeInfo info, UpdateView* view = nullptr);

  const ScanResult& scan() const { return scan_; }
  const VersionCheck& check() const { return check_; }
  /// What the device stack said its enclosures are.
  Enclosures enclosures() const { return s_.devices.enclosures; }
  /// True when the carried firmware is development images, which reach only simulated enclosures.
  bool CarriedImageGuarded() const;
  /// Why the carried firmware the last check offers must not be written without the user's
  /// leave, where it is ordered as a file is: its version is older than, or the same as, the one
  /// the bridge runs (a JMS583's; the JMS578's cannot be ordered). Nothing when it may.
  std::optional<std::string> CarriedVersionRefusal(const VersionLeave& leave) const;
  /// Why the last update failed; step None after a success.
  const UpdateFailure& failure() const { return failure_; }

 private:
  void ForgetBackup();
  /// The chip of the disk the last scan led the check to; null when none of ours was identified.
  const ChipUpdate* IdentifiedChip() const;
  Preparation PrepareRules(const UpdateRequest& request);
  std::optional<Refusal> RefuseFile(const UpdateRequest& request, PreparedUpdate& plan,
                                    std::string& reason);
  JobOutcome Write(const PreparedUpdate& plan, UpdateSteps& steps);

  JobServices s_;
  bool scanned_ = false;
  bool checked_ = false;
  ScanResult scan_;
  VersionCheck check_;
  UpdateFailure failure_;
  std::size_t denialsAtScan_ = 0;           ///< refusals for want of rights before the last scan
  std::string backupPath_;                  ///< the disk of the last saved backup
  std::vector<std::uint8_t> backupRecord_;  ///< its NVRAM record, read twice alike
};

}  // namespace korvane
