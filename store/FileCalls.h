// The calls that change what is on the disk: every file the store writes is created, written, put
// on the disk, put in place and removed through them, in that order. The program hands the
// machine's calls down; a test hands its own, to watch their order or to fail any one of them.
#pragma once

#include <string>
#include <string_view>
#include <system_error>

namespace korvane::store {

/// What a replaced file was: its successor takes its permissions and, where this user may give
/// them, its owner and group.
struct Ownership {
  unsigned mode = 0;  ///< the permission bits
  unsigned user = 0;
  unsigned group = 0;
};

class FileCalls {
 public:
  virtual ~FileCalls() = default;

  /// Creates path for writing, only if nothing is there (a link included), readable and writable
  /// by this user alone; the descriptor, or -1 with error set.
  virtual int CreateNew(const std::string& path, std::error_code& error) = 0;
  /// Writes all of bytes, or fails.
  virtual std::error_code Write(int descriptor, std::string_view bytes) = 0;
  /// Puts what was written on the disk.
  virtual std::error_code Sync(int descriptor) = 0;
  /// Gives the file its permissions (and its owner, where this user may).
  virtual std::error_code Adopt(int descriptor, const Ownership& ownership) = 0;
  virtual std::error_code Close(int descriptor) = 0;
  /// Puts from at to, replacing what is there.
  virtual std::error_code Replace(const std::string& from, const std::string& to) = 0;
  /// Puts from at to only when nothing is there; fails with file_exists otherwise.
  virtual std::error_code Claim(const std::string& from, const std::string& to) = 0;
  virtual std::error_code Remove(const std::string& path) = 0;
  /// Puts a folder's entries (a file put in place, or removed) on the disk.
  virtual std::error_code SyncFolder(const std::string& folder) = 0;
};

/// This machine's calls. They keep no state: the entry point hands them down.
FileCalls& MachineFileCalls();

}  // namespace korvane::store
