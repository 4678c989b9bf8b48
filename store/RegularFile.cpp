#include "RegularFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <span>
#include <system_error>
#include <utility>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace korvane::store {
namespace {

#ifdef _WIN32

std::string LastErrorText() {
  return std::system_category().message(static_cast<int>(GetLastError()));
}

DWORD AccessFor(RegularFile::Mode mode) {
  switch (mode) {
    case RegularFile::Mode::Read:
    case RegularFile::Mode::Create:
      return GENERIC_READ;
    case RegularFile::Mode::Append:
      break;
  }
  // Without FILE_WRITE_DATA every write goes to the end of the file.
  return FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_APPEND_DATA | SYNCHRONIZE;
}

/// Why what was opened is not a regular file that may be used; nothing when it is one.
std::optional<std::string> NotRegular(HANDLE handle, const std::string& path) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (GetFileInformationByHandle(handle, &information) == 0) return path + ": " + LastErrorText();
  if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return path + " is a link: it is not followed";
  }
  const bool folder = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (folder || GetFileType(handle) != FILE_TYPE_DISK) return path + " is not a regular file";
  return std::nullopt;
}

/// Reads into buffer from offset: the count read, 0 at the end of the file, -1 on an error.
long ReadSome(HANDLE handle, std::span<char> buffer, std::uintmax_t offset) {
  OVERLAPPED position{};
  position.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  position.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD read = 0;
  if (ReadFile(handle, buffer.data(), static_cast<DWORD>(buffer.size()), &read, &position) != 0) {
    return static_cast<long>(read);
  }
  return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
}

/// Writes text at the end of the file with one call: the count written, -1 on an error.
long WriteAtEnd(HANDLE handle, std::string_view text) {
  // The end of the file as the offset, as well as the handle's append-only access.
  OVERLAPPED end{};
  end.Offset = 0xFFFFFFFFu;
  end.OffsetHigh = 0xFFFFFFFFu;
  DWORD written = 0;
  if (WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, &end) == 0) {
    return -1;
  }
  return static_cast<long>(written);
}

bool Sync(HANDLE handle) { return FlushFileBuffers(handle) != 0; }

RegularFile::Failure OpenFailure(const std::string& path) {
  const DWORD error = GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    return {true, path + ": no such file"};
  }
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) return {false, path + " is a folder"};
  return {false, path + ": " + std::system_category().message(static_cast<int>(error))};
}

#else

std::string ErrorText(int error) { return std::strerror(error); }

int FlagsFor(RegularFile::Mode mode) {
  // Not blocking: a FIFO put at the path must not hold the open until a reader comes.
  constexpr int kCommon = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  switch (mode) {
    case RegularFile::Mode::Read:
      return O_RDONLY | kCommon;
    case RegularFile::Mode::Create:
      return O_RDONLY | O_CREAT | kCommon;
    case RegularFile::Mode::Append:
      break;
  }
  return O_RDWR | O_APPEND | O_CREAT | kCommon;
}

RegularFile::Failure OpenFailure(const std::string& path, int error) {
  switch (error) {
    case ENOENT:
      return {true, path + ": " + ErrorText(error)};
    case ELOOP:
      return {false, path + " is a link: it is not followed"};
    case EISDIR:
      return {false, path + " is a folder"};
    default:
      return {false, path + ": " + ErrorText(error)};
  }
}

long ReadSome(int descriptor, std::span<char> buffer, std::uintmax_t offset) {
  for (;;) {
    const ssize_t read =
        pread(descriptor, buffer.data(), buffer.size(), static_cast<off_t>(offset));
    if (read >= 0 || errno != EINTR) return static_cast<long>(read);
  }
}

#endif

}  // namespace

