// Every file the programs write goes through here, and keeps what it is. A regular file, or none,
// is written beside its place and put there only when it is whole, so an existing file is
// replaced by a complete one or not at all, and nothing is written through a link someone left
// in the way. A FIFO or a character device (a pipe behind /dev/stdout, /dev/null, a terminal) is
// written as it is; turning it into a regular file would replace a system file when run as root.
// Anything else is refused before a bridge hears a command.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace korvane::cli {

/// How a path is written, by the kind of file that is there.
enum class OutputKind : std::uint8_t {
  Replace,  ///< a regular file, or nothing: written beside it and renamed over it
  Direct,   ///< a FIFO or character device: opened and written as it is
  Refused,  ///< a folder, a block device, a socket: not written
};

#ifndef _WIN32
/// The kind for a file's st_mode.
OutputKind KindOfMode(unsigned mode);
#endif

/// On Windows, the kind for a path by its device name: NUL and CON are written directly, other
/// device names (PRN, AUX, COM1...) refused; other paths are files. Portable, so it is tested
/// everywhere.
OutputKind KindOfWindowsName(std::string_view path);

class OutputFile {
 public:
  /// Opens target for writing as its kind says; the reason, as one line, when it cannot be.
  static std::variant<OutputFile, std::string> Open(const std::string& target);
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  /// A file that was not committed is removed; a device or FIFO is closed.
  ~OutputFile();

  /// Appends text; false once writing failed (a full disk, a reader that went away), after which
  /// nothing more is written.
  bool Write(std::string_view text);
  /// Puts a replacing file in target's place, or closes a device or FIFO; the reason when the
  /// output is not whole.
  std::optional<std::string> Commit();

  /// Whether the output is written as it is (a FIFO or device) rather than replaced.
  bool direct() const { return temporary_.empty(); }
  /// Why writing failed, after Write returned false.
  const std::string& failure() const { return failure_; }

 private:
  OutputFile(std::string target, std::string temporary, int descriptor)
      : target_(std::move(target)), temporary_(std::move(temporary)), descriptor_(descriptor) {}
  void Close();

  std::string target_;     ///< the path whose place a replacing file takes, links followed
  std::string temporary_;  ///< the file written beside it; empty when written directly
  int descriptor_ = -1;
  std::string failure_;
};

}  // namespace korvane::cli
