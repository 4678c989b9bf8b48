#include "ImageFile.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>

#include "Backups.h"
#include "Sha256.h"

#ifdef _WIN32
#include <filesystem>
#else
#include <unistd.h>
#endif

namespace korvane::store {
namespace {

enum class FieldKind : std::uint8_t { Text, Count, Flag, TextOrNull };

/// The record layouts a field belongs to, as bits: layout n is bit n - 1.
enum Layouts : std::uint8_t { kFirstLayout = 1, kSecondLayout = 2, kEveryLayout = 3 };

struct Field {
  std::string_view name;
  FieldKind kind;
  bool required;
  std::uint8_t layouts = kEveryLayout;
};

/// The fields of a record of ours, and what each must be. Layout 1 named the identity block's
/// revision digit "revision"; layout 2 names it "revision_digit" and gives "revision" the
/// identification's revision, which every other output calls so.
constexpr std::array<Field, 20> kRecordFields{{
    {"format", FieldKind::Text, true},
    {"format_version", FieldKind::Count, true},
    {"program", FieldKind::Text, true},
    {"time", FieldKind::Text, true},
    {"file", FieldKind::Text, true},
    {"size", FieldKind::Count, true},
    {"sha256", FieldKind::Text, true},
    {"simulated", FieldKind::Flag, false},
    {"chip", FieldKind::Text, true},
    {"chip_code", FieldKind::Count, true},
    {"usb_vendor", FieldKind::Text, true},
    {"usb_product", FieldKind::Text, true},
    {"revision", FieldKind::Text, true, kFirstLayout},
    {"revision", FieldKind::Count, true, kSecondLayout},
    {"revision_digit", FieldKind::Text, true, kSecondLayout},
    {"version", FieldKind::Text, true},
    {"release", FieldKind::TextOrNull, false, kSecondLayout},
    {"serial", FieldKind::Text, true},
    {"firmware_area", FieldKind::Count, true},
    {"nvram_address", FieldKind::Count, true},
}};

/// The bit of the record's layout; none for a layout this program does not read.
std::uint8_t LayoutOf(const nlohmann::json& record) {
  const auto found = record.find("format_version");
  if (found == record.end() || !found->is_number_unsigned()) return 0;
  const std::uint64_t layout = found->get<std::uint64_t>();
  if (layout < static_cast<std::uint64_t>(kOldestBackupFormatVersion) ||
      layout > static_cast<std::uint64_t>(kBackupFormatVersion)) {
    return 0;
  }
  return static_cast<std::uint8_t>(1U << (layout - 1));
}

bool HasKind(const nlohmann::json& value, FieldKind kind) {
  switch (kind) {
    case FieldKind::Text:
      return value.is_string();
    case FieldKind::Count:
      return value.is_number_unsigned();
    case FieldKind::Flag:
      return value.is_boolean();
    case FieldKind::TextOrNull:
      return value.is_string() || value.is_null();
  }
  return false;
}

std::string_view KindName(FieldKind kind) {
  switch (kind) {
    case FieldKind::Text:
      return "a text";
    case FieldKind::Count:
      return "a whole number";
    case FieldKind::Flag:
      return "true or false";
    case FieldKind::TextOrNull:
      return "a text or null";
  }
  return "";
}

/// Why a record's field is not what it must be; nothing when each is.
/// A record of a layout this program does not read has only the fields of every layout judged.
std::optional<std::string> FieldProblem(const nlohmann::json& record, const std::string& name) {
  const std::uint8_t layout = LayoutOf(record);
  for (const Field& field : kRecordFields) {
    if (layout != 0 && (field.layouts & layout) == 0) continue;
    if (layout == 0 && field.layouts != kEveryLayout) continue;
    const auto found = record.find(field.name);
    if (found == record.end()) {
      if (!field.required) continue;
      return name + ": its field \"" + std::string(field.name) + "\" is missing";
    }
    if (!HasKind(*found, field.kind)) {
      return name + ": its field \"" + std::string(field.name) + "\" is not " +
             std::string(KindName(field.kind));
    }
  }
  return std::nullopt;
}

/// Reads at most limit + 1 bytes of the regular file at path without waiting on a FIFO or a
/// device put there; ENOENT when nothing is there; the reason when it is no regular file.
std::variant<std::string, int, std::string_view> ReadRegular(const std::string& path,
                                                             std::size_t limit) {
#ifdef _WIN32
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (!std::filesystem::exists(status)) return ENOENT;
  if (std::filesystem::is_directory(status)) return std::string_view("is a folder");
  if (!std::filesystem::is_regular_file(status)) return std::string_view("is not a regular file");
  std::ifstream in(path, std::ios::binary);
  if (!in) return EACCES;
  std::string bytes(limit + 1, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) return EIO;
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
#else
  const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (descriptor < 0) return errno;
  struct stat status {};
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(descriptor);
    return std::string_view(S_ISDIR(status.st_mode) ? "is a folder" : "is not a regular file");
  }
  std::string bytes(limit + 1, '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t read = ::read(descriptor, bytes.data() + done, bytes.size() - done);
    if (read < 0 && errno == EINTR) continue;
    if (read < 0) {
      const int error = errno;
      close(descriptor);
      return error;
    }
    if (read == 0) break;
    done += static_cast<std::size_t>(read);
  }
  close(descriptor);
  bytes.resize(done);
  return bytes;
#endif
}

/// The record beside the file, judged; nothing when there is none.
std::variant<std::monostate, nlohmann::json, std::string> RecordBeside(const ImageFile& file) {
  const std::string name = file.path + ".json";
  auto read = ReadRegular(name, kRecordLimit);
  if (const int* error = std::get_if<int>(&read)) {
    if (*error == ENOENT) return std::monostate{};
    return name + ": " + std::strerror(*error);
  }
  if (const auto* kind = std::get_if<std::string_view>(&read)) {
    return name + " " + std::string(*kind) + ": a backup's record is a file";
  }
  const std::string& text = std::get<std::string>(read);
  if (text.size() > kRecordLimit) return std::monostate{};
  return JudgeBackupRecord(text, file.path, file.sha256, file.bytes.size());
}

}  // namespace

