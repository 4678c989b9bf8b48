// Reading what a bridge runs before anything replaces it: its firmware area and its NVRAM
// record, each read twice, put together in the layout of the chip's whole firmware image, so that
// a backup is itself a file the update can write back.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "ChipUpdate.h"
#include "IdentityBlock.h"
#include "UpdateContext.h"

namespace korvane {

/// How a backup read ended.
enum class BackupEnd : std::uint8_t {
  Saved,    ///< the firmware and the record were read, twice alike, and hold a firmware image
  BootRom,  ///< the bridge runs its boot ROM: it has no firmware to save
  /// A command failed, two reads differ, or what was read is not a whole firmware image of this
  /// chip of the version the bridge runs.
  Failed,
};

/// The words of a backup that the bridge did not give back as its firmware.
inline constexpr std::string_view kNotGivenBack = "this bridge does not give back its firmware";

/// A backup as read from a bridge.
struct FirmwareBackup {
  BackupEnd end = BackupEnd::Failed;
  const ChipUpdate* chip = nullptr;
  BridgeInfo info = 0;  ///< the bridge's identification
  /// The identity block read first; with Saved, its version is the one the image holds.
  BridgeIdentity identity{};
  std::vector<std::uint8_t> image;  ///< the firmware area, then the NVRAM record; with Saved
  UpdateFailure failure;            ///< why, with Failed and BootRom
};

/// Reads the 512-byte NVRAM record of the chip once, after letting the bridge finish what it was
/// doing; nothing (noted in failure as the step Backup) when the read fails.
std::optional<std::vector<std::uint8_t>> ReadNvramRecord(Transport& io, Clock& clock,
                                                         std::string_view path,
                                                         const ChipUpdate& chip,
                                                         UpdateFailure& failure);

/// Reads the backup of the disk at path, whose bridge is info. Sends only reads: the identity
/// block, the buffer descriptor, READ BUFFER data and the NVRAM record. The view hears the
/// progress of the reads as the step Backup.
FirmwareBackup ReadFirmwareBackup(Transport& io, Clock& clock, std::string_view path,
                                  BridgeInfo info, UpdateView* view = nullptr);

}  // namespace korvane
