#include "History.h"

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <utility>
#include <variant>

#include "Backups.h"
#include "Folders.h"
#include "OutputFile.h"
#include "RegularFile.h"
#include "VersionCheck.h"

namespace korvane::store {
namespace {

/// Deeper than any event of ours: writing out a deeper one would recurse as deep.
constexpr int kDepthLimit = 16;

template <typename T>
nlohmann::ordered_json OrNull(const std::optional<T>& value) {
  return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

nlohmann::ordered_json EnclosureJson(const HistoryEnclosure& enclosure) {
  return {{"chip", OrNull(enclosure.chip)},         {"chip_code", OrNull(enclosure.chipCode)},
          {"revision", OrNull(enclosure.revision)}, {"path", enclosure.path},
          {"line", OrNull(enclosure.line)},         {"serial", OrNull(enclosure.serial)}};
}

nlohmann::ordered_json ImageJson(const std::optional<HistoryImage>& image) {
  if (!image) return nullptr;
  return {{"name", image->name},
          {"sha256", OrNull(image->sha256)},
          {"version", OrNull(image->version)},
          {"running_version", OrNull(image->running)},
          {"release", OrNull(image->release)}};
}

/// The event's line, end of line included. Text from a bridge that is not UTF-8 is replaced.
std::string HistoryLine(const HistoryEvent& event) {
  return HistoryJson(event).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) +
         "\n";
}

// ---- Appending ----------------------------------------------------------------------------------

/// The lock every run takes before it touches the history; the reason when it cannot be had.
std::variant<RegularFile, std::string> TakeLock(const std::string& path, bool exclusive) {
  auto opened =
      RegularFile::Open(path, exclusive ? RegularFile::Mode::Create : RegularFile::Mode::Read);
  if (auto* failure = std::get_if<RegularFile::Failure>(&opened)) return failure->reason;
  RegularFile& lock = std::get<RegularFile>(opened);
  if (auto problem = lock.Lock(exclusive)) return *problem;
  return std::move(lock);
}

/// The whole lines of the newest bytes of a history: a line cut at their start is left out, and
/// a last line without its end (a write that failed) is ended, so that it stays a line of its own.
std::string WholeLines(std::string tail, bool fromStart) {
  if (!fromStart) {
    const std::size_t end = tail.find('\n');
    tail.erase(0, end == std::string::npos ? tail.size() : end + 1);
  }
  if (!tail.empty() && tail.back() != '\n') tail += '\n';
  return tail;
}

/// The whole lines of the history's newest half. The file is closed on return: Windows does not
/// replace a file that is open.
std::optional<std::string> NewestHalf(RegularFile file, std::uintmax_t size, std::uintmax_t limit) {
  const std::uintmax_t keep = std::min(size, limit / 2);
  std::optional<std::string> tail = file.ReadAt(size - keep, static_cast<std::size_t>(keep));
  if (!tail) return std::nullopt;
  return WholeLines(std::move(*tail), keep == size);
}

/// Puts text in the history's place, whole or not at all; the reason when it could not be.
std::optional<std::string> Replace(const std::string& path, std::string_view text,
                                   FileCalls& calls) {
  auto opened = OutputFile::Open(path, Existing::Replace, calls);
  if (auto* problem = std::get_if<std::string>(&opened)) return std::move(*problem);
  OutputFile& replacement = std::get<OutputFile>(opened);
  if (!replacement.Write(text)) return "cannot write beside " + path + ": " + replacement.failure();
  return replacement.Commit();
}

/// The line as it is appended: on a line of its own even after a last line that a failed write
/// cut short. Nothing when the file's last byte cannot be read.
std::optional<std::string> OnItsOwnLine(const RegularFile& file, std::uintmax_t size,
                                        const std::string& line) {
  if (size == 0) return line;
  const std::optional<std::string> last = file.ReadAt(size - 1, 1);
  if (!last || last->size() != 1) return std::nullopt;
  return *last == "\n" ? line : "\n" + line;
}

/// Appends the line to the history at path, put on the disk before it counts as recorded: the
/// line, and the file's own name in its folder when this line is its first (it may be new).
std::optional<std::string> AppendTo(RegularFile& file, const std::string& path, std::uintmax_t size,
                                    const std::string& line, FileCalls& calls) {
  const std::optional<std::string> text = OnItsOwnLine(file, size, line);
  if (!text) return "cannot read the end of the history: the event was not recorded";
  if (auto problem = file.Append(*text, calls)) return *problem + ": the event was not recorded";
  if (size != 0) return std::nullopt;
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (const std::error_code error = calls.SyncFolder(folder.empty() ? "." : folder.string())) {
    return "cannot put " + path + " on the disk: " + error.message() +
           ": the event may not be recorded";
  }
  return std::nullopt;
}

/// The history opened for appending, and its size; one line on why not.
std::variant<std::pair<RegularFile, std::uintmax_t>, std::string> OpenForAppend(
    const std::string& path) {
  auto opened = RegularFile::Open(path, RegularFile::Mode::Append);
  if (auto* failure = std::get_if<RegularFile::Failure>(&opened)) {
    return failure->reason + ": the event was not recorded";
  }
  RegularFile& file = std::get<RegularFile>(opened);
  const std::optional<std::uintmax_t> size = file.Size();
  if (!size) return "cannot tell the size of " + path + ": the event was not recorded";
  return std::pair{std::move(file), *size};
}

/// Appends the line to the history however large it is.
std::optional<std::string> AppendUncut(const std::string& path, const std::string& line,
                                       FileCalls& calls) {
  auto opened = OpenForAppend(path);
  if (auto* problem = std::get_if<std::string>(&opened)) return std::move(*problem);
  auto& [file, size] = std::get<0>(opened);
  return AppendTo(file, path, size, line, calls);
}

/// Appends the line to the history at path, which is cut down first when it would pass limit.
/// The caller holds the lock.
std::optional<std::string> AppendLocked(const std::string& path, const std::string& line,
                                        std::uintmax_t limit, FileCalls& calls) {
  auto opened = OpenForAppend(path);
  if (auto* problem = std::get_if<std::string>(&opened)) return std::move(*problem);
  auto& [file, size] = std::get<0>(opened);
  if (size + line.size() <= limit) return AppendTo(file, path, size, line, calls);
  const std::optional<std::string> kept = NewestHalf(std::move(file), size, limit);
  const std::optional<std::string> cut =
      kept ? Replace(path, *kept + line, calls) : std::optional("cannot read " + path);
  if (!cut) return std::nullopt;
  // The bound gives way before the event does.
  if (auto problem = AppendUncut(path, line, calls)) return problem;
  return "the history could not be cut down (" + *cut + "): the event was recorded all the same";
}

// ---- Reading ------------------------------------------------------------------------------------

/// Why a line is no event; nothing when it is one.
std::optional<std::string> LineProblem(std::string_view line, nlohmann::ordered_json& event) {
  if (line.size() > kHistoryLineLimit) {
    return "is longer than " + std::to_string(kHistoryLineLimit) + " bytes";
  }
  bool tooDeep = false;
  const auto depth = [&tooDeep](int level, nlohmann::ordered_json::parse_event_t,
                                nlohmann::ordered_json&) {
    tooDeep = tooDeep || level > kDepthLimit;
    return !tooDeep;
  };
  event = nlohmann::ordered_json::parse(line, depth, false);
  if (tooDeep) return std::string("is nested too deep");
  if (event.is_discarded()) return std::string("is not JSON");
  if (!event.is_object()) return std::string("is not a JSON object");
  const auto name = event.find("event");
  if (name == event.end() || !name->is_string()) return std::string("names no event");
  return std::nullopt;
}

bool Blank(std::string_view line) {
  return line.find_first_not_of(" \t\r") == std::string_view::npos;
}

/// The events of the text, each line that is none named in a warning.
void ReadLines(std::string_view text, const std::string& path, HistoryRead& read) {
  std::size_t number = 0;
  while (!text.empty()) {
    ++number;
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (Blank(line)) continue;
    const std::string where = path + ": line " + std::to_string(number);
    if (end == std::string_view::npos) {
      read.warnings.push_back(where + " has no end: it was cut short, and is skipped");
      continue;
    }
    nlohmann::ordered_json event;
    if (auto problem = LineProblem(line, event)) {
      read.warnings.push_back(where + " " + *problem + ": it is skipped");
      continue;
    }
    read.events.push_back(std::move(event));
  }
}

/// The newest bytes of the history, up to kHistoryReadLimit, with a warning when there are more.
std::optional<std::string> NewestBytes(const RegularFile& file, const std::string& path,
                                       HistoryRead& read) {
  const std::optional<std::uintmax_t> size = file.Size();
  if (!size) return std::nullopt;
  const std::uintmax_t from = *size > kHistoryReadLimit ? *size - kHistoryReadLimit : 0;
  std::optional<std::string> text = file.ReadAt(from, static_cast<std::size_t>(*size - from));
  if (!text || from == 0) return text;
  read.warnings.push_back(path + " holds " + std::to_string(*size) + " bytes: only its newest " +
                          std::to_string(kHistoryReadLimit) +
                          " are read, and its lines are counted from there");
  return WholeLines(std::move(*text), false);
}

}  // namespace

std::string HistoryPath(const std::string& stateFolder) {
  return (std::filesystem::path(stateFolder) / "history.jsonl").string();
}

std::string HistoryLockPath(const std::string& stateFolder) {
  return HistoryPath(stateFolder) + ".lock";
}

HistoryImage HistoryImageOf(std::string name, const FirmwareFacts& firmware) {
  HistoryImage image{std::move(name), std::nullopt, VersionField(firmware)};
  if (!firmware.sha256.empty()) image.sha256 = firmware.sha256;
  image.running = image.version;
  if (!firmware.release.empty()) image.release = firmware.release;
  return image;
}

HistoryEnclosure HistoryEnclosureOf(const EnclosureFacts& enclosure, std::string path,
                                    std::optional<std::string> line) {
  HistoryEnclosure named;
  if (enclosure.chipCode != 0) {
    named.chip = enclosure.chipName;
    named.chipCode = enclosure.chipCode;
    named.revision = enclosure.revision;
  }
  named.path = std::move(path);
  named.line = std::move(line);
  return named;
}

std::optional<std::string> HistoryVersion(const EnclosureFacts& enclosure) {
  if (!enclosure.reported) return std::nullopt;
  if (enclosure.bootRom) return std::string("boot-rom");
  return VersionText(*enclosure.reported);
}

nlohmann::ordered_json HistoryJson(const HistoryEvent& event) {
  return {{"time", UtcTime(event.time)},
          {"program", "korvane-fw"},
          {"version", KORVANE_VERSION},
          {"event", event.event},
          {"simulated", event.simulated},
          {"enclosure", EnclosureJson(event.enclosure)},
          {"version_before", OrNull(event.versionBefore)},
          {"release_before", OrNull(event.releaseBefore)},
          {"written", ImageJson(event.written)},
          {"result", event.result},
          {"failed_step", OrNull(event.failedStep)},
          {"reason", OrNull(event.reason)},
          {"backup", OrNull(event.backup)},
          {"replug", OrNull(event.replug)}};
}

std::optional<std::string> AppendHistory(const std::string& stateFolder, const HistoryEvent& event,
                                         std::uintmax_t limit, FileCalls& calls) {
  if (stateFolder.empty()) return std::string(kNoStateFolder) + ": the event was not recorded";
  const std::string line = HistoryLine(event);
  if (line.size() > kHistoryLineLimit) {
    return "the event takes more than " + std::to_string(kHistoryLineLimit) +
           " bytes: it was not recorded";
  }
  if (auto problem = PrepareFolder(stateFolder, calls)) {
    return "the state folder " + *problem + ": the event was not recorded";
  }
  const std::string path = HistoryPath(stateFolder);
  const auto lock = TakeLock(HistoryLockPath(stateFolder), true);
  if (const auto* problem = std::get_if<std::string>(&lock)) {
    // Appends of whole lines do not mix even so; only cutting the file down needs the lock.
    if (auto failed = AppendUncut(path, line, calls)) return failed;
    return *problem + ": the event was recorded without the lock, and the history not cut down";
  }
  return AppendLocked(path, line, limit, calls);
}

HistoryRead ReadHistory(const std::string& stateFolder) {
  HistoryRead read;
  if (stateFolder.empty()) {
    read.missing = true;
    return read;
  }
  const std::string path = HistoryPath(stateFolder);
  // Shared with other readers, so that no run appends or cuts meanwhile; without the lock file
  // (no run has written yet, or the folder is not ours to write) it is read all the same.
  const auto lock = TakeLock(HistoryLockPath(stateFolder), false);
  auto opened = RegularFile::Open(path, RegularFile::Mode::Read);
  if (auto* failure = std::get_if<RegularFile::Failure>(&opened)) {
    read.missing = failure->missing;
    if (!failure->missing) read.warnings.push_back(failure->reason + ": the history is not read");
    return read;
  }
  const std::optional<std::string> text = NewestBytes(std::get<RegularFile>(opened), path, read);
  if (!text) {
    read.warnings.push_back("cannot read " + path + ": the history is not read");
    return read;
  }
  ReadLines(*text, path, read);
  return read;
}

HistoryRead ReadHistoryText(std::string_view text, const std::string& path) {
  HistoryRead read;
  ReadLines(text, path, read);
  return read;
}

}  // namespace korvane::store