std::variant<std::monostate, nlohmann::json, std::string> JudgeBackupRecord(std::string_view text,
                                                                            const std::string& path,
                                                                            std::string_view sha256,
                                                                            std::size_t size) {
  nlohmann::json record = nlohmann::json::parse(text, nullptr, false);
  const auto format = record.is_object() ? record.find("format") : record.end();
  if (format == record.end() || !format->is_string() || *format != kBackupFormat) {
    return std::monostate{};
  }
  const std::string name = path + ".json";
  if (auto problem = FieldProblem(record, name)) return std::move(*problem);
  if (LayoutOf(record) == 0) {
    return name + ": a record of another layout (format_version " +
           record["format_version"].dump() + "), which this program does not read";
  }
  if (record["sha256"].get<std::string>() != sha256 ||
      record["size"].get<std::uint64_t>() != size) {
    return path + " does not match its record: the backup is damaged";
  }
  return record;
}

std::variant<JudgedImageFile, std::string> ReadJudgedImageFile(const std::string& path) {
  auto read = ReadRegular(path, static_cast<std::size_t>(kImageFileLimit));
  if (const int* error = std::get_if<int>(&read)) return path + ": " + std::strerror(*error);
  if (const auto* kind = std::get_if<std::string_view>(&read)) {
    if (*kind == "is a folder") return path + " is a folder: give a firmware file";
    return path + " " + std::string(*kind);
  }
  const std::string& bytes = std::get<std::string>(read);
  if (bytes.empty()) return path + " is empty";
  if (bytes.size() > kImageFileLimit) {
    return path + " holds more than " + std::to_string(kImageFileLimit) +
           " bytes: no firmware image is that large";
  }
  JudgedImageFile judged{{path, {bytes.begin(), bytes.end()}, {}, std::nullopt}, {}};
  judged.file.sha256 = Sha256Hex(judged.file.bytes);
  judged.record = RecordBeside(judged.file);
  if (auto* record = std::get_if<nlohmann::json>(&judged.record)) {
    judged.file.backupRecord = *record;
  }
  return judged;
}

std::variant<ImageFile, std::string> ReadImageFile(const std::string& path) {
  auto read = ReadJudgedImageFile(path);
  if (auto* problem = std::get_if<std::string>(&read)) return std::move(*problem);
  auto& judged = std::get<JudgedImageFile>(read);
  if (auto* problem = std::get_if<std::string>(&judged.record)) return std::move(*problem);
  return std::move(judged.file);
}

FirmwareFile AsFirmwareFile(const ImageFile& file) {
  const bool backup = file.backupRecord.has_value();
  return {file.path, file.bytes, file.sha256, backup,
          backup && file.backupRecord->value("simulated", false)};
}

}  // namespace korvane::store
