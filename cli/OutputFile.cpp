#include "OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "Text.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace korvane::cli {
namespace {

constexpr int kNameAttempts = 100;
/// As many links as the kernel follows in one path before it gives up (ELOOP).
constexpr int kLinkHops = 40;

std::string ErrorText(int error) { return std::strerror(error); }

/// Opens path for writing only if nothing is there yet, a link included; -1 otherwise.
int CreateNew(const std::string& path) {
#ifdef _WIN32
  return _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
  return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
#endif
}

int CloseDescriptor(int descriptor) {
#ifdef _WIN32
  return _close(descriptor);
#else
  return close(descriptor);
#endif
}

/// Puts what was written on the disk, so that the rename never shows a file that a crash empties.
bool SyncDescriptor(int descriptor) {
#ifdef _WIN32
  return _commit(descriptor) == 0;
#else
  return fsync(descriptor) == 0;
#endif
}

long WriteSome(int descriptor, std::string_view text) {
#ifdef _WIN32
  return _write(descriptor, text.data(), static_cast<unsigned>(text.size()));
#else
  return static_cast<long>(write(descriptor, text.data(), text.size()));
#endif
}

/// A new file beside place, to be renamed over it.
std::variant<std::pair<std::string, int>, std::string> CreateBeside(const std::string& place) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string temporary = place + ".partial";
    if (attempt > 0) temporary += std::to_string(attempt);
    const int descriptor = CreateNew(temporary);
    if (descriptor >= 0) return std::pair{std::move(temporary), descriptor};
    if (errno != EEXIST) return "cannot write beside " + place + ": " + ErrorText(errno);
  }
  return "cannot write beside " + place + ": too many files named " + place + ".partial*";
}

#ifndef _WIN32
/// The path a regular file at target is really at: a link the user gave is followed to its end,
/// so that the file lands where the link points and the link stays a link.
std::string FollowLinks(const std::string& target) {
  std::filesystem::path path = target;
  for (int hop = 0; hop < kLinkHops; ++hop) {
    std::error_code error;
    if (!std::filesystem::is_symlink(path, error)) break;
    const std::filesystem::path next = std::filesystem::read_symlink(path, error);
    if (error) break;
    path = next.is_absolute() ? next : path.parent_path() / next;
  }
  return path.string();
}

std::string_view KindName(unsigned mode) {
  switch (mode & S_IFMT) {
    case S_IFDIR:
      return "a folder";
    case S_IFBLK:
      return "a block device";
    case S_IFSOCK:
      return "a socket";
    default:
      return "not a file that can be written";
  }
}

/// What is at target, asked of the file itself. O_PATH opens it without reading or writing, so
/// no driver is woken and no FIFO waited on; /dev/stdout leads to whatever standard output is.
std::variant<struct stat, int> StatusOf(const std::string& target) {
  const int probe = open(target.c_str(), O_PATH | O_CLOEXEC);
  if (probe < 0) return errno;
  struct stat status {};
  const int error = fstat(probe, &status) == 0 ? 0 : errno;
  close(probe);
  if (error != 0) return error;
  return status;
}

/// Opens a FIFO or device for writing without waiting for a reader, then makes it block as any
/// output does.
std::variant<int, std::string> OpenDirect(const std::string& target, const struct stat& found) {
  const int descriptor = open(target.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0 && errno == ENXIO && S_ISFIFO(found.st_mode)) {
    return target + " is a FIFO that no program reads: start its reader first";
  }
  if (descriptor < 0) return "cannot write " + target + ": " + ErrorText(errno);
  struct stat opened {};
  const bool same = fstat(descriptor, &opened) == 0 && opened.st_dev == found.st_dev &&
                    opened.st_ino == found.st_ino;
  const int flags = fcntl(descriptor, F_GETFL);
  if (!same || flags < 0 || fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(descriptor);
    return "cannot write " + target + ": it changed while it was opened";
  }
  return descriptor;
}
#endif

}  // namespace

#ifndef _WIN32
OutputKind KindOfMode(unsigned mode) {
  switch (mode & S_IFMT) {
    case S_IFREG:
      return OutputKind::Replace;
    case S_IFCHR:
    case S_IFIFO:
      return OutputKind::Direct;
    default:
      return OutputKind::Refused;
  }
}
#endif

