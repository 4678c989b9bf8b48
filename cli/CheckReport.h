// The check's outcome as the commands report it: the scan and version check, in words or as JSON.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "Command.h"
#include "DiskEntries.h"
#include "Facts.h"
#include "JobSession.h"

namespace korvane::cli {

/// The exit code for a verdict; missing rights take over where they are why nothing was found
/// or the check failed.
int CheckExitCode(CheckVerdict verdict, bool accessDenied);

/// The check's outcome as the command reports it.
struct CheckReport {
  CheckVerdict verdict = CheckVerdict::Failure;
  std::string statusText;                 ///< the window's exact text
  std::optional<Picture> picture;         ///< the picture last shown in Image3
  bool clickable = false;                 ///< a click on the status text would start the update
  std::optional<ListedDisk> checked;      ///< the disk the version check examined, if listed
  std::string checkedPath;                ///< its path; empty when no check ran
  std::optional<std::uint8_t> chipCode;   ///< null when no chip was recognised
  std::optional<std::uint8_t> revision;   ///< with the chip code
  std::optional<FirmwareState> firmware;  ///< null when the identity block was not read
  EnclosureFacts enclosure;               ///< the checked enclosure, as every output names it
  std::vector<ListEntry> disks;           ///< what the scan listed
  std::string offeredVersion;             ///< the version offered; empty without an offer
  /// What a bridge of the checked chip runs once it runs the carried firmware; null for a chip
  /// this program does not update.
  std::optional<std::array<std::uint8_t, 4>> carried;
  bool noRights = false;  ///< nothing was found, or the check failed, for want of rights
  /// The enclosure is real and this build carries development images, which it will not write.
  bool developmentBuild = false;
  std::optional<std::string> reason;  ///< why nothing is offered; null for an offer
  /// With an offer: why the update writes the carried firmware only with the user's leave (it is
  /// not newer than what runs), as the update's preparation judges it.
  std::optional<std::string> carriedOrder;
  std::vector<std::string> warnings;  ///< discovery and message texts beside the reason
};

/// The report of a job whose scan has run.
CheckReport BuildCheckReport(const UpdateJob& job, const KeptMessages& messages);
/// {"verdict", "status_text", "picture", "clickable", "chip_code", "firmware", "disks",
/// "reason", "firmware_release", "offered_version", "offered_release", "carried_version",
/// "carried_release"}. The verdict is "no-rights" where the exit code says missing rights.
nlohmann::ordered_json CheckJson(const CheckReport& report);
/// The chip the check examined, as the update serves it; null for any other.
const ChipUpdate* CheckedChip(const CheckReport& report);
/// The offer as the bridge will report it once updated, with the release the offer names:
/// "0.0.1.2, release 234.01.00.02".
std::string OfferedText(const CheckReport& report);
/// "0.0.1.2, release 234.01.00.02": the running version and, where known, its release.
std::string RunningText(const CheckReport& report, const std::array<std::uint8_t, 4>& version);

/// Which command the human report is for: check suggests the update, update goes on with it, and
/// an update of a file leaves out the verdict on the carried firmware, which it does not write.
enum class ReportFor : std::uint8_t { Check, Update, File };
/// The report in words on out: the enclosure, its chip and firmware, the verdict and why, and,
/// when verbose, the window's text; on err, as error lines, missing rights and the --device that
/// several enclosures call for.
void PrintCheckReport(std::ostream& out, std::ostream& err, const CheckReport& report,
                      ReportFor use, bool verbose);
/// The warnings beside the reason, one "korvane-fw: warning: " line each and, with --json, a
/// message each; the note of a build that cannot write its carried images to this enclosure.
void PrintWarnings(CommandContext& context, const CheckReport& report);
/// True where an update is offered to a real enclosure that this build, carrying development
/// images only, will not write its carried firmware to.
bool DevelopmentNoteApplies(const CheckReport& report);
/// The enclosure as the report names it: its device-list line, or its path.
std::string EnclosureName(const CheckReport& report);

}  // namespace korvane::cli
