// Every file the programs write goes through here, and keeps what it is. A regular file, or none,
// is written beside its place under a name of its own and put there only when it is whole and on
// the disk, so an existing file is replaced by a complete one or not at all, and keeps its
// permissions and owner. A file that must not replace anything claims its name: it is put there
// only while nothing is. No link someone else planted is followed. A FIFO or a character device
// (a pipe behind /dev/stdout, /dev/null, a terminal) is written as it is; turning it into a
// regular file would replace a system file when run as root. Anything else is refused before a
// bridge hears a command.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <variant>

#include "FileCalls.h"

namespace korvane::store {

/// How a path is written, by the kind of file that is there.
enum class OutputKind : std::uint8_t {
  Replace,  ///< a regular file, or nothing: written beside it and renamed over it
  Direct,   ///< a FIFO or character device: opened and written as it is
  Refused,  ///< a folder, a block device, a socket: not written
};

/// What becomes of a file already at the target.
enum class Existing : std::uint8_t {
  Replace,  ///< it is replaced, once the new one is whole
  Keep,     ///< it stays: the output is refused, at the open or when it is put in place
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
  static std::variant<OutputFile, std::string> Open(const std::string& target,
                                                    Existing existing = Existing::Replace,
                                                    FileCalls& calls = MachineFileCalls());
  /// A new file beside place, whatever is there, to be put in place only with CommitAs.
  static std::variant<OutputFile, std::string> OpenNew(const std::string& place,
                                                       FileCalls& calls = MachineFileCalls());
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  /// A file that was not put in place is removed; a device or FIFO is closed.
  ~OutputFile();

  /// Appends text; false once writing failed (a full disk, a reader that went away), after which
  /// nothing more is written.
  bool Write(std::string_view text);
  /// Puts a replacing or claiming file in target's place, or closes a device or FIFO; the reason
  /// when the output is not whole, or (with Existing::Keep) something is at target now.
  std::optional<std::string> Commit();
  /// Commit, to another name in the same folder, which nothing may hold; file_exists when
  /// something does, and the file may then be claimed again under another name.
  std::error_code CommitAs(const std::string& target);
  /// Takes a committed file back out of its place (when the file it goes with could not be put
  /// in place), so that the place is as it was; the file is then removed as one never committed.
  void Withdraw();

  /// Whether the output is written as it is (a FIFO or device) rather than put in place.
  bool direct() const { return temporary_.empty(); }
  /// Where the file goes, or went.
  const std::string& target() const { return target_; }
  /// Why writing failed, after Write returned false.
  const std::string& failure() const { return failure_; }

 private:
  OutputFile(FileCalls& calls, std::string target, std::string temporary, int descriptor,
             Existing existing)
      : calls_(&calls),
        target_(std::move(target)),
        temporary_(std::move(temporary)),
        descriptor_(descriptor),
        existing_(existing) {}
  /// Puts what was written on the disk and closes it; the reason when it is not whole.
  std::optional<std::string> Finish();
  /// Finish, then puts the file at target by existing_'s rule.
  std::error_code Place(const std::string& target, Existing existing);
  void Close();

  FileCalls* calls_;
  std::string target_;     ///< the path whose place the file takes, links followed
  std::string temporary_;  ///< the file written beside it; empty when written directly
  int descriptor_ = -1;
  Existing existing_ = Existing::Replace;
  bool placed_ = false;  ///< it is at target_, and temporary_ is free
  std::string failure_;
};

}  // namespace korvane::store
