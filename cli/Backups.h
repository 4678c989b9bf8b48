// Where korvane-fw keeps what it read from a bridge before writing it, and the files it reads to
// write one: a backup is the chip's whole firmware image (the firmware area, then the 512-byte
// NVRAM record), with a record beside it, <backup>.json, saying what it was read from.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "FirmwareBackup.h"

namespace korvane::cli {

/// The largest file update --image reads: a little over the largest whole image.
inline constexpr std::uintmax_t kImageFileLimit = 1024 * 1024;
/// What the record beside a backup says it is, and the version of its layout.
inline constexpr std::string_view kBackupFormat = "korvane-backup";
inline constexpr int kBackupFormatVersion = 1;

/// Said when the environment names no state folder, before the remedy.
inline constexpr std::string_view kNoStateFolder =
    "no folder for backups is known (neither XDG_STATE_HOME nor HOME is set)";

/// This user's state folder: $XDG_STATE_HOME/korvane (~/.local/state/korvane) on Linux,
/// %LOCALAPPDATA%\Korvane on Windows; empty when the environment names none.
std::string DefaultStateFolder();
/// Makes folder, and the folders it is in, where they are missing; folder itself, when it is made
/// here, is for this user only. The reason, naming the folder, when it is no folder afterwards.
std::optional<std::string> MakePrivateFolder(const std::filesystem::path& folder);
/// "2026-12-08T15:40:59Z": a time as the records write it, in UTC.
std::string UtcTime(std::chrono::system_clock::time_point when);
/// The folder backups go to inside a state folder.
std::filesystem::path BackupFolder(const std::string& stateFolder);
/// "JMS583-0.0.0.8-20261208T154059Z.bin": chip, running version, UTC time.
std::string BackupFileName(std::string_view chip, const std::array<std::uint8_t, 4>& version,
                           std::chrono::system_clock::time_point when);
/// The record beside a backup: what it was read from, when, and its SHA-256.
nlohmann::ordered_json BackupRecord(const FirmwareBackup& backup, std::string_view fileName,
                                    std::chrono::system_clock::time_point when);

/// Writes the backup to target and its record to target.json, each whole or not at all; the
/// reason when either could not be written (a backup without its record is removed).
std::optional<std::string> SaveBackup(const std::string& target, const FirmwareBackup& backup,
                                      std::chrono::system_clock::time_point when);
/// A new backup's path in the state folder's backup folder, which is made (for this user only)
/// when missing; the reason when it cannot be.
std::variant<std::filesystem::path, std::string> NewBackupPath(
    const std::string& stateFolder, const FirmwareBackup& backup,
    std::chrono::system_clock::time_point when);

/// A firmware file read for update --image.
struct ImageFile {
  std::string path;
  std::vector<std::uint8_t> bytes;
  std::string sha256;
  /// The record beside it, when this program made it as a backup and the file is unchanged.
  std::optional<nlohmann::json> backupRecord;
};

/// Reads the file at path whole, up to kImageFileLimit; one line on why when it cannot be.
std::variant<ImageFile, std::string> ReadImageFile(const std::string& path);

/// The serial number string descriptor of an NVRAM record (length, 03, the text); empty when the
/// record holds none that fits.
std::vector<std::uint8_t> SerialDescriptor(std::span<const std::uint8_t> record);

}  // namespace korvane::cli
