#include "Folders.h"

#include <filesystem>
#include <system_error>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace korvane::store {
namespace {

/// As many links as the kernel follows in one path before it gives up (ELOOP).
constexpr int kLinkHops = 40;
constexpr unsigned kOthersWrite = 0002;
constexpr unsigned kGroupOrOthersWrite = 0022;

#ifndef _WIN32
std::string ErrorText(int error) { return std::strerror(error); }

std::optional<FolderStanding> StandingOf(const std::string& folder) {
  struct stat status {};
  if (lstat(folder.c_str(), &status) != 0) return std::nullopt;
  return FolderStanding{S_ISLNK(status.st_mode), S_ISDIR(status.st_mode), status.st_uid,
                        static_cast<unsigned>(status.st_mode & 07777), geteuid()};
}

/// The standing of the link at path in the folder it is in.
std::optional<LinkStanding> LinkStandingOf(const std::filesystem::path& path) {
  struct stat link {};
  struct stat folder {};
  const std::filesystem::path parent = path.has_parent_path() ? path.parent_path() : ".";
  if (lstat(path.c_str(), &link) != 0 || stat(parent.c_str(), &folder) != 0) return std::nullopt;
  return LinkStanding{(folder.st_mode & S_ISVTX) != 0, (folder.st_mode & kOthersWrite) != 0,
                      folder.st_uid, link.st_uid, geteuid()};
}
#endif

}  // namespace

bool MayFollowLink(const LinkStanding& standing) {
  if (!standing.folderSticky || !standing.folderWorldWritable) return true;
  return standing.linkOwner == standing.follower || standing.linkOwner == standing.folderOwner;
}

std::optional<std::string> FolderProblem(const std::string& folder,
                                         const FolderStanding& standing) {
  if (standing.link) return folder + " is a link: the files korvane-fw keeps go in a real folder";
  if (!standing.folder) return folder + " is not a folder";
  if (standing.owner != standing.user && standing.owner != 0) {
    return folder + " belongs to another user: the files korvane-fw keeps go in a folder of yours";
  }
  if ((standing.mode & kGroupOrOthersWrite) != 0) {
    return folder + " may be written by other users: make it yours alone (chmod go-w " + folder +
           ")";
  }
  return std::nullopt;
}

std::optional<std::string> PrepareFolder(const std::string& folder,
                                         [[maybe_unused]] FileCalls& calls) {
  std::error_code error;
  const std::filesystem::path path(folder);
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), error);
#ifdef _WIN32
  std::filesystem::create_directory(path, error);
  const DWORD attributes = GetFileAttributesA(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return folder + ": cannot be made";
  FolderStanding standing;
  standing.link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  standing.folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return FolderProblem(folder, standing);
#else
  // Made here for this user alone; one made meanwhile by someone else is judged below.
  if (mkdir(folder.c_str(), 0700) == 0) {
    // A file put in a new folder is only as lasting as the folder's own entry.
    const std::filesystem::path parent = path.has_parent_path() ? path.parent_path() : ".";
    if (const std::error_code synced = calls.SyncFolder(parent.string())) {
      return folder + ": cannot be put on the disk: " + synced.message();
    }
  } else if (errno != EEXIST) {
    return folder + ": cannot be made: " + ErrorText(errno);
  }
  const std::optional<FolderStanding> standing = StandingOf(folder);
  if (!standing) return folder + ": " + ErrorText(errno);
  return FolderProblem(folder, *standing);
#endif
}

#ifndef _WIN32
std::optional<std::string> FollowTrusted(std::string& target) {
  std::filesystem::path path = target;
  for (int hop = 0; hop < kLinkHops; ++hop) {
    std::error_code error;
    if (!std::filesystem::is_symlink(path, error)) break;
    const std::optional<LinkStanding> standing = LinkStandingOf(path);
    if (standing && !MayFollowLink(*standing)) {
      return path.string() +
             " is a link that another user put in a folder anyone may write: it is not followed";
    }
    const std::filesystem::path next = std::filesystem::read_symlink(path, error);
    if (error) break;
    path = next.is_absolute() ? next : path.parent_path() / next;
  }
  target = path.string();
  return std::nullopt;
}
#endif

}  // namespace korvane::store
