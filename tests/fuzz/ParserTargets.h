// The file readers as fuzz targets: each takes any bytes and returns the first rule its reader
// broke, or nothing. Crashes and reads past a buffer are the sanitizers' to find.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace korvane::fuzz {

/// A scenario or saved state: what reads must write out and read back as the same enclosures.
std::optional<std::string> ReadScenarioText(std::span<const std::uint8_t> input);

/// A trace or problem report, read for a replay and for a comparison: what a replay accepts, a
/// comparison accepts too.
std::optional<std::string> ReadTraceText(std::span<const std::uint8_t> input);

/// A firmware file handed to update --image: the input's bytes, or, when it starts with "{", a
/// record up to the first NUL and the file's bytes after it. A file the record and the judgement
/// let through must be able to boot.
std::optional<std::string> ReadImageWithRecord(std::span<const std::uint8_t> input);

/// A backup's record, judged for a file whose size and digest are the ones it names: what it
/// accepts, it accepts again once written out, and it refuses for any other digest.
std::optional<std::string> ReadBackupRecord(std::span<const std::uint8_t> input);

/// A history's text: every event it reads, written out again line by line, reads back the same.
std::optional<std::string> ReadHistoryLines(std::span<const std::uint8_t> input);

#ifdef __linux__
/// The mount check over a fixture sysfs tree whose partition's device number, the mount table
/// and the swap list come from the input.
std::optional<std::string> CheckMountTexts(std::span<const std::uint8_t> input);
#endif

}  // namespace korvane::fuzz