OutputKind KindOfWindowsName(std::string_view path) {
  const std::size_t slash = path.find_last_of("/\\");
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  // The device is named by what comes before an extension, blanks or a colon: "nul.txt", "CON:".
  name = name.substr(0, name.find_first_of(". :"));
  const std::string device = AsciiLower(name);
  if (device == "nul" || device == "con" || device == "conout$") return OutputKind::Direct;
  static constexpr std::array<std::string_view, 4> kOthers{"prn", "aux", "conin$", "clock$"};
  for (const std::string_view other : kOthers) {
    if (device == other) return OutputKind::Refused;
  }
  const bool port = device.size() == 4 &&
                    (device.starts_with("com") || device.starts_with("lpt")) && device[3] >= '1' &&
                    device[3] <= '9';
  return port ? OutputKind::Refused : OutputKind::Replace;
}

std::variant<OutputFile, std::string> OutputFile::Open(const std::string& target) {
  std::string place = target;
#ifdef _WIN32
  switch (KindOfWindowsName(target)) {
    case OutputKind::Direct: {
      const int descriptor = _open(target.c_str(), _O_WRONLY | _O_BINARY);
      if (descriptor < 0) return "cannot write " + target + ": " + ErrorText(errno);
      return OutputFile(target, {}, descriptor);
    }
    case OutputKind::Refused:
      return target + " is a device: choose a file";
    case OutputKind::Replace:
      break;
  }
  std::error_code error;
  if (std::filesystem::is_directory(target, error)) return target + " is a folder: choose a file";
#else
  const auto status = StatusOf(target);
  if (const int* error = std::get_if<int>(&status); error != nullptr && *error != ENOENT) {
    return "cannot write " + target + ": " + ErrorText(*error);
  }
  if (const auto* found = std::get_if<struct stat>(&status)) {
    switch (KindOfMode(found->st_mode)) {
      case OutputKind::Direct: {
        auto opened = OpenDirect(target, *found);
        if (auto* problem = std::get_if<std::string>(&opened)) return std::move(*problem);
        return OutputFile(target, {}, std::get<int>(opened));
      }
      case OutputKind::Refused:
        return target + " is " + std::string(KindName(found->st_mode)) + ": choose a file";
      case OutputKind::Replace:
        break;
    }
  }
  place = FollowLinks(target);
#endif
  auto created = CreateBeside(place);
  if (auto* problem = std::get_if<std::string>(&created)) return std::move(*problem);
  auto& [temporary, descriptor] = std::get<std::pair<std::string, int>>(created);
  return OutputFile(std::move(place), std::move(temporary), descriptor);
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : target_(std::move(other.target_)),
      temporary_(std::move(other.temporary_)),
      descriptor_(std::exchange(other.descriptor_, -1)),
      failure_(std::move(other.failure_)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this == &other) return *this;
  Close();
  target_ = std::move(other.target_);
  temporary_ = std::move(other.temporary_);
  descriptor_ = std::exchange(other.descriptor_, -1);
  failure_ = std::move(other.failure_);
  return *this;
}

OutputFile::~OutputFile() { Close(); }

void OutputFile::Close() {
  if (descriptor_ < 0) return;
  CloseDescriptor(std::exchange(descriptor_, -1));
  if (direct()) return;
  std::error_code ignored;
  std::filesystem::remove(temporary_, ignored);
}

bool OutputFile::Write(std::string_view text) {
  if (descriptor_ < 0 || !failure_.empty()) return false;
  while (!text.empty()) {
    const long written = WriteSome(descriptor_, text);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      failure_ = written < 0 ? ErrorText(errno) : "nothing could be written";
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

std::optional<std::string> OutputFile::Commit() {
  if (descriptor_ < 0) return "the file " + target_ + " was already written";
  if (failure_.empty() && !direct() && !SyncDescriptor(descriptor_)) failure_ = ErrorText(errno);
  const int descriptor = std::exchange(descriptor_, -1);
  if (CloseDescriptor(descriptor) != 0 && failure_.empty()) failure_ = ErrorText(errno);
  if (direct()) {
    if (failure_.empty()) return std::nullopt;
    return "cannot write " + target_ + ": " + failure_;
  }
  std::error_code error;
  if (failure_.empty()) {
    // Whatever is at target now (a file, or a link planted since) is replaced, not written
    // through.
    std::filesystem::rename(temporary_, target_, error);
    if (!error) return std::nullopt;
  }
  std::error_code ignored;
  std::filesystem::remove(temporary_, ignored);
  if (!failure_.empty()) return "cannot write " + temporary_ + ": " + failure_;
  return "cannot replace " + target_ + ": " + error.message();
}

}  // namespace korvane::cli
