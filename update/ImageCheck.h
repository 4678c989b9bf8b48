// What a firmware file must hold before anything of it goes to a bridge: the size of the chip's
// whole image and the fixed fields of its layout. One definition serves korvane-fw's
// `update --image`, the judgement of a backup read from a bridge, and the build's check of a
// vendor's images.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "ChipUpdate.h"

namespace korvane {

/// Where a firmware image comes from. Both are judged alike: of the second block, a bridge
/// rewrites only its stamp (kBridgeStampAt), which holds no judged field, and a backup whose
/// signature or version copy is broken would leave the bridge in its boot ROM as surely as a file.
enum class ImageJudgement : std::uint8_t {
  Whole,   ///< a file to write
  Backup,  ///< read from a bridge
};

/// Why a file of size bytes cannot be the chip's firmware image, naming both sizes; nothing when
/// the size is right. A file's size can be judged before any of it is read.
std::optional<std::string> FirmwareImageSizeProblem(const ChipUpdate& chip, std::uintmax_t size);

/// Why a file of size bytes cannot be the chip's loader image; nothing when the size is right.
std::optional<std::string> LoaderImageSizeProblem(const ChipUpdate& chip, std::uintmax_t size);

/// Why image is not a firmware image of chip, naming the field and its offset, what it holds and
/// what it should ("the chip number at 0x004 is 05 79: an image for a JMS578, not a JMS583"), the
/// first problem of: the size, the header, the signature and the version's copy in the second
/// block, the version's copy before the area's end, the JMS578 trailer. Nothing when it is one.
std::optional<std::string> FirmwareImageProblem(const ChipUpdate& chip,
                                                std::span<const std::uint8_t> image,
                                                ImageJudgement judgement = ImageJudgement::Whole);

/// Why image is not the chip's loader image; nothing when it is one.
std::optional<std::string> LoaderImageProblem(const ChipUpdate& chip,
                                              std::span<const std::uint8_t> image);

/// The chip whose number sits in image's header; null when none of ours does, or the image is
/// shorter than its header.
const ChipUpdate* ChipOfImage(std::span<const std::uint8_t> image);

/// The four version bytes at 0x019; an image shorter than its header has none.
std::optional<std::array<std::uint8_t, 4>> ImageVersion(std::span<const std::uint8_t> image);

/// The version a bridge of the chip reports once it runs the image: the JMS583 reports the four
/// bytes at 0x019 as they are, the JMS578 the value of each of its four digits; nothing for an
/// image without a version, or a JMS578 image whose version is not four digits.
std::optional<std::array<std::uint8_t, 4>> RunningVersionOf(const ChipUpdate& chip,
                                                            std::span<const std::uint8_t> image);
/// The same for the four version bytes of an image's header.
std::optional<std::array<std::uint8_t, 4>> RunningVersionOf(const ChipUpdate& chip,
                                                            std::array<std::uint8_t, 4> header);

/// The version a bridge of the chip reports once it runs the firmware this program carries.
std::optional<std::array<std::uint8_t, 4>> CarriedRunningVersion(const ChipUpdate& chip);

/// The release name the firmware catalogue gives the running version ("234.01.00.02" for the
/// JMS583's 0.0.1.2); empty when the catalogue names no release with those bytes.
std::string_view ReleaseOf(const ChipUpdate& chip, const std::array<std::uint8_t, 4>& running);

/// True when the chip's firmware image repeats its version at 0x208, in the second block (JMS583).
bool RepeatsVersionInSecondBlock(const ChipUpdate& chip);

/// True when the chip's firmware area ends with kJms578Trailer 0x10 bytes before its end (JMS578).
bool EndsWithTrailer(const ChipUpdate& chip);

/// The 14-byte text after the kind bytes: "JMicron JMS583" for the JMS583, whose number it ends
/// with ("JMicron JMS579" for the JMS578).
std::string ImageModelText(const ChipUpdate& chip);

}  // namespace korvane
