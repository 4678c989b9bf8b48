// An update as a face asks for it, prepared once into a plan or a typed refusal, and run through
// its declared steps to one typed outcome. Every rule that decides whether an update may go ahead
// lives here: the chip, the development-image guard, a file's judgement, the version order, the
// restore of an NVRAM record, the disk in use and, after a failed write, missing rights.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "ChipUpdate.h"
#include "Enclosures.h"
#include "Facts.h"
#include "FirmwareBackup.h"
#include "UpdateContext.h"
#include "UpdateStep.h"
#include "UpdateView.h"
#include "VersionCheck.h"

namespace korvane {

/// What NVRAM record the identity rewrite starts from.
enum class NvramStart : std::uint8_t {
  OneRead,  ///< the record as one read gives it, as the window rewrites it
  Agreed,   ///< the record of this job's backup of the disk, else two reads that agree
};

/// A firmware file a request names, with the facts its record gives.
struct FirmwareFile {
  std::string_view name;  ///< as the user gave it
  std::span<const std::uint8_t> bytes;
  std::string_view sha256;  ///< of bytes, in hex
  bool backup = false;      ///< its record says this program saved it as a backup
  bool simulated = false;   ///< that backup was read from a simulated enclosure
};

/// A firmware file as every report names it.
struct FileFacts {
  std::string name;
  std::size_t size = 0;
  std::string sha256;
  /// The chip it is for: the one its header names, else the enclosure's; null: neither is ours.
  const ChipUpdate* chip = nullptr;
  /// What its header says of it, as every command words a firmware: its version, what a bridge
  /// reports once it runs the file, its release.
  FirmwareFacts firmware;
};

/// The file described, for the enclosure's chip checked (null: none of ours).
FileFacts DescribeFile(const FirmwareFile& file, const ChipUpdate* checked);

/// The user's leave for a file whose version would otherwise be refused.
struct VersionLeave {
  bool allowOlder = false;      ///< older than what runs
  bool allowReinstall = false;  ///< the same as what runs
  bool force = false;           ///< a version that cannot be ordered (the JMS578's)
};

/// One update as a face asks for it.
struct UpdateRequest {
  std::string path;                    ///< the disk to write
  BridgeInfo info = 0;                 ///< its identification, as the check left it
  std::string diskName;                ///< how a refusal names the disk
  const FirmwareFile* file = nullptr;  ///< none: the carried image
  VersionLeave leave;
  bool backupFirst = false;   ///< read and keep what the bridge runs before writing
  bool restoreNvram = false;  ///< write back the file's NVRAM record, not the identity rewrite
  NvramStart nvramStart = NvramStart::OneRead;
  /// The terminal's rules before its question: the carried image only where the check offers it,
  /// and the refusals the write itself would make (guard, disk in use) made before anything is
  /// asked or read. The window asks nothing, and leaves them to the write.
  bool refuseEarly = false;
  /// The carried image's version is ordered against what runs as a file's is, and needs the same
  /// leave where it is not newer. The window's fixed rules offer it whatever the order.
  bool orderCarried = false;
};

/// Why an update was refused before anything was written.
enum class Refusal : std::uint8_t {
  None,
  NotOffered,  ///< the check offers no update of the carried image
  Guard,       ///< development images and a real enclosure
  Chip,        ///< no chip of ours was identified
  FileChip,    ///< the file is for another chip
  FileImage,   ///< the file is no whole image of the chip
  Version,     ///< the file's version needs the user's leave
  Restore,     ///< the file's NVRAM record is not this enclosure's to have back
  InUse,       ///< a file system on the disk is in use
  Backup,      ///< the backup before the write failed
  Image,       ///< the image to write is missing or has the wrong size
};

/// The step a refusal is named by in messages and JSON.
UpdateStep RefusalStep(Refusal refusal);
/// True for a refusal of the file the user gave, not of the enclosure.
bool RefusesInput(Refusal refusal);

/// What an update writes, where it is not the carried image and the identity rewrite.
struct UpdatePlan {
  /// A file's firmware image, judged by Prepare; empty: the carried image.
  std::span<const std::uint8_t> image{};
  /// A saved NVRAM record written back in place of the identity rewrite; empty: the rewrite.
  std::span<const std::uint8_t> restoreNvram{};
  /// What the identity rewrite starts from, where no record is written back.
  NvramStart nvramStart = NvramStart::OneRead;
};

/// A request that may go ahead.
struct PreparedUpdate {
  std::string path;
  BridgeInfo info = 0;
  const ChipUpdate* chip = nullptr;  ///< null only for a window's request of no chip of ours
  UpdatePlan write;
  bool backupFirst = false;
  /// The version a bridge reports once it runs what is written; nothing where it cannot be told.
  std::optional<std::array<std::uint8_t, 4>> running;
};

/// A prepared update, or why not.
struct Preparation {
  std::optional<PreparedUpdate> plan;
  Refusal refusal = Refusal::None;
  std::string reason;
  std::optional<FileFacts> file;  ///< the request's file, refused or not
};

/// The declared steps of a run, in order.
enum class JobStep : std::uint8_t {
  Prepare,  ///< nothing has run yet
  Backup,   ///< reading and keeping what the bridge runs
  Write,    ///< writing the firmware
  Verify,   ///< reading it back
  Nvram,    ///< the NVRAM record
  Done,     ///< written, verified, the record rewritten
};

/// How a run ended.
struct JobOutcome {
  JobStep reached = JobStep::Prepare;  ///< the step that ended it; Done once complete
  Refusal refusal = Refusal::None;     ///< why nothing was written, where the run refused
  bool written = false;   ///< commands that change the flash or the NVRAM record may have gone
  bool noRights = false;  ///< missing rights explain the failure
  UpdateFailure failure;  ///< the failed step and why; step None when complete

