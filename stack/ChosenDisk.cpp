#include "ChosenDisk.h"

#include <algorithm>
#include <utility>

#include "Text.h"

namespace korvane {

ChosenDisk::ChosenDisk(Devices& inner, std::string path)
    : inner_(inner), lister_(inner.lister(), std::move(path)) {}

ChosenStanding ChosenDisk::Standing() {
  const std::vector<DiskInterface>& disks = lister_.Prefetch();
  const auto found = std::ranges::find_if(
      disks, [this](const DiskInterface& disk) { return lister_.Chosen(disk); });
  if (found == disks.end()) return ChosenStanding::NotListed;
  // The scan takes FireWire disks too: so does the choice.
  if (!IsCandidate(found->marks, true)) return ChosenStanding::NotCandidate;
  return ChosenStanding::Listed;
}

ChosenDisk::Lister::Lister(DiskLister& inner, std::string path)
    : inner_(inner), path_(std::move(path)) {}

const std::vector<DiskInterface>& ChosenDisk::Lister::Prefetch() {
  kept_ = inner_.ListDisks();
  return *kept_;
}

bool ChosenDisk::Lister::Chosen(const DiskInterface& disk) const {
  // The scan opens every path in lower case, and the disk list shows it so.
  return SameIgnoringCase(disk.path, path_);
}

std::vector<DiskInterface> ChosenDisk::Lister::ListDisks() {
  std::vector<DiskInterface> listed = kept_ ? std::move(*kept_) : inner_.ListDisks();
  kept_.reset();
  std::vector<DiskInterface> chosen;
  std::vector<DiskInterface> newcomers;
  for (DiskInterface& disk : listed) {
    if (Chosen(disk)) {
      chosen.push_back(std::move(disk));
    } else if (!following_) {
      known_.insert(disk.path);
    } else if (!known_.contains(disk.path)) {
      newcomers.push_back(std::move(disk));
    }
  }
  // The chosen path first: a disk that took it while the enclosure was away hides a newcomer.
  if (!chosen.empty() || !following_) return chosen;
  return newcomers;
}

}  // namespace korvane
