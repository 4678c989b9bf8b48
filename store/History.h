// The history of what korvane-fw did to enclosures: <state folder>/history.jsonl, one JSON object
// a line for every update that completed or failed and every backup command. It is the one file
// the programs append to rather than replace. Each line is appended with one write under a lock
// that every run takes, and when the file would pass its bound the oldest lines are cut under the
// same lock, so that runs at the same time lose no line. Reading skips what is damaged.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "Facts.h"
#include "FileCalls.h"

namespace korvane::store {

/// The size the history file is kept to: an append that would pass it first cuts the file down
/// to about its newest half.
inline constexpr std::uintmax_t kHistoryLimit = 1024 * 1024;
/// The longest line read as an event; ours are well under a kilobyte.
inline constexpr std::size_t kHistoryLineLimit = 64 * 1024;
/// The most of a history file that is read: its newest bytes.
inline constexpr std::uintmax_t kHistoryReadLimit = 2 * kHistoryLimit;

/// The history file in a state folder, and the file its runs lock.
std::string HistoryPath(const std::string& stateFolder);
std::string HistoryLockPath(const std::string& stateFolder);

/// The enclosure an event was about, as the check saw it.
struct HistoryEnclosure {
  std::optional<std::string> chip;             ///< "JMS583"; null when not recognised
  std::optional<int> chipCode;                 ///< with chip
  std::string path;                            ///< the device path; empty when none was checked
  std::optional<std::string> line;             ///< the device-list line, when listed
  std::optional<int> revision = std::nullopt;  ///< the identification's revision, with chip
  /// The serial number its NVRAM record gives, where the command read that record (a backup).
  std::optional<std::string> serial = std::nullopt;
};

/// The firmware an update wrote, or would have written: a file or the carried image.
struct HistoryImage {
  std::string name;                   ///< the file as given, or the carried image's name
  std::optional<std::string> sha256;  ///< null when it could not be told
  /// "0.0.1.2": what a bridge reports once it runs the image, as running; null when that cannot
  /// be told. Older lines held the header's own text or the offer's release name here.
  std::optional<std::string> version;
  /// "0.0.1.2": what a bridge reports once it runs the image; null when that cannot be told.
  std::optional<std::string> running = std::nullopt;
  /// The release name the firmware catalogue gives that version; null when it names none.
  std::optional<std::string> release = std::nullopt;
};

/// The image as the history names it, under name: its version and release from its facts.
HistoryImage HistoryImageOf(std::string name, const FirmwareFacts& firmware);
/// The enclosure as the history names it, at path, with its device-list line where listed.
HistoryEnclosure HistoryEnclosureOf(const EnclosureFacts& enclosure, std::string path,
                                    std::optional<std::string> line);
/// The running version "a.b.c.d", "boot-rom" when no firmware runs, null when not read.
std::optional<std::string> HistoryVersion(const EnclosureFacts& enclosure);

/// One line of the history.
struct HistoryEvent {
  std::chrono::system_clock::time_point time;
  std::string event;  ///< "update" or "backup"
  bool simulated = false;
  HistoryEnclosure enclosure;
  /// The running version "a.b.c.d", "boot-rom" when no firmware ran, null when not read.
  std::optional<std::string> versionBefore;
  std::optional<std::string> releaseBefore;  ///< the release name of versionBefore, where known
  std::optional<HistoryImage> written;       ///< null for a backup
  std::string result;                        ///< update: "complete"/"fail"; backup: "saved"/...
  std::optional<std::string> failedStep;
  std::optional<std::string> reason;
  std::optional<std::string> backup;  ///< the backup file written, by the command or before it
  /// What was found when the enclosure came back after the update; null until that is known.
  std::optional<nlohmann::ordered_json> replug;
};

/// The event as its line holds it: {"time", "program", "version", "event", "simulated",
/// "enclosure": {"chip", "chip_code", "revision", "path", "line"}, "version_before",
/// "release_before", "written": {"name", "sha256", "version", "running_version", "release"} or
/// null, "result", "failed_step", "reason", "backup", "replug"}.
nlohmann::ordered_json HistoryJson(const HistoryEvent& event);

/// Appends the event to the state folder's history (made, for this user only, when missing),
/// cutting the oldest lines first when the file would pass limit. Nothing when it was recorded;
/// otherwise one line on what went wrong, which says whether the event was recorded all the same.
std::optional<std::string> AppendHistory(const std::string& stateFolder, const HistoryEvent& event,
                                         std::uintmax_t limit = kHistoryLimit,
                                         FileCalls& calls = MachineFileCalls());

/// What reading the history found.
struct HistoryRead {
  bool missing = false;                        ///< there is no history file yet
  std::vector<nlohmann::ordered_json> events;  ///< oldest first
  std::vector<std::string> warnings;           ///< one for each line skipped, or the file
};

/// Reads the state folder's history: every line that is a JSON object naming its event; each
/// other line is skipped with a warning naming it, and a file that cannot be read is a warning.
HistoryRead ReadHistory(const std::string& stateFolder);
/// The events of a history's text, read as ReadHistory reads the file at path.
HistoryRead ReadHistoryText(std::string_view text, const std::string& path);

}  // namespace korvane::store
