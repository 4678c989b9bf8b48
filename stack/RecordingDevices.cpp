#include "RecordingDevices.h"

namespace korvane {

RecordingDevices::RecordingDevices(Devices& inner, trace::TraceWriter& writer)
    : inner_(inner), writer_(writer), lister_(inner.lister(), writer) {}

MountState RecordingDevices::CheckMounts(std::string_view path) {
  MountState state = inner_.CheckMounts(path);
  writer_.Mount(path, state);
  return state;
}

std::variant<std::unique_ptr<DiskHold>, std::string> RecordingDevices::Hold(std::string_view path) {
  auto hold = inner_.Hold(path);
  if (const auto* refused = std::get_if<std::string>(&hold)) {
    writer_.Hold(path, *refused, {});
  } else {
    writer_.Hold(path, std::nullopt, std::get<std::unique_ptr<DiskHold>>(hold)->gaps());
  }
  return hold;
}

std::vector<DiskInterface> RecordingDevices::Lister::ListDisks() {
  std::vector<DiskInterface> disks = inner_.ListDisks();
  writer_.Listing(disks);
  return disks;
}

}  // namespace korvane
