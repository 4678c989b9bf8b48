#include "MountCheck.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <deque>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>
#include "SysfsPath.h"

namespace korvane {
namespace {

namespace fs = std::filesystem;

// dm-crypt on LVM on RAID on a partition is four levels; a deeper tree is not sysfs.
constexpr int kMaxDepth = 8;
// A disk with all its partitions and the volumes on them stays far below this.
constexpr std::size_t kMaxNodes = 1024;
// "major:minor\n" takes at most 22 characters.
constexpr std::size_t kMaxDevText = 32;
// Device-mapper names are shorter than 128 characters.
constexpr std::size_t kMaxDmName = 128;

constexpr std::string_view kDevPrefix = "/dev/";
constexpr std::string_view kCheckAttached =
    "; check that the enclosure is still attached and that sysfs is mounted";

MountState Mounted(std::string mountPoint) {
  return {MountState::Kind::Mounted, std::move(mountPoint)};
}

MountState Unknown(std::string reason) { return {MountState::Kind::Unknown, std::move(reason)}; }

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

bool IsScsiGenericName(std::string_view name) {
  return name.starts_with("sg") && AllOf(name.substr(2), IsDigit);
}

// sdb1; a disk whose name ends in a digit puts a 'p' between, as md0p1.
bool IsPartitionOf(std::string_view entry, std::string_view disk) {
  if (disk.empty() || !entry.starts_with(disk)) return false;
  std::string_view rest = entry.substr(disk.size());
  if (IsDigit(disk.back())) {
    if (!rest.starts_with('p')) return false;
    rest.remove_prefix(1);
  }
  return AllOf(rest, IsDigit);
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

// The kernel writes a blank, tab, newline or backslash in a mount point or device name as
// \040, \011, \012 or \134, so that no field holds a separator.
std::string Unescape(std::string_view field) {
  std::string text;
  for (std::size_t i = 0; i < field.size(); ++i) {
    const bool escape = field[i] == '\\' && field.size() - i > 3 && field[i + 1] <= '3' &&
                        IsOctal(field[i + 1]) && IsOctal(field[i + 2]) && IsOctal(field[i + 3]);
    if (!escape) {
      text.push_back(field[i]);
      continue;
    }
    const int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
    text.push_back(static_cast<char>(value));
    i += 3;
  }
  return text;
}

struct DevNumber {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  bool operator==(const DevNumber&) const = default;
};

bool ParseNumber(std::string_view text, std::uint32_t& value) {
  if (!AllOf(text, IsDigit)) return false;
  const char* end = text.data() + text.size();
  const auto [next, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && next == end;
}

/// "major:minor", as dev files and the third field of mountinfo spell a block device.
std::optional<DevNumber> ParseDevNumber(std::string_view text) {
  const std::size_t colon = text.find(':');
  DevNumber dev;
  if (colon == std::string_view::npos || !ParseNumber(text.substr(0, colon), dev.major) ||
      !ParseNumber(text.substr(colon + 1), dev.minor)) {
    return std::nullopt;
  }
  return dev;
}

/// A short attribute file below root without its newline; nothing when it is missing, longer
/// than limit, or not a regular file (opening a FIFO planted in the tree would block).
std::optional<std::string> ReadAttribute(const fs::path& root, const fs::path& relative,
                                         std::size_t limit) {
  const auto file = ResolveIn(root, relative);
  std::error_code ec;
  if (!file || !fs::is_regular_file(root / *file, ec)) return std::nullopt;
  std::ifstream in(root / *file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text(limit + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > limit) return std::nullopt;
  if (text.ends_with('\n')) text.pop_back();
  return text;
}

bool ListEntries(const fs::path& dir, std::vector<std::string>& names) {
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  // Sorted, so which volume a reason names does not depend on directory order.
  std::sort(names.begin(), names.end());
  return !ec;
}

/// A block device that belongs to the disk: the disk, a partition, or a volume stacked on them.
struct BlockNode {
  std::string name;        ///< the kernel's name, as under /dev
  std::string mapperName;  ///< the device-mapper name, as under /dev/mapper; often empty
  std::string holds;       ///< for a stacked volume, the device it sits on
  DevNumber dev;
};

/// Where a device's sysfs directory is: the path to show a user, the path to resolve.
struct Place {
  fs::path shown;
  fs::path at;

  Place Child(const fs::path& name) const { return {shown / name, at / name}; }
};

/// Gathers the disk's block devices from sysfs. The first one that cannot be read stops it
/// with a reason: the device left out could be the one that is mounted.
class NodeCollector {
 public:
  explicit NodeCollector(fs::path root) : root_(std::move(root)) {}

  /// Adds the device at place with its partitions and the volumes stacked on either.
  bool Add(const Place& place, const std::string& name, const std::string& holds, int depth) {
    if (Known(name)) return true;  // a RAID over two partitions of the disk is met twice
    if (depth > kMaxDepth || nodes_.size() >= kMaxNodes) {
      return Fail((root_ / place.shown).string() + " nests deeper than any real system" +
                  std::string(kCheckAttached));
    }
    const auto dir = ResolveIn(root_, place.at);
    if (!dir) return Unreadable(place.shown);
    const Place here{place.shown, *dir};
    const auto text = ReadAttribute(root_, here.at / "dev", kMaxDevText);
    const auto dev = text ? ParseDevNumber(*text) : std::nullopt;
    if (!dev) {
      return Fail((root_ / here.shown / "dev").string() +
                  " does not hold a device number (major:minor)" + std::string(kCheckAttached));
    }
    const auto mapper = ReadAttribute(root_, here.at / "dm" / "name", kMaxDmName);
    nodes_.push_back({name, mapper.value_or(""), holds, *dev});
    return AddPartitions(here, name, depth) && AddHolders(here, name, depth);
  }

  /// Adds the disks behind an sg node; one without a block device (no medium loaded, or not a
  /// disk at all) adds nothing.
  bool AddScsiGeneric(const std::string& sg) {
    const fs::path shown = fs::path("class") / "scsi_generic" / sg / "device";
    const auto device = ResolveIn(root_, shown);
    if (!device) return Unreadable(shown);
    std::vector<std::string> disks;
    switch (Entries({shown / "block", *device / "block"}, disks)) {
      case Listing::kAbsent:
        return true;
      case Listing::kUnreadable:
        return Unreadable(shown / "block");
      case Listing::kListed:
        break;
    }
    return std::all_of(disks.begin(), disks.end(), [&](const std::string& disk) {
      return Add({shown / "block" / disk, *device / "block" / disk}, disk, {}, 0);
    });
  }

  const std::vector<BlockNode>& Nodes() const { return nodes_; }
  const std::string& Reason() const { return reason_; }

 private:
  enum class Listing : std::uint8_t { kAbsent, kUnreadable, kListed };

  bool Known(const std::string& name) const {
    return std::any_of(nodes_.begin(), nodes_.end(),
                       [&](const BlockNode& node) { return node.name == name; });
  }

  bool Fail(std::string reason) {
    reason_ = std::move(reason);
    return false;
  }

  bool Unreadable(const fs::path& shown) {
    return Fail((root_ / shown).string() + " cannot be read" + std::string(kCheckAttached));
  }

  // Absent only when the entry itself is missing; a link that leads nowhere or out of the
  // tree is unreadable, since a mount could hide behind it.
  Listing Entries(const Place& place, std::vector<std::string>& names) const {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(root_ / place.at, ec);
    if (status.type() == fs::file_type::not_found) return Listing::kAbsent;
    const auto dir = ec ? std::nullopt : ResolveIn(root_, place.at);
    if (!dir || !ListEntries(root_ / *dir, names)) return Listing::kUnreadable;
    return Listing::kListed;
  }

  bool AddPartitions(const Place& here, const std::string& name, int depth) {
    std::vector<std::string> entries;
    if (Entries(here, entries) != Listing::kListed) return Unreadable(here.shown);
    for (const std::string& entry : entries) {
      if (IsPartitionOf(entry, name) && !Add(here.Child(entry), entry, {}, depth + 1)) {
        return false;
      }
    }
    return true;
  }

  // holders/ names the volumes built on a device: dm-crypt, LVM, RAID. Their own mounts count.
  bool AddHolders(const Place& here, const std::string& name, int depth) {
    const Place holders = here.Child("holders");
    std::vector<std::string> entries;
    switch (Entries(holders, entries)) {
      case Listing::kAbsent:
        return true;
      case Listing::kUnreadable:
        return Unreadable(holders.shown);
      case Listing::kListed:
        break;
    }
    return std::all_of(entries.begin(), entries.end(), [&](const std::string& holder) {
      return Add(holders.Child(holder), holder, name, depth + 1);
    });
  }

  fs::path root_;
  std::vector<BlockNode> nodes_;
  std::string reason_;
};

// A source or swap device names a node as /dev/sdb1, /dev/dm-0 or /dev/mapper/<name>.
bool Names(std::string_view device, const BlockNode& node) {
  if (!device.starts_with(kDevPrefix)) return false;
  device.remove_prefix(kDevPrefix.size());
  if (device == node.name) return true;
  return !node.mapperName.empty() && device.starts_with("mapper/") &&
         device.substr(7) == node.mapperName;
}

bool AnyNamed(const std::vector<BlockNode>& nodes, std::string_view device) {
  return std::any_of(nodes.begin(), nodes.end(),
                     [&](const BlockNode& node) { return Names(device, node); });
}

bool AnyNumbered(const std::vector<BlockNode>& nodes, const DevNumber& dev) {
  return std::any_of(nodes.begin(), nodes.end(),
                     [&](const BlockNode& node) { return node.dev == dev; });
}

struct MountLine {
  DevNumber dev;
  std::string mountPoint;
  std::string source;
};

// Fields: id, parent, major:minor, root, mount point, options, optional fields up to a lone
// "-", then the file system type and the source.
std::optional<MountLine> ParseMountLine(std::string_view line) {
  const std::vector<std::string_view> fields = Split(line, ' ');
  // A line that names no mount point cannot say where the disk is in use.
  if (fields.size() < 5 || fields[4].empty()) return std::nullopt;
  const auto dev = ParseDevNumber(fields[2]);
  if (!dev) return std::nullopt;
  MountLine mount{*dev, Unescape(fields[4]), {}};
  const auto optional =
      fields.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(6, fields.size()));
  const auto dash = std::find(optional, fields.end(), "-");
  if (fields.end() - dash > 2) mount.source = Unescape(dash[2]);
  return mount;
}

// btrfs shows an anonymous 0:N in place of its disk's number, so the source is matched too.
std::optional<MountState> FindMount(const std::vector<BlockNode>& nodes,
                                    std::string_view mountinfo) {
  std::size_t number = 0;
  for (std::string_view line : Split(mountinfo, '\n')) {
    ++number;
    if (line.empty()) continue;
    const auto mount = ParseMountLine(line);
    if (!mount) {
      return Unknown("line " + std::to_string(number) +
                     " of the mount table cannot be read, so a mount on the disk cannot be "
                     "ruled out; check /proc/self/mountinfo");
    }
    if (AnyNumbered(nodes, mount->dev) || AnyNamed(nodes, mount->source)) {
      return Mounted(mount->mountPoint);
    }
  }
  return std::nullopt;
}

// /proc/swaps: a header line, then the device or file, blanks, and the type.
std::optional<MountState> FindSwap(const std::vector<BlockNode>& nodes, std::string_view swaps) {
  for (std::string_view line : Split(swaps, '\n')) {
    const std::string device = Unescape(line.substr(0, line.find_first_of(" \t")));
    if (AnyNamed(nodes, device)) return MountState{MountState::Kind::Swap, device};
  }
  return std::nullopt;
}

// A volume on the disk that is not mounted may still be open (an assembled RAID, an unlocked
// but unmounted dm-crypt volume); whether it is safe cannot be told from here.
std::optional<MountState> FindHolder(const std::vector<BlockNode>& nodes) {
  for (const BlockNode& node : nodes) {
    if (node.holds.empty()) continue;
    const std::string label =
        node.mapperName.empty() ? node.name : node.name + " (/dev/mapper/" + node.mapperName + ")";
    return MountState{MountState::Kind::Stacked, label + " on " + node.holds};
  }
  return std::nullopt;
}

std::string NotADisk(std::string_view devicePath) {
  return "\"" + std::string(devicePath) +
         "\" is neither /dev/sgN nor /dev/sdX, so its mounts cannot be checked; give the "
         "enclosure's path as the device list shows it";
}

MountState Check(std::string_view devicePath, const fs::path& sysRoot, std::string_view mountinfo,
                 std::string_view swaps) {
  if (!devicePath.starts_with(kDevPrefix)) return Unknown(NotADisk(devicePath));
  const std::string name(devicePath.substr(kDevPrefix.size()));
  if (name.find('/') != std::string::npos || name.find("..") != std::string::npos) {
    return Unknown("\"" + std::string(devicePath) +
                   "\" is not a plain device name under /dev; give /dev/sgN or /dev/sdX");
  }
  NodeCollector collector(sysRoot);
  bool read = false;
  if (IsScsiGenericName(name)) {
    read = collector.AddScsiGeneric(name);
  } else if (IsScsiDiskName(name)) {
    const fs::path block = fs::path("block") / name;
    read = collector.Add({block, block}, name, {}, 0);
  } else {
    return Unknown(NotADisk(devicePath));
  }
  if (!read) return Unknown(collector.Reason());
  const std::vector<BlockNode>& nodes = collector.Nodes();
  if (auto found = FindMount(nodes, mountinfo)) return *found;
  if (auto found = FindSwap(nodes, swaps)) return *found;
  if (auto found = FindHolder(nodes)) return *found;
  return {};
}

// proc files report no size, so they are read until the end.
std::optional<std::string> ReadWhole(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text;
  char chunk[4096];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    text.append(chunk, static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) return std::nullopt;
  return text;
}

}  // namespace

MountState CheckMounts(std::string_view devicePath, const std::filesystem::path& sysRoot,
                       std::string_view mountinfo, std::string_view swaps) {
  // Only running out of memory can throw here; it must not read as a free disk.
  try {
    return Check(devicePath, sysRoot, mountinfo, swaps);
  } catch (...) {
    return Unknown("out of memory while checking the mounts of " + std::string(devicePath));
  }
}

MountState CheckSystemMounts(std::string_view devicePath) {
  try {
    // Every system has its root mounted, so an empty table is a failed read.
    const auto mountinfo = ReadWhole("/proc/self/mountinfo");
    if (!mountinfo || mountinfo->empty()) {
      return Unknown(
          "/proc/self/mountinfo cannot be read, so a mount on the disk cannot be ruled out; "
          "check that /proc is mounted");
    }
    // A kernel without swap support has no /proc/swaps, and then nothing is swap.
    const std::string swaps = ReadWhole("/proc/swaps").value_or("");
    return CheckMounts(devicePath, "/sys", *mountinfo, swaps);
  } catch (...) {
    return Unknown("out of memory while checking the mounts of " + std::string(devicePath));
  }
}

}  // namespace korvane
