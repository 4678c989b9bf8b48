#include "CheckReport.h"

#include <algorithm>
#include <array>

#include "ChipUpdate.h"
#include "ImageCheck.h"
#include "Text.h"

namespace korvane::cli {
namespace {

/// The check's record, when the last scan ended in a version check.
const VersionCheck* CheckedRecord(const UpdateJob& job) {
  if (!job.LeadsToCheck()) return nullptr;
  return job.check().path.empty() ? nullptr : &job.check();
}

/// The scan's disks, with the firmware the check read for the disk it examined.
std::vector<ListEntry> ListedEntries(const UpdateJob& job, const VersionCheck* record) {
  std::vector<ListEntry> entries;
  for (const ListedDisk& disk : job.scan().listed) {
    ListEntry entry{disk, std::nullopt};
    if (record != nullptr && record->firmware && disk.path == record->path) {
      entry.firmware = FirmwareState{*record->firmware, record->romMode};
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string NothingFoundReason(const UpdateJob& job, const KeptMessages& messages) {
  if (!job.scan().warnings.empty()) return job.scan().warnings.front();
  if (!messages.texts().empty()) return messages.texts().front();
  const int count = job.scan().enumeratedDiskCount;
  if (count == 0) return "no USB, UASP or FireWire disk with a bridge chip is attached";
  return std::to_string(count) +
         " disk(s) answered the bridge probe, but none has a bridge chip this tool knows";
}

std::optional<std::string> Reason(const CheckReport& report, const UpdateJob& job,
                                  const KeptMessages& messages) {
  const std::string& failure = job.check().failure;
  switch (report.verdict) {
    case CheckVerdict::Offer:
    case CheckVerdict::UpToDate:
      return std::nullopt;
    case CheckVerdict::NothingToUpdate:
      return job.check().reason();
    case CheckVerdict::Multiple:
      return std::to_string(job.scan().listed.size()) +
             " enclosures are attached; disconnect all but the one to update, or name it with "
             "--device PATH";
    case CheckVerdict::NotFound:
      // A check that ran on a disk the scan could not list says best why it was not found.
      if (report.checkedPath.empty() || failure.empty()) return NothingFoundReason(job, messages);
      return failure;
    case CheckVerdict::Failure:
      break;
  }
  if (!failure.empty()) return failure;
  if (!messages.texts().empty()) return messages.texts().front();
  return "the check failed";
}

/// Discovery's and the message boxes' texts, less the one that became the reason.
std::vector<std::string> Warnings(const UpdateJob& job, const KeptMessages& messages,
                                  const std::optional<std::string>& reason) {
  std::vector<std::string> warnings;
  for (const auto* texts : {&job.scan().warnings, &messages.texts()}) {
    for (const std::string& text : *texts) {
      if (!reason || text != *reason) warnings.push_back(text);
    }
  }
  return warnings;
}

void FillChecked(CheckReport& report, const UpdateJob& job, const VersionCheck& record) {
  report.checkedPath = record.path;
  if (const std::uint8_t code = ChipCodeOf(record.bridgeInfo); code != 0) {
    report.chipCode = code;
    report.revision = RevisionOf(record.bridgeInfo);
  }
  if (record.firmware) report.firmware = FirmwareState{*record.firmware, record.romMode};
  report.enclosure = DescribeEnclosure(record.bridgeInfo, record.firmware, record.romMode);
  const auto& listed = job.scan().listed;
  const auto found = std::ranges::find_if(
      listed, [&](const ListedDisk& disk) { return disk.path == record.path; });
  if (found != listed.end()) report.checked = *found;
}

std::string FirmwareLine(const CheckReport& report) {
  if (!report.firmware) return "not read";
  if (report.firmware->romMode) return "none: the boot ROM runs";
  return RunningText(report, report.firmware->version);
}

/// "Up to date" only where the bridge runs the very firmware carried; the version rules also
/// leave alone versions that are not it.
void PrintCurrent(std::ostream& out, const CheckReport& report, const std::string& reason) {
  const bool runsCarried = report.firmware && !report.firmware->romMode && report.carried &&
                           report.firmware->version == *report.carried;
  if (runsCarried) {
    out << "The firmware is up to date: it runs " << RunningText(report, *report.carried)
        << ", the version this tool carries.\n";
    return;
  }
  if (report.verdict == CheckVerdict::NothingToUpdate) {
    out << "No update is offered: " << reason << ".\n";
    return;
  }
  out << "No update is offered: the version rules count the running firmware as current";
  if (report.carried) out << "; this tool carries " << RunningText(report, *report.carried);
  out << ".\n";
}

void PrintEnclosure(std::ostream& out, const CheckReport& report) {
  if (report.checked) out << "Enclosure: " << Printable(report.checked->line) << '\n';
  out << "Path:      " << Printable(report.checkedPath) << '\n';
  out << "Chip:      " << ChipText(report.enclosure) << '\n';
  out << "Firmware:  " << FirmwareLine(report) << '\n';
}

/// Missing rights, as an error line: what was not done first, what grants them after.
void PrintNoRights(std::ostream& err, const std::string& reason) {
  err << "korvane-fw: Missing rights: " << reason << ".\n";
}

void PrintVerdict(std::ostream& out, std::ostream& err, const CheckReport& report, ReportFor use) {
  const std::string reason = Printable(report.reason.value_or(""));
  const bool examined = report.verdict == CheckVerdict::Offer ||
                        report.verdict == CheckVerdict::UpToDate ||
                        report.verdict == CheckVerdict::NothingToUpdate;
  if (use == ReportFor::File && examined) return;
  switch (report.verdict) {
    case CheckVerdict::Offer:
      if (report.carriedOrder) {
        out << "The window offers an update to " << OfferedText(report);
        out << (use == ReportFor::Check
                    ? ", but " + Printable(*report.carriedOrder) + " with korvane-fw update.\n"
                    : std::string(".\n"));
        return;
      }
      out << "An update to " << OfferedText(report) << " is offered"
          << (use == ReportFor::Check ? ": run korvane-fw update\n" : ".\n");
      return;
    case CheckVerdict::UpToDate:
    case CheckVerdict::NothingToUpdate:
      PrintCurrent(out, report, reason);
      return;
    case CheckVerdict::NotFound:
      if (report.noRights) return PrintNoRights(err, reason);
      out << "No enclosure found: " << reason << ".\n";
      return;
    case CheckVerdict::Multiple:
      out << "Several enclosures are attached:\n";
      for (const ListEntry& entry : report.disks) {
        out << "  " << Printable(entry.disk.line) << " | " << Printable(entry.disk.path) << '\n';
      }
      out << "Disconnect all but the one to update, then run the command again.\n";
      err << "korvane-fw: several enclosures are attached: name the one to work on with --device "
             "PATH, a path listed above\n";
      return;
    case CheckVerdict::Failure:
      if (report.noRights) return PrintNoRights(err, reason);
      out << "The check could not decide: " << reason << ".\n";
      return;
  }
}

/// A version as {"version", "release"} members under the names given; both null without one.
void AddVersion(nlohmann::ordered_json& json, const CheckReport& report, const char* version,
                const char* release, const std::optional<std::array<std::uint8_t, 4>>& value) {
  json[version] = value ? nlohmann::ordered_json(VersionText(*value)) : nullptr;
  json[release] = ReleaseJson(CheckedChip(report), value);
}

/// The running version, where the identity block told one.
std::optional<std::array<std::uint8_t, 4>> Running(const CheckReport& report) {
  if (!report.firmware || report.firmware->romMode) return std::nullopt;
  return report.firmware->version;
}

}  // namespace

const ChipUpdate* CheckedChip(const CheckReport& report) {
  return report.chipCode ? FindChipUpdate(*report.chipCode) : nullptr;
}

std::string RunningText(const CheckReport& report, const std::array<std::uint8_t, 4>& version) {
  return VersionWithRelease(CheckedChip(report), version);
}

std::string OfferedText(const CheckReport& report) {
  if (!report.carried) return report.offeredVersion;
  return RunningText(report, *report.carried);
}

int CheckExitCode(CheckVerdict verdict, bool accessDenied) {
  switch (verdict) {
    case CheckVerdict::Offer:
      return exitcode::kOffered;
    case CheckVerdict::UpToDate:
    case CheckVerdict::NothingToUpdate:
      return exitcode::kOk;
    case CheckVerdict::NotFound:
      return accessDenied ? exitcode::kNoRights : exitcode::kNothingFound;
    case CheckVerdict::Multiple:
      return exitcode::kMultiple;
    case CheckVerdict::Failure:
      break;
  }
  return accessDenied ? exitcode::kNoRights : exitcode::kFailure;
}

CheckReport BuildCheckReport(const UpdateJob& job, const KeptMessages& messages) {
  CheckReport report;
  report.verdict = job.verdict();
  const VerdictDisplay display = DisplayOf(report.verdict, ChipCodeOf(job.check().bridgeInfo));
  report.statusText = display.text;
  report.picture = display.picture;
  report.clickable = display.Clickable();
  const VersionCheck* record = CheckedRecord(job);
  if (record != nullptr) FillChecked(report, job, *record);
  report.disks = ListedEntries(job, record);
  if (record != nullptr) report.offeredVersion = record->offeredVersion();
  if (const ChipUpdate* chip = CheckedChip(report)) report.carried = CarriedRunningVersion(*chip);
  report.noRights = CheckExitCode(report.verdict, job.RightsExplain()) == exitcode::kNoRights;
  report.developmentBuild = job.CarriedImageGuarded();
  report.reason = Reason(report, job, messages);
  report.carriedOrder = job.CarriedVersionRefusal({});
  report.warnings = Warnings(job, messages, report.reason);
  return report;
}

nlohmann::ordered_json CheckJson(const CheckReport& report) {
  nlohmann::ordered_json disks = nlohmann::ordered_json::array();
  for (const ListEntry& entry : report.disks) disks.push_back(DiskJson(entry));
  const std::string_view verdict = report.noRights ? "no-rights" : VerdictName(report.verdict);
  nlohmann::ordered_json json{{"verdict", verdict},   {"status_text", report.statusText},
                              {"picture", nullptr},   {"clickable", report.clickable},
                              {"chip_code", nullptr}, {"firmware", nullptr},
                              {"disks", disks},       {"reason", nullptr}};
  if (report.picture) json["picture"] = PictureName(*report.picture);
  if (report.chipCode) json["chip_code"] = *report.chipCode;
  if (report.firmware) json["firmware"] = VersionText(report.firmware->version);
  if (report.reason) json["reason"] = *report.reason;
  json["firmware_release"] = ReleaseJson(CheckedChip(report), Running(report));
  AddVersion(json, report, "offered_version", "offered_release",
             report.verdict == CheckVerdict::Offer ? report.carried : std::nullopt);
  AddVersion(json, report, "carried_version", "carried_release", report.carried);
  return json;
}

bool DevelopmentNoteApplies(const CheckReport& report) {
  return report.developmentBuild && report.verdict == CheckVerdict::Offer;
}

std::string EnclosureName(const CheckReport& report) {
  return report.checked ? report.checked->line : report.checkedPath;
}

void PrintCheckReport(std::ostream& out, std::ostream& err, const CheckReport& report,
                      ReportFor use, bool verbose) {
  if (!report.checkedPath.empty()) PrintEnclosure(out, report);
  PrintVerdict(out, err, report, use);
  if (DevelopmentNoteApplies(report) && use != ReportFor::File)
    out << kDevelopmentBuildNote << '\n';
  if (verbose) out << "Window:    \"" << report.statusText << "\"\n";
}

void PrintWarnings(CommandContext& context, const CheckReport& report) {
  for (const std::string& warning : report.warnings) {
    context.err << "korvane-fw: warning: " << Printable(warning) << '\n';
    context.json.Add(Severity::Warning, warning);
  }
  if (DevelopmentNoteApplies(report)) {
    context.json.Add(Severity::Information, std::string(kDevelopmentBuildNote));
  }
}

}  // namespace korvane::cli
