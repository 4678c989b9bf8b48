// korvane-fw list: every disk behind a recognised bridge, as the device list shows it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Command.h"
#include "DiskEntries.h"

namespace korvane::cli {

/// The scan's result and the firmware of each listed disk.
struct ListReport {
  int enumerated = 0;
  std::vector<ListEntry> entries;
  std::vector<std::string> warnings;
  std::vector<std::string> leftOut;  ///< each disk left out, as "PATH: why"
};

/// Scans and reads each listed disk's firmware.
ListReport BuildListReport(CommandContext& context);
/// The report as {"enumerated", "disks": [...], "warnings": [...]}.
nlohmann::ordered_json ListJson(const ListReport& report);
/// Runs the command; returns the exit code: 1 when nothing was listed, 6 when that was for want
/// of rights.
int RunList(CommandContext& context);

}  // namespace korvane::cli
