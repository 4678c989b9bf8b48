#include "OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>
#include <utility>

#include "Folders.h"
#include "Text.h"

#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <unistd.h>
#endif

namespace korvane::store {
namespace {

constexpr int kNameAttempts = 100;

std::string ErrorText(int error) { return std::strerror(error); }

int ProcessNumber() {
#ifdef _WIN32
  return _getpid();
#else
  return static_cast<int>(getpid());
#endif
}

/// ".trace.jsonl.4711-3f9a0c21.partial": hidden beside place, and named by this run and by chance,
/// so that what a killed run left never stands in a later one's way.
std::string TemporaryBeside(const std::string& place) {
  thread_local std::mt19937 chance{std::random_device{}()};
  const std::filesystem::path path(place);
  std::array<char, 16> suffix{};
  std::snprintf(suffix.data(), suffix.size(), "%08x", static_cast<unsigned>(chance()));
  const std::string name = "." + path.filename().string() + "." + std::to_string(ProcessNumber()) +
                           "-" + suffix.data() + ".partial";
  return (path.parent_path() / name).string();
}

/// A new file beside place, to be put in its place.
std::variant<std::pair<std::string, int>, std::string> CreateBeside(FileCalls& calls,
                                                                    const std::string& place) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string temporary = TemporaryBeside(place);
    std::error_code error;
    const int descriptor = calls.CreateNew(temporary, error);
    if (descriptor >= 0) return std::pair{std::move(temporary), descriptor};
    if (error != std::errc::file_exists)
      return "cannot write beside " + place + ": " + error.message();
  }
  return "cannot write beside " + place + ": no free name for a file beside it";
}

