// Reading a sysfs tree without leaving it: links and ".." are followed one component at a time
// inside the tree's root, as a lookup with that root as "/" would.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace korvane {

/// The path below root that relative leads to with every link followed inside root; nothing when
/// a link or ".." would lead out of the tree, a link is absolute or the links loop.
std::optional<std::filesystem::path> ResolveIn(const std::filesystem::path& root,
                                               const std::filesystem::path& relative);

/// True for a non-empty text of which every character passes the test.
bool AllOf(std::string_view text, bool (*test)(char));
inline bool IsLower(char c) { return c >= 'a' && c <= 'z'; }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

/// sd followed by letters only: a whole disk, never one of its partitions.
inline bool IsScsiDiskName(std::string_view name) {
  return name.starts_with("sd") && AllOf(name.substr(2), IsLower);
}

}  // namespace korvane
