#include "ImageCheck.h"

#include <algorithm>
#include <string_view>

#include "ImageLayout.h"
#include "Text.h"

namespace korvane {
namespace {

using Bytes = std::span<const std::uint8_t>;
using Problem = std::optional<std::string>;

/// What the header's kind bytes must say.
enum class ImageKind : std::uint8_t { Firmware, Loader };

constexpr std::string_view kModelPrefix = "JMicron JMS";

/// An offset as "0x" and at least three upper-case hex digits: 0x004, 0x1FC, 0x103EC.
std::string Offset(std::size_t at) {
  constexpr std::string_view kDigits = "0123456789ABCDEF";
  std::string digits;
  for (std::size_t rest = at; rest != 0 || digits.size() < 3; rest >>= 4) {
    digits.insert(digits.begin(), kDigits[rest & 0xF]);
  }
  return "0x" + digits;
}

std::string Spaced(Bytes bytes) { return HexText(bytes, HexCase::Upper, " "); }

/// The count bytes at at; empty when they do not all lie inside image.
Bytes Field(Bytes image, std::size_t at, std::size_t count) {
  if (at > image.size() || count > image.size() - at) return {};
  return image.subspan(at, count);
}

bool Holds(Bytes image, std::size_t at, Bytes expected) {
  return std::ranges::equal(Field(image, at, expected.size()), expected);
}

/// "the <what> at <at> is <found> where <whose> has <expected>", or nothing when they agree.
Problem Mismatch(Bytes image, std::string_view what, std::size_t at, Bytes expected,
                 std::string_view whose) {
  if (Holds(image, at, expected)) return std::nullopt;
  return "the " + std::string(what) + " at " + Offset(at) + " is " +
         Spaced(Field(image, at, expected.size())) + " where " + std::string(whose) + " has " +
         Spaced(expected);
}

std::string_view KindName(ImageKind kind) {
  return kind == ImageKind::Firmware ? "firmware" : "loader";
}

std::string Whose(const ChipUpdate& chip, ImageKind kind) {
  return "a " + std::string(chip.chipName) + " " + std::string(KindName(kind)) + " image";
}

Problem SizeProblem(const ChipUpdate& chip, ImageKind kind, std::uintmax_t size,
                    std::uintmax_t expected) {
  if (size == expected) return std::nullopt;
  return "the image has " + std::to_string(size) + " bytes where " + Whose(chip, kind) + " has " +
         std::to_string(expected);
}

std::array<std::uint8_t, 2> ChipNumberBytes(std::uint16_t number) {
  return {static_cast<std::uint8_t>(number >> 8), static_cast<std::uint8_t>(number)};
}

/// Another chip of ours whose number image carries, or null.
const ChipUpdate* OtherChipOf(const ChipUpdate& chip, Bytes image) {
  const ChipUpdate* other = ChipOfImage(image);
  return other != nullptr && other->chipNumber != chip.chipNumber ? other : nullptr;
}

Problem ChipNumberProblem(const ChipUpdate& chip, Bytes image) {
  const std::array<std::uint8_t, 2> expected = ChipNumberBytes(chip.chipNumber);
  if (Holds(image, kImageChipNumberAt, expected)) return std::nullopt;
  const ChipUpdate* other = OtherChipOf(chip, image);
  if (other == nullptr) {
    return Mismatch(image, "chip number", kImageChipNumberAt, expected,
                    "a " + std::string(chip.chipName) + " image");
  }
  return "the chip number at " + Offset(kImageChipNumberAt) + " is " +
         Spaced(Field(image, kImageChipNumberAt, expected.size())) + ": an image for a " +
         std::string(other->chipName) + ", not a " + std::string(chip.chipName);
}

Problem KindProblem(Bytes image, ImageKind kind) {
  const bool firmware = kind == ImageKind::Firmware;
  const Bytes expected = firmware ? Bytes(kFirmwareKind) : Bytes(kLoaderKind);
  const Bytes opposite = firmware ? Bytes(kLoaderKind) : Bytes(kFirmwareKind);
  if (!Holds(image, kImageKindAt, opposite)) {
    return Mismatch(image, "kind", kImageKindAt, expected,
                    "a " + std::string(KindName(kind)) + " image");
  }
  const ImageKind other = firmware ? ImageKind::Loader : ImageKind::Firmware;
  return "the kind at " + Offset(kImageKindAt) + " is " + Spaced(opposite) + ": a " +
         std::string(KindName(other)) + " image, not a " + std::string(KindName(kind)) + " image";
}

Problem ModelProblem(const ChipUpdate& chip, Bytes image) {
  const std::string expected = ImageModelText(chip);
  const Bytes found = Field(image, kImageModelAt, kImageModelSize);
  if (std::ranges::equal(found, expected)) return std::nullopt;
  const std::string text(found.begin(), found.end());
  return "the model text at " + Offset(kImageModelAt) + " is \"" + Printable(text) + "\" where a " +
         std::string(chip.chipName) + " image has \"" + expected + "\"";
}

Problem OneProblem(Bytes image) {
  static constexpr std::array<std::uint8_t, 1> kOne{0x01};
  return Mismatch(image, "byte", kImageOneAt, kOne, "an image");
}

/// The header's fields in their order: 01 00, vendor id, chip number, kind, model text, 01.
Problem HeaderProblem(const ChipUpdate& chip, Bytes image, ImageKind kind) {
  if (Problem problem = Mismatch(image, "start", 0, kImageStart, "an image")) return problem;
  if (Problem problem =
          Mismatch(image, "USB vendor id", kImageUsbVendorAt, kImageUsbVendor, "an image")) {
    return problem;
  }
  if (Problem problem = ChipNumberProblem(chip, image)) return problem;
  if (Problem problem = KindProblem(image, kind)) return problem;
  if (Problem problem = ModelProblem(chip, image)) return problem;
  return OneProblem(image);
}

/// "the version copies disagree" when the copy at at is not the version at 0x019.
Problem VersionCopyProblem(Bytes image, std::size_t at) {
  const Bytes version = Field(image, kImageVersionAt, kImageVersionSize);
  if (Holds(image, at, version)) return std::nullopt;
  return "the version copies disagree: " + Spaced(Field(image, at, kImageVersionSize)) + " at " +
         Offset(at) + ", " + Spaced(version) + " at " + Offset(kImageVersionAt);
}

/// The fields inside the second block: the signature the boot code starts an image by and, on the
/// JMS583, the version's copy. The bridge's stamp lies between them and is not judged.
Problem SecondBlockProblem(const ChipUpdate& chip, Bytes image) {
  if (Problem problem =
          Mismatch(image, "signature", kImageSignatureAt, kImageSignature, "a firmware image")) {
    return problem;
  }
  if (!RepeatsVersionInSecondBlock(chip)) return std::nullopt;
  return VersionCopyProblem(image, kImageSecondBlockVersionAt);
}

/// The version again and, on the JMS578, the trailer, at the end of the firmware area.
Problem AreaEndProblem(const ChipUpdate& chip, Bytes image) {
  const std::size_t area = chip.firmwareArea;
  if (area < kImageTailVersionBack) return "the firmware area is shorter than its fields";
  if (Problem problem = VersionCopyProblem(image, area - kImageTailVersionBack)) return problem;
  if (!EndsWithTrailer(chip)) return std::nullopt;
  return Mismatch(image, "trailer", area - kImageTrailerBack, kJms578Trailer,
                  "a " + std::string(chip.chipName) + " image");
}

}  // namespace

std::optional<std::string> FirmwareImageSizeProblem(const ChipUpdate& chip, std::uintmax_t size) {
  return SizeProblem(chip, ImageKind::Firmware, size, chip.firmwareImageSize);
}

std::optional<std::string> LoaderImageSizeProblem(const ChipUpdate& chip, std::uintmax_t size) {
  return SizeProblem(chip, ImageKind::Loader, size, chip.loaderSize);
}

std::optional<std::string> FirmwareImageProblem(const ChipUpdate& chip,
                                                std::span<const std::uint8_t> image,
                                                ImageJudgement) {
  if (Problem problem = FirmwareImageSizeProblem(chip, image.size())) return problem;
  if (Problem problem = HeaderProblem(chip, image, ImageKind::Firmware)) return problem;
  if (Problem problem = SecondBlockProblem(chip, image)) return problem;
  return AreaEndProblem(chip, image);
}

std::optional<std::string> LoaderImageProblem(const ChipUpdate& chip,
                                              std::span<const std::uint8_t> image) {
  if (Problem problem = LoaderImageSizeProblem(chip, image.size())) return problem;
  return HeaderProblem(chip, image, ImageKind::Loader);
}

const ChipUpdate* ChipOfImage(std::span<const std::uint8_t> image) {
  if (image.size() < kImageHeaderSize) return nullptr;
  for (const ChipUpdate& chip : kChipUpdates) {
    if (Holds(image, kImageChipNumberAt, ChipNumberBytes(chip.chipNumber))) return &chip;
  }
  return nullptr;
}

std::optional<std::array<std::uint8_t, 4>> ImageVersion(std::span<const std::uint8_t> image) {
  const Bytes field = Field(image, kImageVersionAt, kImageVersionSize);
  if (field.empty()) return std::nullopt;
  std::array<std::uint8_t, 4> version{};
  std::ranges::copy(field, version.begin());
  return version;
}

bool RepeatsVersionInSecondBlock(const ChipUpdate& chip) {
  return chip.chipCode == kChipCodeJms583;
}

bool EndsWithTrailer(const ChipUpdate& chip) { return chip.chipCode == kChipCodeJms578; }

std::string ImageModelText(const ChipUpdate& chip) {
  // The last three hex digits of the chip number: 0x0583 ends the text with "583".
  constexpr std::string_view kDigits = "0123456789ABCDEF";
  std::string text(kModelPrefix);
  for (int shift = 8; shift >= 0; shift -= 4) text += kDigits[(chip.chipNumber >> shift) & 0xF];
  return text;
}

std::optional<std::array<std::uint8_t, 4>> RunningVersionOf(const ChipUpdate& chip,
                                                            std::span<const std::uint8_t> image) {
  const auto version = ImageVersion(image);
  if (!version) return std::nullopt;
  return RunningVersionOf(chip, *version);
}

std::optional<std::array<std::uint8_t, 4>> RunningVersionOf(const ChipUpdate& chip,
                                                            std::array<std::uint8_t, 4> header) {
  if (chip.chipCode == kChipCodeJms583) return header;
  for (std::uint8_t& digit : header) {
    if (digit < '0' || digit > '9') return std::nullopt;
    digit = static_cast<std::uint8_t>(digit - '0');
  }
  return header;
}

std::optional<std::array<std::uint8_t, 4>> CarriedRunningVersion(const ChipUpdate& chip) {
  for (const CatalogueImage& image : kCatalogueImages) {
    if (image.chip == chip.chipName && image.use == ImageUse::Offered) {
      return RunningVersionOf(chip, image.version);
    }
  }
  return std::nullopt;
}

std::string_view ReleaseOf(const ChipUpdate& chip, const std::array<std::uint8_t, 4>& running) {
  for (const CatalogueImage& image : kCatalogueImages) {
    if (image.chip != chip.chipName || image.offeredVersion.empty()) continue;
    if (RunningVersionOf(chip, image.version) == running) return image.offeredVersion;
  }
  return {};
}

}  // namespace korvane