  bool complete() const { return reached == JobStep::Done; }
};

/// What a face lends a run: its view of the progress, the keeping of the backup, and a word as
/// each step begins and ends.
class UpdateSteps {
 public:
  virtual ~UpdateSteps() = default;
  virtual UpdateView& view() = 0;
  /// Why the backup could not be kept, asked before the bridge is read; nothing when it can.
  virtual std::optional<std::string> ReadyBackup() { return std::nullopt; }
  /// Keeps the backup read before the write. Saved or BootRom lets the write go on; Failed, with
  /// failure telling why, refuses it.
  virtual BackupEnd KeepBackup(const FirmwareBackup& read, UpdateFailure& failure) = 0;
  virtual void Begin(JobStep) {}
  virtual void End(JobStep) {}
};

/// A file refused for a chip whatever its bridge runs.
struct FileRefusal {
  Refusal refusal = Refusal::None;  ///< FileChip or FileImage
  std::string reason;               ///< naming the file
};

/// Why the file must not be written to a bridge of chip, whatever that bridge runs: its header
/// names another chip (FileChip), or it is no whole firmware image of this one (FileImage). A
/// backup this program made is judged as a whole image is. Nothing when its layout allows it;
/// its version is judged against the running one apart.
std::optional<FileRefusal> RefuseFileFor(const FirmwareFile& file, const ChipUpdate& chip);

/// Why the file must not be written over what the bridge runs without the user's leave; nothing
/// when it may. The JMS583 keeps its version as four bytes taken in order, the first deciding; the
/// JMS578's image names its version in digits that the bridge does not report the same way, so
/// they cannot be ordered.
std::optional<std::string> VersionRefusal(const VersionCheck& checked, const ChipUpdate& chip,
                                          std::span<const std::uint8_t> image,
                                          const VersionLeave& leave);

/// Why the carried image must not be written over what the bridge runs without the user's leave,
/// where it is ordered as a file is: only a JMS583's version, read from both, is ordered; nothing
/// when it may, or when the order cannot be told.
std::optional<std::string> CarriedOrderRefusal(const VersionCheck& checked, const ChipUpdate& chip,
                                               std::span<const std::uint8_t> image,
                                               const VersionLeave& leave);

/// Why the file's NVRAM record must not be written back, judged from its record before the
/// enclosure's own is read; nothing when it may be compared. Only a backup this program made
/// qualifies, of a simulated enclosure only for a simulated one: a vendor's template is never
/// written.
std::optional<std::string> RestoreFileRefusal(const FirmwareFile& file, Enclosures enclosures);

/// Why the saved NVRAM record must not be written over current, the enclosure's own record;
/// nothing when both carry the same USB ids and serial number. Another enclosure's record would
/// clone its serial number.
std::optional<std::string> RestoreRecordRefusal(std::span<const std::uint8_t> saved,
                                                std::span<const std::uint8_t> current);

/// The chip a file is for: the one its header names, else checked, the enclosure's.
const ChipUpdate* ChipForFile(std::span<const std::uint8_t> bytes, const ChipUpdate* checked);

/// The version in an image's header as people read it: a.b.c.d, or the JMS578's four digits.
std::string ImageVersionText(const ChipUpdate& chip, std::span<const std::uint8_t> image);

}  // namespace korvane
