// One description of an enclosure and one of a firmware file, worded once. Every command's text,
// JSON, history line and backup record takes its chip name, revisions and versions from here, so
// that no two of them can tell the same enclosure differently.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "ChipIdentification.h"
#include "ChipUpdate.h"
#include "IdentityBlock.h"
#include "ImageSource.h"

namespace korvane {

/// A version as the identity block's bytes 12-15 give it.
using FirmwareVersion = std::array<std::uint8_t, 4>;

/// An enclosure as its identification and its identity block describe it.
struct EnclosureFacts {
  std::uint8_t chipCode = 0;  ///< 0: no chip was recognised
  std::string chipName;       ///< "JMS578"; empty when no chip was recognised
  std::uint8_t revision = 0;  ///< the identification's revision
  /// The identity block's revision digit ('1'), where the block was read.
  std::optional<char> revisionDigit;
  /// The version bytes of the identity block, where it was read for a chip this tool updates:
  /// only for those does the tool know what the bytes mean.
  std::optional<FirmwareVersion> reported;
  bool bootRom = false;  ///< the identity block says the boot ROM runs: no firmware
  std::string release;   ///< the catalogue's name of the running version; empty when none

  /// The running version: what the identity block reports while firmware runs.
  std::optional<FirmwareVersion> running() const;
};

/// An enclosure whose identity block was not read.
EnclosureFacts DescribeEnclosure(BridgeInfo info);
/// An enclosure whose identity block was read: its version, where the block says firmware runs.
EnclosureFacts DescribeEnclosure(BridgeInfo info, const std::optional<FirmwareVersion>& reported,
                                 bool bootRom);
/// An enclosure and the identity block it answered with.
EnclosureFacts DescribeEnclosure(BridgeInfo info, const BridgeIdentity& identity);

/// A firmware file, or the image this program carries.
struct FirmwareFacts {
  const ChipUpdate* chip = nullptr;  ///< the chip its header names; null for none of ours
  /// What a bridge of that chip reports once it runs the image; null when that cannot be told.
  std::optional<FirmwareVersion> version;
  std::string release;  ///< the catalogue's name of that version; empty when none
  std::size_t size = 0;
  std::string sha256;  ///< empty when the bytes are not at hand
};

/// A file's image: its chip and version from its header, its size and SHA-256.
FirmwareFacts DescribeFirmware(std::span<const std::uint8_t> image);
/// The same, where the image's SHA-256 (in hex) is known already.
FirmwareFacts DescribeFirmware(std::span<const std::uint8_t> image, std::string sha256);
/// The firmware images carries for chip: no size or SHA-256 where it is not carried.
FirmwareFacts DescribeCarriedFirmware(const ChipUpdate& chip, const ImageSource& images);

/// "JMS578": a served chip by the name it is sold under, any other by its chip code table text,
/// a code beyond the table as "chip code N".
std::string ChipName(std::uint8_t chipCode);
/// "JMS578 (chip code 19, revision 1)"; "not recognised" without a chip.
std::string ChipText(const EnclosureFacts& enclosure);
/// "0.0.1.2, release 234.01.00.02": the running version and, where named, its release. Only for
/// an enclosure with a running version.
std::string VersionWords(const EnclosureFacts& enclosure);
/// The same for the version of a file; "unknown" when it cannot be told.
std::string VersionWords(const FirmwareFacts& firmware);
/// "0.1.0.3": the file's version without its release; nothing when it cannot be told.
std::optional<std::string> VersionField(const FirmwareFacts& firmware);

}  // namespace korvane