std::variant<RegularFile, RegularFile::Failure> RegularFile::Open(const std::string& path,
                                                                  Mode mode) {
#ifdef _WIN32
  const DWORD disposition = mode == Mode::Read ? OPEN_EXISTING : OPEN_ALWAYS;
  HANDLE handle = CreateFileA(
      path.c_str(), AccessFor(mode), FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return OpenFailure(path);
  if (auto problem = NotRegular(handle, path)) {
    CloseHandle(handle);
    return Failure{false, std::move(*problem)};
  }
  return RegularFile(path, handle);
#else
  const int descriptor = open(path.c_str(), FlagsFor(mode), 0644);
  if (descriptor < 0) return OpenFailure(path, errno);
  struct stat status {};
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(descriptor);
    return Failure{false, path + " is not a regular file"};
  }
  return RegularFile(path, descriptor);
#endif
}

RegularFile::RegularFile(RegularFile&& other) noexcept
    : path_(std::move(other.path_)), native_(std::exchange(other.native_, None())) {}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept {
  if (this == &other) return *this;
  Close();
  path_ = std::move(other.path_);
  native_ = std::exchange(other.native_, None());
  return *this;
}

RegularFile::~RegularFile() { Close(); }

void RegularFile::Close() {
  if (native_ == None()) return;
#ifdef _WIN32
  CloseHandle(std::exchange(native_, None()));
#else
  close(std::exchange(native_, None()));
#endif
}

std::optional<std::string> RegularFile::Lock(bool exclusive) {
#ifdef _WIN32
  OVERLAPPED whole{};
  const DWORD flags = exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0;
  if (LockFileEx(native_, flags, 0, MAXDWORD, MAXDWORD, &whole) != 0) return std::nullopt;
  return "cannot lock " + path_ + ": " + LastErrorText();
#else
  const int operation = exclusive ? LOCK_EX : LOCK_SH;
  while (flock(native_, operation) != 0) {
    if (errno != EINTR) return "cannot lock " + path_ + ": " + ErrorText(errno);
  }
  return std::nullopt;
#endif
}

std::optional<std::uintmax_t> RegularFile::Size() const {
#ifdef _WIN32
  LARGE_INTEGER size{};
  if (GetFileSizeEx(native_, &size) == 0 || size.QuadPart < 0) return std::nullopt;
  return static_cast<std::uintmax_t>(size.QuadPart);
#else
  struct stat status {};
  if (fstat(native_, &status) != 0 || status.st_size < 0) return std::nullopt;
  return static_cast<std::uintmax_t>(status.st_size);
#endif
}

std::optional<std::string> RegularFile::ReadAt(std::uintmax_t offset, std::size_t count) const {
  std::string bytes(count, '\0');
  std::size_t done = 0;
  while (done < count) {
    const long read = ReadSome(native_, std::span(bytes).subspan(done), offset + done);
    if (read < 0) return std::nullopt;
    if (read == 0) break;
    done += static_cast<std::size_t>(read);
  }
  bytes.resize(done);
  return bytes;
}

std::optional<std::string> RegularFile::Append(std::string_view text,
                                               [[maybe_unused]] FileCalls& calls) {
#ifndef _WIN32
  // The file is opened for appending, so the calls' write lands at its end however it is split.
  if (const std::error_code error = calls.Write(native_, text)) {
    return "cannot write " + path_ + ": " + error.message();
  }
  if (const std::error_code error = calls.Sync(native_)) {
    return "cannot put " + path_ + " on the disk: " + error.message();
  }
  return std::nullopt;
#else
  const long written = WriteAtEnd(native_, text);
  if (written < 0) return "cannot write " + path_ + ": " + LastErrorText();
  if (static_cast<std::size_t>(written) != text.size()) {
    return "cannot write " + path_ + ": only " + std::to_string(written) + " of " +
           std::to_string(text.size()) + " bytes were written";
  }
  if (!Sync(native_)) return "cannot put " + path_ + " on the disk: " + LastErrorText();
  return std::nullopt;
#endif
}

}  // namespace korvane::store
