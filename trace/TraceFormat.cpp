#include "TraceFormat.h"

#include <nlohmann/json.hpp>

namespace korvane::trace {
namespace {

using Json = nlohmann::ordered_json;

// Paths come from the platform and may hold bytes that are not UTF-8; they are kept readable.
std::string Dump(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string_view BusWord(const InterfaceMarks& marks) {
  if (!marks.usbStorage && !marks.ieee1394 && !marks.scsi) return "none";
  return BusName(BusOf(marks));
}

Json DiskJson(const DiskInterface& disk) {
  Json marks = Json::array();
  if (disk.marks.usbStorage) marks.push_back("usb-storage");
  if (disk.marks.ieee1394) marks.push_back("ieee1394");
  if (disk.marks.scsi) marks.push_back("scsi");
  return Json{{"path", disk.path}, {"bus", BusWord(disk.marks)}, {"marks", marks}};
}

Json DisksJson(const std::vector<DiskInterface>& disks) {
  Json list = Json::array();
  for (const DiskInterface& disk : disks) list.push_back(DiskJson(disk));
  return list;
}

std::string_view MountWord(MountState::Kind kind) {
  switch (kind) {
    case MountState::Kind::Free:
      return "free";
    case MountState::Kind::Mounted:
      return "mounted";
    case MountState::Kind::Swap:
      return "swap";
    case MountState::Kind::Stacked:
      return "stacked";
    case MountState::Kind::Unknown:
      return "unknown";
  }
  return "unknown";
}

}  // namespace

std::string_view CommandOf(const std::vector<std::string>& words) {
  for (const std::string& word : words) {
    if (!word.starts_with('-')) return word;
  }
  return {};
}

std::string_view ThisPlatform() {
#ifdef _WIN32
  return "windows";
#else
  return "linux";
#endif
}

std::string HeaderLine(const TraceHeader& header) {
  Json json{{"trace", header.version},
            {"program", header.program},
            {"version", header.programVersion},
            {"platform", header.platform},
            {"command", header.command},
            {"enclosures", header.enclosures == Enclosures::Simulated ? "simulated" : "real"}};
  json["disks"] = header.disks ? DisksJson(*header.disks) : Json(nullptr);
  if (header.backup) json["backup"] = true;
  if (header.image) {
    json["image"] = {{"name", header.image->name},
                     {"size", header.image->size},
                     {"sha256", header.image->sha256}};
  }
  return Dump(json);
}

std::string DisksLine(const std::vector<DiskInterface>& disks) {
  return Dump(Json{{"disks", DisksJson(disks)}});
}

std::string MountLine(std::string_view path, const MountState& state) {
  return Dump(Json{{"mounts", path}, {"state", MountWord(state.kind)}, {"detail", state.detail}});
}

std::string HoldLine(std::string_view path, const std::optional<std::string>& refused,
                     std::string_view gaps) {
  return Dump(
      Json{{"hold", path}, {"refused", refused ? Json(*refused) : Json(nullptr)}, {"gaps", gaps}});
}

std::string ExitLine(int code) { return Dump(Json{{"exit", code}}); }

}  // namespace korvane::trace
