#include "BlockHold.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include "SysfsPath.h"

namespace korvane {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kDevPrefix = "/dev/";

// Read-only is enough to claim the disk and to flush it, and asks for no more rights than
// reading it. O_NONBLOCK keeps a drive without medium from holding up the open.
constexpr int kHoldFlags = O_RDONLY | O_EXCL | O_NONBLOCK | O_CLOEXEC;

std::string SystemText(int error) {
  return std::string(std::strerror(error)) + " (errno " + std::to_string(error) + ")";
}

BlockNodeLookup Problem(std::string text) { return {{}, std::move(text)}; }

// The disks listed under class/scsi_generic/sgN/device/block: one, or none for an sg node
// without medium or that is no disk at all.
BlockNodeLookup DiskOfScsiGeneric(std::string_view sg, const fs::path& sysRoot) {
  const fs::path block = fs::path("class") / "scsi_generic" / sg / "device" / "block";
  std::error_code ec;
  if (fs::symlink_status(sysRoot / "class" / "scsi_generic" / sg, ec).type() ==
      fs::file_type::not_found) {
    return Problem((sysRoot / "class" / "scsi_generic" / sg).string() + " does not exist");
  }
  const auto dir = ResolveIn(sysRoot, block);
  if (!dir || !fs::exists(sysRoot / *dir, ec)) return {};
  std::vector<std::string> disks;
  fs::directory_iterator it(sysRoot / *dir, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    disks.push_back(it->path().filename().string());
  }
  if (ec) return Problem((sysRoot / block).string() + " cannot be read");
  if (disks.empty()) return {};
  if (disks.size() > 1 || !IsScsiDiskName(disks.front())) {
    return Problem((sysRoot / block).string() + " does not name one SCSI disk");
  }
  return {std::string(kDevPrefix) + disks.front(), {}};
}

class BlockHold final : public DiskHold {
 public:
  BlockHold(LinuxApi& api, HeldNodes& held, int fd, std::string node)
      : api_(api), held_(held), fd_(fd), node_(std::move(node)) {
    held_.Add(node_);
  }
  BlockHold(const BlockHold&) = delete;
  BlockHold& operator=(const BlockHold&) = delete;
  ~BlockHold() override {
    held_.Remove(node_);
    api_.Close(fd_);
  }

 private:
  LinuxApi& api_;
  HeldNodes& held_;
  int fd_;
  std::string node_;
};

/// A hold of nothing, with the reason the update goes on without one.
class GapHold final : public DiskHold {
 public:
  explicit GapHold(std::string gaps) : gaps_(std::move(gaps)) {}
  std::string gaps() const override { return gaps_; }

 private:
  std::string gaps_;
};

std::unique_ptr<DiskHold> Gap(std::string text) {
  return std::make_unique<GapHold>(std::move(text));
}

std::string Unheld(const std::string& node, const std::string& why) {
  return node + " could not be held (" + why +
         "), so nothing stops a mount of the disk while its bridge is written; it was checked "
         "free just before";
}

std::string Busy(const std::string& node) {
  return node +
         " is in use by the system or another program (a mount, swap, a device-mapper, LVM or "
         "RAID volume, or a program that opened it for itself): unmount it, turn its swap off "
         "with swapoff, stop the volume or close the program, then run the update again";
}

}  // namespace

bool HeldNodes::Holds(std::string_view path) const {
  return std::find(paths_.begin(), paths_.end(), path) != paths_.end();
}

void HeldNodes::Add(std::string path) { paths_.push_back(std::move(path)); }

void HeldNodes::Remove(std::string_view path) {
  const auto it = std::find(paths_.begin(), paths_.end(), path);
  if (it != paths_.end()) paths_.erase(it);
}

BlockNodeLookup BlockNodeOf(std::string_view path, const fs::path& sysRoot) {
  if (!path.starts_with(kDevPrefix)) return Problem(std::string(path) + " is not under /dev");
  const std::string_view name = path.substr(kDevPrefix.size());
  if (IsScsiDiskName(name)) return {std::string(path), {}};
  if (name.starts_with("sg") && AllOf(name.substr(2), IsDigit)) {
    return DiskOfScsiGeneric(name, sysRoot);
  }
  return Problem(std::string(path) + " is neither /dev/sgN nor /dev/sdX");
}

std::variant<std::unique_ptr<DiskHold>, std::string> BlockHolder::Hold(std::string_view path) {
  const BlockNodeLookup lookup = BlockNodeOf(path, sysRoot_);
  if (!lookup.problem.empty()) {
    return Gap("the block device behind " + std::string(path) + " could not be told (" +
               lookup.problem + "), so it is not held while its bridge is written");
  }
  if (lookup.node.empty()) return std::make_unique<DiskHold>();
  const int fd = api_.Open(lookup.node.c_str(), kHoldFlags);
  if (fd < 0) {
    const int error = api_.LastErrno();
    if (error == EBUSY) return Busy(lookup.node);
    if (error == EACCES || error == EPERM) return Gap(Unheld(lookup.node, "no permission"));
    return Gap(Unheld(lookup.node, SystemText(error)));
  }
  // What was written to the disk's own node and still sits in the cache reaches it now, before
  // the bridge restarts under it.
  if (api_.Fsync(fd) != 0) {
    const int error = api_.LastErrno();
    api_.Close(fd);
    return "the cached writes of " + lookup.node + " could not be flushed (" + SystemText(error) +
           "): nothing is written to its bridge";
  }
  return std::make_unique<BlockHold>(api_, held_, fd, lookup.node);
}

}  // namespace korvane
