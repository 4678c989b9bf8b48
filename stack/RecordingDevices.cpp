#include "RecordingDevices.h"

namespace korvane {

RecordingDevices::RecordingDevices(Devices& inner, trace::TraceWriter& writer)
    : inner_(inner), writer_(writer), lister_(inner.lister(), writer) {}

MountState RecordingDevices::CheckMounts(std::string_view path) {
  MountState state = inner_.CheckMounts(path);
  writer_.Mount(path, state);
  return state;
}

std::vector<DiskInterface> RecordingDevices::Lister::ListDisks() {
  std::vector<DiskInterface> disks = inner_.ListDisks();
  writer_.Listing(disks);
  return disks;
}

}  // namespace korvane
