// The folders the store keeps its files in, and the links it follows, judged as the kernel judges
// them for its own users: a folder another user can write, or a link another user planted in a
// shared folder, is never trusted with the user's files.
#pragma once

#include <optional>
#include <string>

#include "FileCalls.h"

namespace korvane::store {

/// What the rule for a link in a folder looks at: the folder's kind and owner, the link's owner,
/// and who follows it.
struct LinkStanding {
  bool folderSticky = false;
  bool folderWorldWritable = false;
  unsigned folderOwner = 0;
  unsigned linkOwner = 0;
  unsigned follower = 0;
};

/// Whether a link may be followed. In a sticky folder that anyone may write (/tmp) only a link of
/// the follower's own or of the folder's owner is; anywhere else any link is.
bool MayFollowLink(const LinkStanding& standing);

/// What is at a folder's path, as its own entry says (a link is not followed).
struct FolderStanding {
  bool link = false;
  bool folder = true;
  unsigned owner = 0;
  unsigned mode = 0700;  ///< the permission bits
  unsigned user = 0;     ///< who asks
};

/// Why the store must not keep files in this folder, as one line naming it; nothing when it may.
/// It must be a folder, not a link, the user's own or root's, and writable by no one else.
std::optional<std::string> FolderProblem(const std::string& folder, const FolderStanding& standing);

/// Makes folder when it is missing (for this user alone; the folders above it as usual), its
/// entry put on the disk through calls, then judges it; the reason when the store must not keep
/// files in it.
std::optional<std::string> PrepareFolder(const std::string& folder,
                                         FileCalls& calls = MachineFileCalls());

#ifndef _WIN32
/// The path a file named by target is at, links followed as the rule allows; the reason when a
/// link may not be followed. A path without links is itself.
std::optional<std::string> FollowTrusted(std::string& target);
#endif

}  // namespace korvane::store
