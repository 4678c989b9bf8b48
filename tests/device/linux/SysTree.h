// A tree shaped like sysfs, for the tests and fuzz targets that read one.
#pragma once

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <utility>

namespace korvane::testing {

namespace fs = std::filesystem;

/// Builds a tree shaped like sysfs below root; paths given to it are below root, and its links
/// are relative, as the kernel makes them.
class SysTree {
 public:
  explicit SysTree(fs::path root) : root_(std::move(root)) { fs::create_directories(root_); }

  const fs::path& Root() const { return root_; }

  void Write(const fs::path& file, const std::string& text) const {
    fs::create_directories((root_ / file).parent_path());
    std::ofstream(root_ / file, std::ios::binary | std::ios::trunc) << text;
  }

  void Link(const fs::path& at, const fs::path& target) const {
    RawLink(at, target.lexically_relative(at.parent_path()));
  }

  /// A link whose target is written as given, to build trees that lead astray.
  void RawLink(const fs::path& at, const fs::path& target) const {
    fs::create_directories((root_ / at).parent_path());
    fs::create_directory_symlink(target, root_ / at);
  }

  /// An sd disk of the SCSI device, listed in block/; returns its directory.
  fs::path Disk(const fs::path& scsiDevice, const std::string& name, const std::string& dev) const {
    const fs::path dir = scsiDevice / "block" / name;
    Write(dir / "dev", dev + "\n");
    fs::create_directories(root_ / dir / "holders");
    Link(fs::path("block") / name, dir);
    return dir;
  }

  fs::path Partition(const fs::path& disk, const std::string& name, const std::string& dev) const {
    const fs::path dir = disk / name;
    Write(dir / "dev", dev + "\n");
    Write(dir / "partition", name.substr(name.size() - 1) + "\n");
    fs::create_directories(root_ / dir / "holders");
    return dir;
  }

  /// The sg node of a SCSI device, as class/scsi_generic shows it.
  void ScsiGeneric(const fs::path& scsiDevice, const std::string& sg) const {
    const fs::path dir = scsiDevice / "scsi_generic" / sg;
    fs::create_directories(root_ / dir);
    Link(dir / "device", scsiDevice);
    Link(fs::path("class") / "scsi_generic" / sg, dir);
  }

  /// A device-mapper volume built on the given devices; returns its directory.
  fs::path Volume(const std::string& name, const std::string& dev, const std::string& mapperName,
                  std::initializer_list<fs::path> on) const {
    const fs::path dir = fs::path("devices/virtual/block") / name;
    Write(dir / "dev", dev + "\n");
    Write(dir / "dm" / "name", mapperName + "\n");
    fs::create_directories(root_ / dir / "holders");
    Link(fs::path("block") / name, dir);
    for (const fs::path& below : on) {
      Link(below / "holders" / name, dir);
      Link(dir / "slaves" / below.filename(), below);
    }
    return dir;
  }

 private:
  fs::path root_;
};

}  // namespace korvane::testing
