#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "ParserTargets.h"
#include "linux/MountCheck.h"

namespace korvane::fuzz {
namespace {

namespace fs = std::filesystem;

/// A sysfs tree made once per process: sg1 in front of disk sdb, whose partition sdb1 holds a
/// device-mapper volume.
class FixtureTree {
 public:
  FixtureTree() {
    std::string name = (fs::temp_directory_path() / "korvane-fuzz-XXXXXX").string();
    if (mkdtemp(name.data()) == nullptr) return;
    root_ = name;
    const fs::path scsi = "devices/pci0000:00/usb1/1-1/1-1:1.0/host6/target6:0:0/6:0:0:0";
    const fs::path disk = scsi / "block/sdb";
    Write(disk / "dev", "8:16\n");
    Write(disk / "sdb1/partition", "1\n");
    const fs::path volume = "devices/virtual/block/dm-0";
    Write(volume / "dev", "254:0\n");
    Write(volume / "dm/name", "vault\n");
    fs::create_directories(root_ / volume / "holders");
    fs::create_directories(root_ / disk / "holders");
    Link(disk / "sdb1/holders/dm-0", volume);
    Link(scsi / "scsi_generic/sg1/device", scsi);
    Link("class/scsi_generic/sg1", scsi / "scsi_generic/sg1");
  }
  ~FixtureTree() {
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
  }
  FixtureTree(const FixtureTree&) = delete;
  FixtureTree& operator=(const FixtureTree&) = delete;

  const fs::path& root() const { return root_; }
  void SetPartitionDev(std::string_view text) const {
    Write("devices/pci0000:00/usb1/1-1/1-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb/sdb1/dev", text);
  }

 private:
  void Write(const fs::path& file, std::string_view text) const {
    fs::create_directories((root_ / file).parent_path());
    std::ofstream(root_ / file, std::ios::binary | std::ios::trunc)
        .write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  void Link(const fs::path& at, const fs::path& target) const {
    fs::create_directories((root_ / at).parent_path());
    fs::create_directory_symlink(target.lexically_relative(at.parent_path()), root_ / at);
  }

  fs::path root_;
};

}  // namespace

std::optional<std::string> CheckMountTexts(std::span<const std::uint8_t> input) {
  static const FixtureTree tree;
  const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
  // The partition's device number up to the first line end, then the mount table up to the first
  // NUL, then the swap list.
  const std::size_t lineEnd = std::min(text.find('\n'), text.size());
  tree.SetPartitionDev(text.substr(0, lineEnd + 1));
  const std::string_view rest = text.substr(std::min(lineEnd + 1, text.size()));
  const std::size_t nul = std::min(rest.find('\0'), rest.size());
  const std::string_view mountinfo = rest.substr(0, nul);
  const std::string_view swaps = rest.substr(std::min(nul + 1, rest.size()));
  for (const std::string_view node : {std::string_view("/dev/sg1"), std::string_view("/dev/sdb")}) {
    const MountState state = CheckMounts(node, tree.root(), mountinfo, swaps);
    if (state.kind != MountState::Kind::Free && state.detail.empty()) {
      return "the mount check of " + std::string(node) + " found the disk in use without a word";
    }
  }
  return std::nullopt;
}

}  // namespace korvane::fuzz
