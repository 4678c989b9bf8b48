// A firmware file the user hands to update --image, read whole, and the record beside it when it
// is a backup this program made. A record proves nothing until the file's digest matches it: a
// file that does not is refused as damaged, and a record whose fields are not what they must be
// is refused by name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "UpdateRequest.h"

namespace korvane::store {

/// The largest file update --image reads: a little over the largest whole image.
inline constexpr std::uintmax_t kImageFileLimit = 1024 * 1024;
/// The largest record read; ours are a few hundred bytes.
inline constexpr std::size_t kRecordLimit = 64 * 1024;

/// A firmware file read for update --image.
struct ImageFile {
  std::string path;
  std::vector<std::uint8_t> bytes;
  std::string sha256;
  /// The record beside it, when this program made it as a backup and the file matches it.
  std::optional<nlohmann::json> backupRecord;
};

/// The record text beside a file with these bytes, judged: nothing when it is no record of ours
/// (another program's file of that name); the record when it holds; the reason, naming the file
/// or the field, when it is ours but does not hold.
std::variant<std::monostate, nlohmann::json, std::string> JudgeBackupRecord(std::string_view text,
                                                                            const std::string& path,
                                                                            std::string_view sha256,
                                                                            std::size_t size);

/// The file as an update request names it, with what its record says.
FirmwareFile AsFirmwareFile(const ImageFile& file);

/// What the record beside a file says of it: nothing when there is no record of ours, the record
/// when it holds, the reason (naming the file or the field) when it is ours but does not hold.
using RecordJudgement = std::variant<std::monostate, nlohmann::json, std::string>;

/// A file read whole, with its record judged whatever the judgement, as a description of it needs.
struct JudgedImageFile {
  ImageFile file;  ///< its backupRecord set only when the record holds
  RecordJudgement record;
};

/// Reads the file at path whole, up to kImageFileLimit, and judges its record; one line on why
/// when the file cannot be read. A record that does not hold is judged, not refused.
std::variant<JudgedImageFile, std::string> ReadJudgedImageFile(const std::string& path);

/// Reads the file at path whole, up to kImageFileLimit, and its record; one line on why when it
/// cannot be used.
std::variant<ImageFile, std::string> ReadImageFile(const std::string& path);

}  // namespace korvane::store
