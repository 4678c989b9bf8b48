// A regular file opened where it is: a link at its path is refused, never followed, and so is
// anything that is not a regular file (a folder, a FIFO, a device). It is read at an offset,
// appended to with one write that is put on the disk, or locked for the runs of this program that
// share it. The history file and its lock are opened this way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "FileCalls.h"

namespace korvane::store {

class RegularFile {
 public:
  enum class Mode : std::uint8_t {
    Read,    ///< read only; the file must be there
    Create,  ///< read only, made empty when missing (a lock needs no more)
    Append,  ///< read, and written only at its end; made empty when missing
  };
  /// Why a file was not opened.
  struct Failure {
    bool missing = false;  ///< nothing is at the path (with Read)
    std::string reason;    ///< one line, naming the path
  };

  static std::variant<RegularFile, Failure> Open(const std::string& path, Mode mode);
  RegularFile(RegularFile&& other) noexcept;
  RegularFile& operator=(RegularFile&& other) noexcept;
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;
  /// Closes the file, which also lets go of its lock.
  ~RegularFile();

  /// Waits for the lock: exclusive, or shared with other readers. The reason when it cannot be
  /// taken (a file system without locks).
  std::optional<std::string> Lock(bool exclusive);
  /// The file's size; nothing when it cannot be told.
  std::optional<std::uintmax_t> Size() const;
  /// Up to count bytes from offset, fewer at the end of the file; nothing when reading failed.
  std::optional<std::string> ReadAt(std::uintmax_t offset, std::size_t count) const;
  /// Writes text at the end of the file and puts it on the disk, through calls where
  /// the file is a descriptor they take (not on Windows); the reason when not all of it was
  /// written or it could not be put on the disk.
  std::optional<std::string> Append(std::string_view text, FileCalls& calls = MachineFileCalls());

 private:
#ifdef _WIN32
  using Native = void*;
  static Native None() { return reinterpret_cast<Native>(static_cast<std::intptr_t>(-1)); }
#else
  using Native = int;
  static Native None() { return -1; }
#endif
  RegularFile(std::string path, Native native) : path_(std::move(path)), native_(native) {}
  void Close();

  std::string path_;
  Native native_ = None();
};

}  // namespace korvane::store
