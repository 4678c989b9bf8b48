// One enclosure among several (korvane-fw --device): discovery is shown the chosen disk alone,
// so that no command reaches another one, and the verdict that several are attached cannot
// arise. After an update the enclosure is unplugged and plugged in again and may come back under
// another path: while its own path is not listed, a disk never listed before stands in for it.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Devices.h"
#include "Text.h"

namespace korvane {

/// How the chosen path stands among the disks listed now.
enum class ChosenStanding : std::uint8_t {
  Listed,        ///< a USB, UASP or FireWire disk: discovery may examine it
  NotListed,     ///< no disk is listed at that path
  NotCandidate,  ///< listed, but on no bus a bridge sits on: nothing is ever sent to it
};

/// The devices with the lister narrowed to one path; everything else passes through.
class ChosenDisk final : public Devices {
 public:
  /// Over inner, which must outlive it; path as the disk list shows it (case does not matter).
  ChosenDisk(Devices& inner, std::string path);

  /// Lists the disks once and tells how the chosen path stands. That listing is the one the
  /// first scan gets, so the disks are listed no more often than without a choice.
  ChosenStanding Standing();

  Port& port() override { return inner_.port(); }
  DiskLister& lister() override { return lister_; }
  Clock& clock() override { return inner_.clock(); }
  DeviceChanges& changes() override { return inner_.changes(); }
  Enclosures enclosures() const override { return inner_.enclosures(); }
  MountState CheckMounts(std::string_view path) override { return inner_.CheckMounts(path); }
  std::variant<std::unique_ptr<DiskHold>, std::string> Hold(std::string_view path) override {
    return inner_.Hold(path);
  }
  std::optional<std::string> SavedStateText() const override { return inner_.SavedStateText(); }
  bool Replugs(std::string_view path) const override { return inner_.Replugs(path); }
  void ExpectReplug() override {
    lister_.Follow();
    inner_.ExpectReplug();
  }

 private:
  class Lister final : public DiskLister {
   public:
    Lister(DiskLister& inner, std::string path);
    std::vector<DiskInterface> ListDisks() override;
    /// The inner lister's answer, kept for the next ListDisks.
    const std::vector<DiskInterface>& Prefetch();
    /// Whether disk is the chosen one.
    bool Chosen(const DiskInterface& disk) const;
    /// From now on, a disk at a path never listed before stands in while the chosen path is not
    /// listed.
    void Follow() { following_ = true; }

   private:
    DiskLister& inner_;
    std::string path_;  ///< as given; compared without case
    std::optional<std::vector<DiskInterface>> kept_;
    std::set<std::string, LessIgnoringCase> known_;  ///< every other path listed before Follow
    bool following_ = false;
  };

  Devices& inner_;
  Lister lister_;
};

}  // namespace korvane