std::string FolderOf(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

std::string Exists(const std::string& target) {
  return target + " exists: remove it or choose another name";
}

#ifndef _WIN32
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

/// Whether anything, a dangling link included, has the name target.
bool Named(const std::string& target) {
  struct stat status {};
  return lstat(target.c_str(), &status) == 0;
}

/// The permissions and owner of the regular file at target, which its successor takes.
std::optional<Ownership> OwnershipAt(const std::string& target) {
  struct stat status {};
  if (lstat(target.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  return Ownership{static_cast<unsigned>(status.st_mode & 07777), status.st_uid, status.st_gid};
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

/// The file at target when it is a FIFO or device; the place a new file goes otherwise; the
/// reason when it may not be written.
std::variant<int, std::string, std::monostate> LookAt(std::string& place, Existing existing) {
  const auto status = StatusOf(place);
  if (const int* error = std::get_if<int>(&status); error != nullptr && *error != ENOENT) {
    return "cannot write " + place + ": " + ErrorText(*error);
  }
  if (const auto* found = std::get_if<struct stat>(&status)) {
    switch (KindOfMode(found->st_mode)) {
      case OutputKind::Direct: {
        auto opened = OpenDirect(place, *found);
        if (auto* problem = std::get_if<std::string>(&opened)) return std::move(*problem);
        return std::get<int>(opened);
      }
      case OutputKind::Refused:
        return place + " is " + std::string(KindName(found->st_mode)) + ": choose a file";
      case OutputKind::Replace:
        break;
    }
  }
  if (existing == Existing::Keep) {
    if (Named(place)) return Exists(place);
    return std::monostate{};
  }
  if (auto problem = FollowTrusted(place)) return std::move(*problem);
  return std::monostate{};
}
#else
std::optional<Ownership> OwnershipAt(const std::string&) { return std::nullopt; }
#endif

int CloseDescriptor(int descriptor) {
#ifdef _WIN32
  return _close(descriptor);
#else
  return close(descriptor);
#endif
}

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

std::variant<OutputFile, std::string> OutputFile::Open(const std::string& target, Existing existing,
                                                       FileCalls& calls) {
  std::string place = target;
#ifdef _WIN32
  switch (KindOfWindowsName(target)) {
    case OutputKind::Direct: {
      const int descriptor = _open(target.c_str(), _O_WRONLY | _O_BINARY);
      if (descriptor < 0) return "cannot write " + target + ": " + ErrorText(errno);
      return OutputFile(calls, target, {}, descriptor, existing);
    }
    case OutputKind::Refused:
      return target + " is a device: choose a file";
    case OutputKind::Replace:
      break;
  }
  std::error_code error;
  if (std::filesystem::is_directory(target, error)) return target + " is a folder: choose a file";
  if (existing == Existing::Keep && std::filesystem::exists(target, error)) return Exists(target);
#else
  auto looked = LookAt(place, existing);
  if (auto* problem = std::get_if<std::string>(&looked)) return std::move(*problem);
  if (const int* descriptor = std::get_if<int>(&looked)) {
    return OutputFile(calls, target, {}, *descriptor, existing);
  }
#endif
  auto created = CreateBeside(calls, place);
  if (auto* problem = std::get_if<std::string>(&created)) return std::move(*problem);
  auto& [temporary, descriptor] = std::get<std::pair<std::string, int>>(created);
  return OutputFile(calls, std::move(place), std::move(temporary), descriptor, existing);
}

std::variant<OutputFile, std::string> OutputFile::OpenNew(const std::string& place,
                                                          FileCalls& calls) {
  auto created = CreateBeside(calls, place);
  if (auto* problem = std::get_if<std::string>(&created)) return std::move(*problem);
  auto& [temporary, descriptor] = std::get<std::pair<std::string, int>>(created);
  return OutputFile(calls, place, std::move(temporary), descriptor, Existing::Keep);
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : calls_(other.calls_),
      target_(std::move(other.target_)),
      temporary_(std::move(other.temporary_)),
      descriptor_(std::exchange(other.descriptor_, -1)),
      existing_(other.existing_),
      placed_(std::exchange(other.placed_, true)),
      failure_(std::move(other.failure_)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this == &other) return *this;
  Close();
  calls_ = other.calls_;
  target_ = std::move(other.target_);
  temporary_ = std::move(other.temporary_);
  descriptor_ = std::exchange(other.descriptor_, -1);
  existing_ = other.existing_;
  placed_ = std::exchange(other.placed_, true);
  failure_ = std::move(other.failure_);
  return *this;
}

OutputFile::~OutputFile() { Close(); }

void OutputFile::Close() {
  if (descriptor_ >= 0) {
    if (direct()) {
      CloseDescriptor(std::exchange(descriptor_, -1));
    } else {
      (void)calls_->Close(std::exchange(descriptor_, -1));
    }
  }
  if (direct() || placed_) return;
  placed_ = true;
  (void)calls_->Remove(temporary_);
}

bool OutputFile::Write(std::string_view text) {
  if (descriptor_ < 0 || !failure_.empty()) return false;
  if (direct()) {
    while (!text.empty()) {
#ifdef _WIN32
      const long written = _write(descriptor_, text.data(), static_cast<unsigned>(text.size()));
#else
      const long written = static_cast<long>(write(descriptor_, text.data(), text.size()));
#endif
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) {
        failure_ = written < 0 ? ErrorText(errno) : "nothing could be written";
        return false;
      }
      text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
  }
  if (const std::error_code error = calls_->Write(descriptor_, text)) {
    failure_ = error.message();
    return false;
  }
  return true;
}

std::optional<std::string> OutputFile::Finish() {
  if (descriptor_ < 0) return failure_.empty() ? std::nullopt : std::optional(failure_);
  if (failure_.empty()) {
    if (const std::error_code error = calls_->Sync(descriptor_)) failure_ = error.message();
  }
  const std::error_code closed = calls_->Close(std::exchange(descriptor_, -1));
  if (closed && failure_.empty()) failure_ = closed.message();
  return failure_.empty() ? std::nullopt : std::optional(failure_);
}

std::error_code OutputFile::Place(const std::string& target, Existing existing) {
  if (placed_) return std::make_error_code(std::errc::operation_not_permitted);
  if (existing == Existing::Replace && descriptor_ >= 0 && failure_.empty()) {
    // A replacement that cannot keep what the file was is no replacement.
    const auto ownership = OwnershipAt(target);
    const std::error_code adopted =
        ownership ? calls_->Adopt(descriptor_, *ownership) : std::error_code();
    if (adopted)
      failure_ = "cannot give it the permissions of " + target + ": " + adopted.message();
  }
  if (Finish()) return std::make_error_code(std::errc::io_error);
  const std::error_code error = existing == Existing::Keep ? calls_->Claim(temporary_, target)
                                                           : calls_->Replace(temporary_, target);
  if (error) return error;
  placed_ = true;
  target_ = target;
  return calls_->SyncFolder(FolderOf(target));
}

std::optional<std::string> OutputFile::Commit() {
  if (direct()) {
    if (descriptor_ < 0) return "the file " + target_ + " was already written";
    if (CloseDescriptor(std::exchange(descriptor_, -1)) != 0 && failure_.empty()) {
      failure_ = ErrorText(errno);
    }
    if (failure_.empty()) return std::nullopt;
    return "cannot write " + target_ + ": " + failure_;
  }
  if (placed_) return "the file " + target_ + " was already written";
  const std::error_code error = Place(target_, existing_);
  if (!failure_.empty()) return "cannot write " + temporary_ + ": " + failure_;
  if (!error) return std::nullopt;
  if (placed_) return "cannot put " + target_ + " on the disk: " + error.message();
  if (error == std::errc::file_exists) return Exists(target_);
  return "cannot put " + target_ + " in place: " + error.message();
}

std::error_code OutputFile::CommitAs(const std::string& target) {
  if (direct()) return std::make_error_code(std::errc::operation_not_permitted);
  return Place(target, Existing::Keep);
}

void OutputFile::Withdraw() {
  if (direct() || !placed_) return;
  // Back under its own name, which only this run uses; removed from there as an uncommitted file.
  if (!calls_->Replace(target_, temporary_)) placed_ = false;
  (void)calls_->SyncFolder(FolderOf(target_));
}

}  // namespace korvane::store
