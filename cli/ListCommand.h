// korvane-fw list: every disk behind a recognised bridge, as the device list shows it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#include "Command.h"
#include "DeviceScan.h"

namespace korvane::cli {

/// What the identity block tells about the running firmware.
struct FirmwareState {
  std::array<std::uint8_t, 4> version{};
  bool romMode = false;  ///< the boot ROM runs: no firmware
};

/// One listed disk with its firmware, when the identity block could be read.
struct ListEntry {
  ListedDisk disk;
  std::optional<FirmwareState> firmware;
};

/// The scan's result and the firmware of each listed disk.
struct ListReport {
  int enumerated = 0;
  std::vector<ListEntry> entries;
  std::vector<std::string> warnings;
};

/// Reads the running firmware from the identity block; nothing when it cannot be read.
std::optional<FirmwareState> ReadFirmwareState(Transport& io, std::string_view path);
/// Scans and reads each listed disk's firmware.
ListReport BuildListReport(CommandContext& context);
/// The report as {"enumerated", "disks": [...], "warnings": [...]}.
nlohmann::ordered_json ListJson(const ListReport& report);
/// Runs the command; returns the exit code.
int RunList(CommandContext& context);

}  // namespace korvane::cli
