#include "FileCalls.h"

#include <cerrno>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#endif

namespace korvane::store {
namespace {

std::error_code Errno() { return {errno, std::generic_category()}; }

#ifdef _WIN32

std::error_code LastError() {
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
    return std::make_error_code(std::errc::file_exists);
  }
  return {static_cast<int>(error), std::system_category()};
}

class WindowsFileCalls final : public FileCalls {
 public:
  int CreateNew(const std::string& path, std::error_code& error) override {
    const int descriptor =
        _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (descriptor < 0) error = Errno();
    return descriptor;
  }
  std::error_code Write(int descriptor, std::string_view bytes) override {
    while (!bytes.empty()) {
      const int written = _write(descriptor, bytes.data(), static_cast<unsigned>(bytes.size()));
      if (written < 0) return Errno();
      if (written == 0) return std::make_error_code(std::errc::io_error);
      bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
  }
  std::error_code Sync(int descriptor) override {
    return _commit(descriptor) == 0 ? std::error_code() : Errno();
  }
  // A new file takes the permissions its folder gives; there are no mode bits to carry over.
  std::error_code Adopt(int, const Ownership&) override { return {}; }
  std::error_code Close(int descriptor) override {
    return _close(descriptor) == 0 ? std::error_code() : Errno();
  }
  std::error_code Replace(const std::string& from, const std::string& to) override {
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    return MoveFileExA(from.c_str(), to.c_str(), flags) != 0 ? std::error_code() : LastError();
  }
  std::error_code Claim(const std::string& from, const std::string& to) override {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when anything is at to.
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) != 0 ? std::error_code()
                                                                              : LastError();
  }
  std::error_code Remove(const std::string& path) override {
    return DeleteFileA(path.c_str()) != 0 ? std::error_code() : LastError();
  }
  // MOVEFILE_WRITE_THROUGH has put the move on the disk already.
  std::error_code SyncFolder(const std::string&) override { return {}; }
};

#else

/// Whether the file system has no way to rename without replacing, so that a link must do.
bool NoReplaceUnsupported(int error) { return error == EINVAL || error == ENOSYS; }

class PosixFileCalls final : public FileCalls {
 public:
  int CreateNew(const std::string& path, std::error_code& error) override {
    const int descriptor =
        open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
    if (descriptor < 0) error = Errno();
    return descriptor;
  }
  std::error_code Write(int descriptor, std::string_view bytes) override {
    while (!bytes.empty()) {
      const ssize_t written = write(descriptor, bytes.data(), bytes.size());
      if (written < 0 && errno == EINTR) continue;
      if (written < 0) return Errno();
      if (written == 0) return std::make_error_code(std::errc::io_error);
      bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return {};
  }
  std::error_code Sync(int descriptor) override {
    return fsync(descriptor) == 0 ? std::error_code() : Errno();
  }
  std::error_code Adopt(int descriptor, const Ownership& ownership) override {
    // The owner first: a change of owner clears set-id bits. Only the owner's own user, or root,
    // may give the file away; otherwise it stays this user's, as any new file would be.
    if (fchown(descriptor, ownership.user, ownership.group) != 0) {
      (void)fchown(descriptor, static_cast<uid_t>(-1), ownership.group);
    }
    return fchmod(descriptor, ownership.mode & 0777) == 0 ? std::error_code() : Errno();
  }
  std::error_code Close(int descriptor) override {
    return close(descriptor) == 0 ? std::error_code() : Errno();
  }
  std::error_code Replace(const std::string& from, const std::string& to) override {
    return rename(from.c_str(), to.c_str()) == 0 ? std::error_code() : Errno();
  }
  std::error_code Claim(const std::string& from, const std::string& to) override {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
    if (!NoReplaceUnsupported(errno)) return Errno();
    // A hard link is made only where nothing is; the temporary name then goes.
    if (link(from.c_str(), to.c_str()) != 0) return Errno();
    (void)unlink(from.c_str());
    return {};
  }
  std::error_code Remove(const std::string& path) override {
    return unlink(path.c_str()) == 0 ? std::error_code() : Errno();
  }
  std::error_code SyncFolder(const std::string& folder) override {
    const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return Errno();
    // Some file systems cannot sync a folder (EINVAL): their renames are as safe as they get.
    const bool synced = fsync(descriptor) == 0 || errno == EINVAL;
    const std::error_code error = synced ? std::error_code() : Errno();
    close(descriptor);
    return error;
  }
};

#endif

}  // namespace

FileCalls& MachineFileCalls() {
#ifdef _WIN32
  static WindowsFileCalls calls;
#else
  static PosixFileCalls calls;
#endif
  return calls;
}

}  // namespace korvane::store
