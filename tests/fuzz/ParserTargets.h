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

#ifdef __linux__
/// The mount check over a fixture sysfs tree whose partition's device number, the mount table
/// and the swap list come from the input.
std::optional<std::string> CheckMountTexts(std::span<const std::uint8_t> input);
#endif

}  // namespace korvane::fuzz
