#include "Backups.h"

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <system_error>

#include "OutputFile.h"
#include "Sha256.h"
#include "Text.h"
#include "VersionCheck.h"

namespace korvane::cli {
namespace {

constexpr std::size_t kSerialAt = 0x54;
constexpr std::uint8_t kStringDescriptor = 0x03;
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

/// Writes bytes to target whole; the reason when it could not be.
std::optional<std::string> WriteWhole(const std::string& target, std::string_view bytes,
                                      bool* direct = nullptr) {
  auto opened = OutputFile::Open(target);
  if (auto* problem = std::get_if<std::string>(&opened)) return *problem;
  OutputFile& file = std::get<OutputFile>(opened);
  if (direct != nullptr) *direct = file.direct();
  if (!file.Write(bytes)) return file.failure();
  return file.Commit();
}

std::string_view AsText(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

/// The record beside a file, when it says this program made the file as a backup and names the
/// file's digest; anything else is no record.
std::optional<nlohmann::json> BackupRecordFor(const std::string& path, std::string_view sha256) {
  // Our records are a few hundred bytes; anything much larger is not one of them.
  constexpr std::size_t kRecordLimit = 64 * 1024;
  std::ifstream in(path + ".json", std::ios::binary);
  if (!in) return std::nullopt;
  std::string text(kRecordLimit + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > kRecordLimit) return std::nullopt;
  nlohmann::json record = nlohmann::json::parse(text, nullptr, false);
  if (!record.is_object() || record.value("format", "") != kBackupFormat) return std::nullopt;
  const auto digest = record.find("sha256");
  if (digest == record.end() || !digest->is_string() || *digest != sha256) return std::nullopt;
  return record;
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

std::optional<std::string> MakePrivateFolder(const std::filesystem::path& folder) {
  std::error_code error;
  if (std::filesystem::create_directories(folder, error)) {
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace, error);
  }
  if (error || !std::filesystem::is_directory(folder, error)) {
    return folder.string() + ": " + (error ? error.message() : "not a folder");
  }
  return std::nullopt;
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
                           std::chrono::system_clock::time_point when) {
  return std::string(chip) + "-" + VersionText(version) + "-" + UtcStamp(when, "%Y%m%dT%H%M%SZ") +
         ".bin";
}

std::vector<std::uint8_t> SerialDescriptor(std::span<const std::uint8_t> record) {
  if (record.size() < kSerialAt + 2) return {};
  const std::size_t length = record[kSerialAt];
  if (record[kSerialAt + 1] != kStringDescriptor || length < 2 ||
      length > record.size() - kSerialAt) {
    return {};
  }
  const auto begin = record.begin() + static_cast<std::ptrdiff_t>(kSerialAt);
  return {begin, begin + static_cast<std::ptrdiff_t>(length)};
}

nlohmann::ordered_json BackupRecord(const FirmwareBackup& backup, std::string_view fileName,
                                    std::chrono::system_clock::time_point when) {
  const BridgeIdentity& identity = backup.identity;
  const std::span<const std::uint8_t> image(backup.image);
  const std::vector<std::uint8_t> serial =
      SerialDescriptor(image.subspan(backup.chip->firmwareArea));
  const std::string serialText(serial.size() > 2 ? AsText(std::span(serial).subspan(2)) : "");
  return {{"format", kBackupFormat},
          {"format_version", kBackupFormatVersion},
          {"program", "korvane-fw " KORVANE_VERSION},
          {"time", UtcTime(when)},
          {"file", fileName},
          {"size", backup.image.size()},
          {"sha256", Sha256Hex(backup.image)},
          {"chip", backup.chip->chipName},
          {"chip_code", backup.chip->chipCode},
          {"usb_vendor", BigEndianHex(identity.vendor)},
          {"usb_product", BigEndianHex(identity.product)},
          {"revision", std::string(1, static_cast<char>(identity.revision))},
          {"version", VersionText(identity.version)},
          {"serial", Printable(serialText)},
          {"firmware_area", backup.chip->firmwareArea},
          {"nvram_address", backup.chip->nvramAddress}};
}

std::optional<std::string> SaveBackup(const std::string& target, const FirmwareBackup& backup,
                                      std::chrono::system_clock::time_point when) {
  bool direct = false;
  if (auto problem = WriteWhole(target, AsText(backup.image), &direct)) return problem;
  // A FIFO or device has no place beside it for the record.
  if (direct) return std::nullopt;
  const std::string name = std::filesystem::path(target).filename().string();
  const std::string record = BackupRecord(backup, name, when).dump(2) + "\n";
  if (auto problem = WriteWhole(target + ".json", record)) {
    std::error_code ignored;
    std::filesystem::remove(target, ignored);
    return "its record " + target + ".json: " + *problem;
  }
  return std::nullopt;
}

std::variant<std::filesystem::path, std::string> NewBackupPath(
    const std::string& stateFolder, const FirmwareBackup& backup,
    std::chrono::system_clock::time_point when) {
  if (stateFolder.empty()) return std::string(kNoStateFolder);
  const std::filesystem::path folder = BackupFolder(stateFolder);
  if (auto problem = MakePrivateFolder(stateFolder))
    return "cannot make the state folder " + *problem;
  if (auto problem = MakePrivateFolder(folder)) return "cannot make the backup folder " + *problem;
  std::error_code error;
  const std::string name = BackupFileName(backup.chip->chipName, backup.identity.version, when);
  const std::string stem = name.substr(0, name.size() - 4);
  for (int attempt = 1; attempt <= kNameAttempts; ++attempt) {
    const std::string candidate =
        attempt == 1 ? name : stem + "-" + std::to_string(attempt) + ".bin";
    if (!std::filesystem::exists(folder / candidate, error)) return folder / candidate;
  }
  return "the backup folder " + folder.string() + " already holds backups of this second";
}

std::variant<ImageFile, std::string> ReadImageFile(const std::string& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (error) return path + ": " + error.message();
  if (std::filesystem::is_directory(status)) return path + " is a folder: give a firmware file";
  if (!std::filesystem::is_regular_file(status)) return path + " is not a regular file";
  std::ifstream in(path, std::ios::binary);
  if (!in) return path + ": cannot be read";
  ImageFile file{path, {}, {}, std::nullopt};
  // Read at most one byte past the limit: the file may change size after the look above.
  file.bytes.resize(static_cast<std::size_t>(kImageFileLimit) + 1);
  in.read(reinterpret_cast<char*>(file.bytes.data()),
          static_cast<std::streamsize>(file.bytes.size()));
  if (in.bad()) return path + ": cannot be read";
  file.bytes.resize(static_cast<std::size_t>(in.gcount()));
  if (file.bytes.empty()) return path + " is empty";
  if (file.bytes.size() > kImageFileLimit) {
    return path + " holds more than " + std::to_string(kImageFileLimit) +
           " bytes: no firmware image is that large";
  }
  file.sha256 = Sha256Hex(file.bytes);
  file.backupRecord = BackupRecordFor(path, file.sha256);
  return file;
}

}  // namespace korvane::cli
