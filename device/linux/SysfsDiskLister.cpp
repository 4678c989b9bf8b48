#include "SysfsDiskLister.h"

#include <algorithm>
#include <deque>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>
#include "SysfsPath.h"

namespace korvane {
namespace {

namespace fs = std::filesystem;

constexpr std::streamsize kMaxAttribute = 32;

bool IsNumbered(std::string_view name, std::string_view prefix) {
  return name.starts_with(prefix) && AllOf(name.substr(prefix.size()), IsDigit);
}

// sda..sdz, then sdaa..sdzz: the kernel's own order is length first, then spelling.
bool KernelOrder(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

std::vector<std::string> EntryNames(const fs::path& dir, bool (*keep)(std::string_view)) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (keep(name)) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end(), KernelOrder);
  return names;
}

bool IsScsiGenericName(std::string_view name) { return IsNumbered(name, "sg"); }
bool IsHostName(std::string_view name) { return IsNumbered(name, "host"); }

// The generic node needs only file permission for vendor commands, the block node needs
// CAP_SYS_RAWIO, so a disk's sg node is preferred whenever it has one.
std::string NodePath(const fs::path& root, const std::string& disk) {
  if (auto dir = ResolveIn(root, fs::path("block") / disk / "device" / "scsi_generic")) {
    const std::vector<std::string> nodes = EntryNames(root / *dir, IsScsiGenericName);
    if (!nodes.empty()) return "/dev/" + nodes.front();
  }
  return "/dev/" + disk;
}

/// The SCSI host nearest above the disk, as a path below root.
std::optional<fs::path> HostOf(const fs::path& device) {
  for (fs::path at = device; at.has_relative_path(); at = at.parent_path()) {
    if (IsHostName(at.filename().string())) return at;
  }
  return std::nullopt;
}

// Only the last component of the link names the driver; the rest is where the bus keeps it.
std::string DriverOf(const fs::path& dir) {
  const fs::path link = dir / "driver";
  std::error_code ec;
  if (!fs::is_symlink(fs::symlink_status(link, ec)) || ec) return {};
  fs::path target = fs::read_symlink(link, ec).lexically_normal();
  if (ec) return {};
  if (!target.has_filename()) target = target.parent_path();
  return target.filename().string();
}

// Short attributes only: nothing longer can be "sbp2" or a four-digit vendor id.
std::string ReadAttribute(const fs::path& root, const fs::path& relative) {
  const auto file = ResolveIn(root, relative);
  std::error_code ec;
  if (!file || !fs::is_regular_file(root / *file, ec)) return {};
  std::ifstream in(root / *file);
  std::string text(kMaxAttribute, '\0');
  in.read(text.data(), kMaxAttribute);
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.ends_with('\n')) text.pop_back();
  return text;
}

std::string ReadProcName(const fs::path& root, const std::string& host) {
  return ReadAttribute(root, fs::path("class") / "scsi_host" / host / "proc_name");
}

// The bridges we update enumerate with their maker's vendor id. A USB disk of any other maker
// (a card reader, a stick, another bridge) is never sent a vendor command: what such a device
// does with our opcodes is unknown.
constexpr std::string_view kBridgeVendorId = "152d";

bool FromBridgeMaker(const fs::path& root, const fs::path& usbInterface) {
  return ReadAttribute(root, usbInterface.parent_path() / "idVendor") == kBridgeVendorId;
}

// Only a USB interface bound to usb-storage or uas behind a device of the bridges' maker, or an
// sbp2 host, marks a disk: every other disk, the system disk among them, must never receive a
// vendor command.
InterfaceMarks MarksOf(const fs::path& root, const std::string& disk) {
  const auto device = ResolveIn(root, fs::path("block") / disk);
  const auto host = device ? HostOf(*device) : std::nullopt;
  if (!host) return {};
  const fs::path usbInterface = host->parent_path();
  const std::string driver = usbInterface.empty() ? std::string() : DriverOf(root / usbInterface);
  const bool usb =
      (driver == "usb-storage" || driver == "uas") && FromBridgeMaker(root, usbInterface);
  return {.usbStorage = usb && driver == "usb-storage",
          .ieee1394 = ReadProcName(root, host->filename().string()) == "sbp2",
          .scsi = usb && driver == "uas"};
}

std::vector<DiskInterface> List(const fs::path& root) {
  std::vector<DiskInterface> disks;
  const auto block = ResolveIn(root, "block");
  if (!block) return disks;
  for (const std::string& disk : EntryNames(root / *block, IsScsiDiskName)) {
    disks.push_back({NodePath(root, disk), MarksOf(root, disk)});
  }
  return disks;
}

}  // namespace

SysfsDiskLister::SysfsDiskLister(std::filesystem::path sysRoot) : sysRoot_(std::move(sysRoot)) {}

std::vector<DiskInterface> SysfsDiskLister::ListDisks() {
  // Only running out of memory can throw here; an empty list is the safe answer to it.
  try {
    return List(sysRoot_);
  } catch (...) {
    return {};
  }
}

}  // namespace korvane
