#include "DiskEntries.h"

#include "BridgeCommands.h"
#include "ChipUpdate.h"
#include "ImageCheck.h"
#include "UpdateJob.h"

namespace korvane::cli {
namespace {

/// The model text without the blanks INQUIRY pads it with; the device-list line keeps them.
std::string TrimmedModel(std::string_view model) {
  const auto end = model.find_last_not_of(' ');
  const auto begin = model.find_first_not_of(' ');
  if (end == std::string_view::npos) return {};
  return std::string(model.substr(begin, end - begin + 1));
}

}  // namespace

EnclosureFacts FactsOf(const ListEntry& entry) {
  if (!entry.firmware) return DescribeEnclosure(entry.disk.bridgeInfo);
  return DescribeEnclosure(entry.disk.bridgeInfo, entry.firmware->version, entry.firmware->romMode);
}

nlohmann::ordered_json DiskJson(const ListEntry& entry) {
  const ListedDisk& disk = entry.disk;
  const EnclosureFacts facts = FactsOf(entry);
  nlohmann::ordered_json json{{"line", disk.line},           {"path", disk.path},
                              {"bus", BusName(disk.bus)},    {"model", TrimmedModel(disk.model)},
                              {"chip_code", facts.chipCode}, {"chip", facts.chipName},
                              {"revision", facts.revision},  {"firmware", nullptr},
                              {"rom_mode", nullptr}};
  if (facts.reported) {
    json["firmware"] = VersionText(*facts.reported);
    json["rom_mode"] = facts.bootRom;
  }
  json["firmware_release"] = facts.release.empty() ? nlohmann::ordered_json(nullptr)
                                                   : nlohmann::ordered_json(facts.release);
  return json;
}

nlohmann::ordered_json ReleaseJson(const ChipUpdate* chip,
                                   const std::optional<std::array<std::uint8_t, 4>>& running) {
  const std::string_view release = chip != nullptr && running ? ReleaseOf(*chip, *running) : "";
  if (release.empty()) return nullptr;
  return release;
}

std::string DumpJson(const nlohmann::ordered_json& json) {
  // Model texts are bytes from the bridge: anything that is not UTF-8 is replaced.
  return json.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

bool ReadsFirmware(const ListedDisk& disk) {
  return FindChipUpdate(ChipCodeOf(disk.bridgeInfo)) != nullptr;
}

std::optional<FirmwareState> ReadFirmwareState(Transport& io, std::string_view path) {
  const IdentityRead read = ReadBridgeIdentity(io, path);
  if (!read.identity) return std::nullopt;
  return FirmwareState{read.identity->version, read.identity->romMode};
}

}  // namespace korvane::cli
