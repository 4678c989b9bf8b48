#include "PendingFile.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

namespace korvane::cli {
namespace {

constexpr int kNameAttempts = 100;

/// Opens path for writing only if nothing is there yet; -1 otherwise.
int CreateNew(const std::string& path) {
#ifdef _WIN32
  return _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
  return open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
#endif
}

std::FILE* AsStream(int descriptor) {
#ifdef _WIN32
  return _fdopen(descriptor, "wb");
#else
  return fdopen(descriptor, "wb");
#endif
}

void CloseDescriptor(int descriptor) {
#ifdef _WIN32
  _close(descriptor);
#else
  close(descriptor);
#endif
}

}  // namespace

std::variant<PendingFile, std::string> PendingFile::Create(const std::string& target) {
  std::error_code error;
  if (std::filesystem::is_directory(std::filesystem::symlink_status(target, error))) {
    return target + " is a folder";
  }
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string temporary = target + ".partial";
    if (attempt > 0) temporary += std::to_string(attempt);
    const int descriptor = CreateNew(temporary);
    if (descriptor < 0 && errno == EEXIST) continue;
    if (descriptor < 0) return "cannot write beside " + target + ": " + std::strerror(errno);
    std::FILE* file = AsStream(descriptor);
    if (file == nullptr) {
      CloseDescriptor(descriptor);
      std::filesystem::remove(temporary);
      return "cannot write " + temporary;
    }
    return PendingFile(target, std::move(temporary), file);
  }
  return "cannot write beside " + target + ": too many files named " + target + ".partial*";
}

PendingFile::~PendingFile() {
  if (!file_) return;
  file_.reset();
  std::error_code ignored;
  std::filesystem::remove(temporary_, ignored);
}

bool PendingFile::Write(std::string_view text) {
  if (!file_ || failed_) return false;
  failed_ = std::fwrite(text.data(), 1, text.size(), file_.get()) != text.size() ||
            std::fflush(file_.get()) != 0;
  return !failed_;
}

std::optional<std::string> PendingFile::Commit() {
  if (!file_) return "the file " + target_ + " was already written";
  const bool closed = std::fclose(file_.release()) == 0;
  std::error_code error;
  if (!failed_ && closed) {
    // A link at target is replaced, not followed: the file lands where the user said.
    std::filesystem::rename(temporary_, target_, error);
    if (!error) return std::nullopt;
  }
  std::filesystem::remove(temporary_, error);
  return failed_ || !closed ? "cannot write " + temporary_ : "cannot replace " + target_;
}

std::optional<std::string> WriteWholeFile(const std::string& path, std::string_view text) {
  auto created = PendingFile::Create(path);
  if (auto* problem = std::get_if<std::string>(&created)) return std::move(*problem);
  auto& file = std::get<PendingFile>(created);
  if (!file.Write(text)) return "cannot write beside " + path;
  return file.Commit();
}

}  // namespace korvane::cli
