// Where korvane-fw keeps what it read from a bridge before writing it: a backup is the chip's
// whole firmware image (the firmware area, then the 512-byte NVRAM record), with a record beside
// it, <backup>.json, saying what it was read from. A backup never takes the place of a file: its
// name, and its record's, are claimed whole, both or neither.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "FileCalls.h"
#include "FirmwareBackup.h"
#include "NvramIdentity.h"
#include "OutputFile.h"

namespace korvane::store {

/// What the record beside a backup says it is, and the version of its layout. In layout 1,
/// "revision" held the identity block's revision digit; from 2 it is the identification's
/// revision, as every other output names it, and the digit is "revision_digit".
inline constexpr std::string_view kBackupFormat = "korvane-backup";
inline constexpr int kBackupFormatVersion = 2;
/// The oldest layout still read back.
inline constexpr int kOldestBackupFormatVersion = 1;

/// Said when the environment names no state folder, before the remedy.
inline constexpr std::string_view kNoStateFolder =
    "no folder for backups is known (neither XDG_STATE_HOME nor HOME is set)";

/// This user's state folder: $XDG_STATE_HOME/korvane (~/.local/state/korvane) on Linux,
/// %LOCALAPPDATA%\Korvane on Windows; empty when the environment names none.
std::string DefaultStateFolder();
/// "2026-12-08T15:40:59Z": a time as the records write it, in UTC.
std::string UtcTime(std::chrono::system_clock::time_point when);
/// The folder backups go to inside a state folder.
std::filesystem::path BackupFolder(const std::string& stateFolder);
/// "JMS583-0.0.0.8-20261208T154059Z.bin": chip, version, UTC time; a simulated enclosure's
/// backup starts "simulated-".
std::string BackupFileName(std::string_view chip, const std::array<std::uint8_t, 4>& version,
                           std::chrono::system_clock::time_point when, bool simulated = false);

/// What a backup is saved with beside its bytes.
struct BackupFacts {
  std::chrono::system_clock::time_point when;
  bool simulated = false;  ///< read from a simulated enclosure
  /// The image's SHA-256 in hex, hashed once by whoever read it: the record names it.
  std::string sha256;
};

/// The serial number the backup's NVRAM record gives the enclosure, as printable text; empty when
/// it holds none.
std::string BackupSerial(const FirmwareBackup& backup);

/// The record beside a backup: what it was read from, when, and its SHA-256.
nlohmann::ordered_json BackupRecord(const FirmwareBackup& backup, std::string_view fileName,
                                    const BackupFacts& facts);

/// Where a backup goes, made ready before the bridge is read, so that a place it cannot go is
/// found before any command: a file the user names, which must not exist yet, nor its record; or
/// a new name in the state folder's backups, chosen when it is saved.
class BackupDestination {
 public:
  /// The file path (and path.json beside it); a FIFO or device is written as it is, without a
  /// record. The reason, as one line, when it cannot be written or is there already.
  static std::variant<BackupDestination, std::string> ToFile(const std::string& path,
                                                             FileCalls& calls = MachineFileCalls());
  /// A new file in stateFolder's backups, which is made (for this user alone) when missing.
  static std::variant<BackupDestination, std::string> InStateFolder(
      const std::string& stateFolder, FileCalls& calls = MachineFileCalls());

  /// Writes the backup and its record: both are put in place, or neither and the places are as
  /// they were. The path written (absolute where the folder is known), or the reason.
  std::variant<std::filesystem::path, std::string> Save(const FirmwareBackup& backup,
                                                        const BackupFacts& facts);

 private:
  BackupDestination(FileCalls& calls, OutputFile file, std::optional<OutputFile> record,
                    std::string folder)
      : calls_(&calls),
        file_(std::move(file)),
        record_(std::move(record)),
        folder_(std::move(folder)) {}
  std::optional<std::string> SaveNamed(const FirmwareBackup& backup, const BackupFacts& facts);
  std::variant<std::filesystem::path, std::string> SaveInFolder(const FirmwareBackup& backup,
                                                                const BackupFacts& facts);

  FileCalls* calls_;
  OutputFile file_;
  std::optional<OutputFile> record_;  ///< with a file the user named; none for a FIFO or device
  std::string folder_;                ///< the backups folder, when the name is ours to choose
};

using korvane::SerialDescriptor;

}  // namespace korvane::store
