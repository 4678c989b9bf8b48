#include "Backups.h"

#include <cstdlib>
#include <ctime>
#include <system_error>

#include "Facts.h"
#include "Folders.h"
#include "Text.h"
#include "VersionCheck.h"

namespace korvane::store {
namespace {

constexpr int kNameAttempts = 100;

/// The environment variable's value; empty when it is not set.
std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

/// "20261208T154059Z".
std::string UtcStamp(std::chrono::system_clock::time_point when, const char* format) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  std::array<char, 32> text{};
  const std::size_t length = std::strftime(text.data(), text.size(), format, &utc);
  return std::string(text.data(), length);
}

std::string BigEndianHex(const std::array<std::uint8_t, 2>& bytes) {
  return HexText(bytes, HexCase::Upper, "");
}

std::string_view AsText(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::string RecordText(const FirmwareBackup& backup, const std::filesystem::path& file,
                       const BackupFacts& facts) {
  return BackupRecord(backup, file.filename().string(), facts).dump(2) + "\n";
}

std::filesystem::path Absolute(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return error ? path : absolute.lexically_normal();
}

/// A backup file's name with the attempt's number: "X.bin", "X-2.bin"...
std::string Numbered(const std::string& name, int attempt) {
  if (attempt == 1) return name;
  return name.substr(0, name.size() - 4) + "-" + std::to_string(attempt) + ".bin";
}

}  // namespace

std::string DefaultStateFolder() {
#ifdef _WIN32
  const std::string local = Environment("LOCALAPPDATA");
  return local.empty() ? std::string() : local + "\\Korvane";
#else
  // XDG: a relative value is invalid and ignored.
  const std::string state = Environment("XDG_STATE_HOME");
  if (!state.empty() && state.front() == '/') return state + "/korvane";
  const std::string home = Environment("HOME");
  return home.empty() ? std::string() : home + "/.local/state/korvane";
#endif
}

std::string UtcTime(std::chrono::system_clock::time_point when) {
  return UtcStamp(when, "%Y-%m-%dT%H:%M:%SZ");
}

std::filesystem::path BackupFolder(const std::string& stateFolder) {
#ifdef _WIN32
  return std::filesystem::path(stateFolder) / "Backups";
#else
  return std::filesystem::path(stateFolder) / "backups";
#endif
}

std::string BackupFileName(std::string_view chip, const std::array<std::uint8_t, 4>& version,
                           std::chrono::system_clock::time_point when, bool simulated) {
  return std::string(simulated ? "simulated-" : "") + std::string(chip) + "-" +
         VersionText(version) + "-" + UtcStamp(when, "%Y%m%dT%H%M%SZ") + ".bin";
}

std::string BackupSerial(const FirmwareBackup& backup) {
  const std::span<const std::uint8_t> image(backup.image);
  if (backup.chip == nullptr || image.size() < backup.chip->firmwareArea) return {};
  const std::vector<std::uint8_t> serial =
      SerialDescriptor(image.subspan(backup.chip->firmwareArea));
  return serial.size() > 2 ? Printable(AsText(std::span(serial).subspan(2))) : std::string();
}

nlohmann::ordered_json BackupRecord(const FirmwareBackup& backup, std::string_view fileName,
                                    const BackupFacts& facts) {
  const BridgeIdentity& identity = backup.identity;
  const EnclosureFacts enclosure = DescribeEnclosure(backup.info, identity);
  return {{"format", kBackupFormat},
          {"format_version", kBackupFormatVersion},
          {"program", "korvane-fw " KORVANE_VERSION},
          {"time", UtcTime(facts.when)},
          {"file", fileName},
          {"size", backup.image.size()},
          {"sha256", facts.sha256},
          {"simulated", facts.simulated},
          {"chip", enclosure.chipName},
          {"chip_code", backup.chip->chipCode},
          {"usb_vendor", BigEndianHex(identity.vendor)},
          {"usb_product", BigEndianHex(identity.product)},
          {"revision", enclosure.revision},
          {"revision_digit", std::string(1, enclosure.revisionDigit.value_or('?'))},
          {"version", VersionText(identity.version)},
          {"release", enclosure.release.empty() ? nlohmann::ordered_json(nullptr)
                                                : nlohmann::ordered_json(enclosure.release)},
          {"serial", BackupSerial(backup)},
          {"firmware_area", backup.chip->firmwareArea},
          {"nvram_address", backup.chip->nvramAddress}};
}

std::variant<BackupDestination, std::string> BackupDestination::ToFile(const std::string& path,
                                                                       FileCalls& calls) {
  auto file = OutputFile::Open(path, Existing::Keep, calls);
  if (auto* problem = std::get_if<std::string>(&file)) return std::move(*problem);
  // A FIFO or device has no place beside it for the record.
  if (std::get<OutputFile>(file).direct()) {
    return BackupDestination(calls, std::move(std::get<OutputFile>(file)), std::nullopt, {});
  }
  auto record = OutputFile::Open(path + ".json", Existing::Keep, calls);
  if (auto* problem = std::get_if<std::string>(&record)) return "its record " + *problem;
  if (std::get<OutputFile>(record).direct()) {
    return "its record " + path + ".json is not a file: choose another name";
  }
  return BackupDestination(calls, std::move(std::get<OutputFile>(file)),
                           std::move(std::get<OutputFile>(record)), {});
}

std::variant<BackupDestination, std::string> BackupDestination::InStateFolder(
    const std::string& stateFolder, FileCalls& calls) {
  if (stateFolder.empty()) return std::string(kNoStateFolder);
  if (auto problem = PrepareFolder(stateFolder, calls)) return "the state folder " + *problem;
  const std::string folder = BackupFolder(stateFolder).string();
  if (auto problem = PrepareFolder(folder, calls)) return "the backup folder " + *problem;
  // Written under a name of its own; the backup's name is claimed once it is whole.
  auto file = OutputFile::OpenNew((std::filesystem::path(folder) / "backup").string(), calls);
  if (auto* problem = std::get_if<std::string>(&file)) return std::move(*problem);
  return BackupDestination(calls, std::move(std::get<OutputFile>(file)), std::nullopt, folder);
}

std::variant<std::filesystem::path, std::string> BackupDestination::Save(
    const FirmwareBackup& backup, const BackupFacts& facts) {
  if (!file_.Write(AsText(backup.image))) return "cannot write " + file_.failure();
  if (!folder_.empty()) return SaveInFolder(backup, facts);
  if (auto problem = SaveNamed(backup, facts)) return std::move(*problem);
  return file_.direct() ? std::filesystem::path(file_.target()) : Absolute(file_.target());
}

std::optional<std::string> BackupDestination::SaveNamed(const FirmwareBackup& backup,
                                                        const BackupFacts& facts) {
  if (!record_) return file_.Commit();
  if (!record_->Write(RecordText(backup, file_.target(), facts))) {
    return "its record: cannot write " + record_->failure();
  }
  if (auto problem = file_.Commit()) {
    file_.Withdraw();
    return problem;
  }
  if (auto problem = record_->Commit()) {
    record_->Withdraw();
    file_.Withdraw();
    return "its record: " + *problem + "; the backup was not kept without it";
  }
  return std::nullopt;
}

std::variant<std::filesystem::path, std::string> BackupDestination::SaveInFolder(
    const FirmwareBackup& backup, const BackupFacts& facts) {
  const std::string name =
      BackupFileName(backup.chip->chipName, backup.identity.version, facts.when, facts.simulated);
  const std::filesystem::path folder(folder_);
  for (int attempt = 1; attempt <= kNameAttempts; ++attempt) {
    const std::filesystem::path path = folder / Numbered(name, attempt);
    const std::error_code claimed = file_.CommitAs(path.string());
    if (claimed == std::errc::file_exists) continue;
    if (claimed) {
      file_.Withdraw();
      return "cannot put " + path.string() + " in place: " + claimed.message();
    }
    auto record = OutputFile::Open(path.string() + ".json", Existing::Keep, *calls_);
    if (std::holds_alternative<std::string>(record)) {
      file_.Withdraw();
      continue;
    }
    OutputFile& opened = std::get<OutputFile>(record);
    if (opened.direct() || !opened.Write(RecordText(backup, path, facts))) {
      file_.Withdraw();
      return "its record " + path.string() + ".json could not be written";
    }
    const std::error_code recorded = opened.CommitAs(path.string() + ".json");
    if (!recorded) return Absolute(path);
    opened.Withdraw();
    file_.Withdraw();
    if (recorded != std::errc::file_exists) {
      return "its record " + path.string() + ".json: " + recorded.message();
    }
  }
  return "the backup folder " + folder_ + " already holds backups of this second";
}

}  // namespace korvane::store
