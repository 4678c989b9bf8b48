// The disks a scan listed, each with the firmware it runs, as every command names and answers
// them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "DeviceScan.h"
#include "Facts.h"
#include "Transport.h"
#include "VersionCheck.h"

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

/// The listed disk as every output names it.
EnclosureFacts FactsOf(const ListEntry& entry);
/// One disk as {"line", "path", "bus", "model", "chip_code", "chip", "revision", "firmware",
/// "rom_mode"}; the last two are null when the firmware was not read.
nlohmann::ordered_json DiskJson(const ListEntry& entry);
/// The release name the catalogue gives the version running on chip, as JSON: null where there
/// is no chip, no running version or no name for it.
nlohmann::ordered_json ReleaseJson(const ChipUpdate* chip,
                                   const std::optional<std::array<std::uint8_t, 4>>& running);
/// Text from a bridge as JSON output: bytes that are not UTF-8 are replaced, not fatal.
std::string DumpJson(const nlohmann::ordered_json& json);

/// True for a disk whose running firmware list reads: one of a chip this program updates, the
/// only chips whose identity block it knows to hold their version, and the only ones the check
/// reads it of.
bool ReadsFirmware(const ListedDisk& disk);
/// Reads the running firmware from the identity block; nothing when it cannot be read.
std::optional<FirmwareState> ReadFirmwareState(Transport& io, std::string_view path);

}  // namespace korvane::cli
