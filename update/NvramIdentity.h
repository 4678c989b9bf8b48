// Rewriting the maker's name in the identity fields of the bridge's NVRAM record.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "UpdateContext.h"

namespace korvane {

/// Bytes in the bridge's NVRAM record.
inline constexpr std::size_t kNvramRecordBytes = 512;

/// The identity fields of the NVRAM record: three 8-byte texts at these offsets.
inline constexpr std::array<std::size_t, 3> kIdentityFields{200, 208, 216};
inline constexpr std::size_t kIdentityFieldSize = 8;
/// The name searched for (after upper-casing the field) and the name written in its place.
inline constexpr std::string_view kMakerName = "JMICRON";
inline constexpr std::string_view kOwnName = "Korvane";

/// Reads the 512-byte record at nvramAddress, puts "Korvane" over the first "JMICRON" (any case)
/// of each identity field, writes the record back and compares it with a second read.
bool RewriteNvramIdentity(const UpdateContext& context, std::string_view path,
                          std::uint32_t nvramAddress);

/// The identity rewrite from a record read alike twice: agreed where it is given (a backup's
/// record, read twice alike), else two reads of the record here. Where the two reads differ, the
/// step fails before anything is written to the NVRAM. With agreed, the record is still read
/// once, as the rewrite always reads it; a read that differs from agreed is outvoted, and said
/// on the debug output.
bool RewriteAgreedNvramIdentity(const UpdateContext& context, std::string_view path,
                                std::uint32_t nvramAddress,
                                std::span<const std::uint8_t> agreed = {});

/// Writes record at nvramAddress and compares it with a second read: the last half of the
/// identity rewrite, and the whole of a restore.
bool WriteNvramRecord(const UpdateContext& context, std::string_view path,
                      std::uint32_t nvramAddress,
                      std::span<const std::uint8_t, kNvramRecordBytes> record);

/// The serial number string descriptor of an NVRAM record (length, 03, the text); empty when the
/// record holds none that fits.
std::vector<std::uint8_t> SerialDescriptor(std::span<const std::uint8_t> record);

}  // namespace korvane
