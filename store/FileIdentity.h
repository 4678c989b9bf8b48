// Which file a path names, told by the file system rather than by the spelling: two paths name
// one file when they reach one file, or, for a file not there yet, one name in one folder.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace korvane::store {

struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t node = 0;
  std::string name;     ///< for a file not there yet: its name in the folder the two numbers name
  bool device = false;  ///< a character device (/dev/null, a terminal), which takes any output
  bool operator==(const FileIdentity& other) const {
    return volume == other.volume && node == other.node && name == other.name;
  }
};

/// The identity of what path names (links followed); nothing when neither it nor its folder is
/// there.
std::optional<FileIdentity> IdentityOf(const std::string& path);

/// A file a run reads or writes, as the command line names it.
struct NamedFile {
  std::string path;
  std::string named;    ///< "--trace", "the record of --output"...
  bool output = false;  ///< written by the run
};

/// Why the run must not go on: one file named twice where it is written (twice, or read and
/// written). A character device may take several outputs. Nothing when every file is its own.
std::optional<std::string> SameFileTwice(std::span<const NamedFile> files);

}  // namespace korvane::store
