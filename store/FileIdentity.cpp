#include "FileIdentity.h"

#include <filesystem>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "Text.h"
#else
#include <sys/stat.h>
#endif

namespace korvane::store {
namespace {

#ifdef _WIN32
std::optional<FileIdentity> IdentityOfThere(const std::string& path) {
  HANDLE handle =
      CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION information{};
  const bool known = GetFileInformationByHandle(handle, &information) != 0;
  const bool device = GetFileType(handle) == FILE_TYPE_CHAR;
  CloseHandle(handle);
  if (!known && !device) return std::nullopt;
  FileIdentity identity;
  identity.volume = information.dwVolumeSerialNumber;
  identity.node =
      (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
  identity.device = device;
  if (device) identity.name = AsciiLower(path);
  return identity;
}

/// Names in a folder are told apart without their case.
std::string FolderName(const std::filesystem::path& path) {
  return AsciiLower(path.filename().string());
}
#else
std::optional<FileIdentity> IdentityOfThere(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(status.st_dev),
                      static_cast<std::uint64_t>(status.st_ino),
                      {},
                      S_ISCHR(status.st_mode)};
}

std::string FolderName(const std::filesystem::path& path) { return path.filename().string(); }
#endif

}  // namespace

std::optional<FileIdentity> IdentityOf(const std::string& path) {
  if (auto there = IdentityOfThere(path)) return there;
  const std::filesystem::path named(path);
  const std::filesystem::path folder = named.has_parent_path() ? named.parent_path() : ".";
  auto identity = IdentityOfThere(folder.string());
  if (!identity) return std::nullopt;
  identity->name = FolderName(named);
  identity->device = false;
  return identity;
}

std::optional<std::string> SameFileTwice(std::span<const NamedFile> files) {
  std::vector<std::optional<FileIdentity>> identities;
  for (const NamedFile& file : files) identities.push_back(IdentityOf(file.path));
  for (std::size_t first = 0; first < files.size(); ++first) {
    for (std::size_t second = first + 1; second < files.size(); ++second) {
      const auto& one = identities[first];
      const auto& other = identities[second];
      if (!files[first].output && !files[second].output) continue;
      if (!one || !other || !(*one == *other) || (one->device && other->device)) continue;
      return files[first].named + " and " + files[second].named + " name the same file (" +
             files[second].path + "): give each its own";
    }
  }
  return std::nullopt;
}

}  // namespace korvane::store
