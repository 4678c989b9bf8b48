#include <string_view>

#include "ParserTargets.h"
#include "device/linux/ScratchDir.h"
#include "device/linux/SysTree.h"
#include "linux/MountCheck.h"

namespace korvane::fuzz {
namespace {

namespace fs = std::filesystem;

const fs::path kScsiDevice = "devices/pci0000:00/usb1/1-1/1-1:1.0/host6/target6:0:0/6:0:0:0";
const fs::path kPartition = kScsiDevice / "block/sdb/sdb1";

/// A sysfs tree made once per process: sg1 in front of disk sdb, whose partition sdb1 holds a
/// device-mapper volume.
class FixtureTree {
 public:
  FixtureTree() {
    const fs::path disk = sys_.Disk(kScsiDevice, "sdb", "8:16");
    sys_.Partition(disk, "sdb1", "8:17");
    sys_.Volume("dm-0", "254:0", "vault", {kPartition});
    sys_.ScsiGeneric(kScsiDevice, "sg1");
  }

  const fs::path& root() const { return sys_.Root(); }
  void SetPartitionDev(std::string_view text) const {
    sys_.Write(kPartition / "dev", std::string(text));
  }

 private:
  testing::ScratchDir scratch_;
  testing::SysTree sys_{scratch_.Path()};
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
