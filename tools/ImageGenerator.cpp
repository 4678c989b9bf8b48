// korvane-imagegen [--no-marker] <outdir>: writes the development firmware and loader images
// that a build without the vendor's images carries, one file <resource name>.bin per carried
// image of the firmware catalogue.
// --no-marker writes the same images with a neutral label instead of kDevelopmentMarker: the
// kernel rig carries them as if they were the vendor's, since its enclosures are real USB devices
// to the program and the guard keeps development images away from every real device.
//
// The images have the bridges' layout so that the update handles them like the real ones, but
// their code is filler that says what it is: every 1024-byte block of the code region starts
// with kDevelopmentMarker and the image's name, and the rest comes from a xorshift sequence
// seeded by the name. Nothing depends on time, locale or the host's integer sizes, so every run
// on every host writes the same bytes.
//
// The bridges' own check values are not known to us; ours are CRC-32 (reflected, polynomial
// 0xEDB88320), stored high byte first, each over bytes written before it:
//   firmware image (F: firmware area size)
//     0x1FC   over 0x000-0x1FB
//     F-8     over 0x400 up to F-9: the code, the version and the trailer
//     F-4     over 0x000-0x1FF and 0x400 up to F-5: the area without the second block, which
//             carries a copy of this value at 0x208
//     0x3FC   over 0x200-0x3FB, once that copy is in place
//   loader image (L: 0x10000)
//     0x1F8   over 0x000-0x1F7
//     0x1FC   over 0x000-0x1FB
//     0x3FC   over 0x200-0x3FB
//     L-8     over 0x400 up to L-9
//     L-4     over 0x000-0x1FF and 0x400 up to L-5

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "FirmwareCatalogue.h"
#include "ImageLayout.h"
#include "ImageSource.h"

namespace korvane {
namespace {

using Image = std::vector<std::uint8_t>;
using Version = std::array<std::uint8_t, 4>;

constexpr std::uint16_t kUsbVendor = 0x152D;
constexpr std::size_t kUsbVendorAt = 0x002;
constexpr std::size_t kModelAt = 0x00A;
constexpr std::size_t kModelSize = 14;
constexpr std::size_t kHeaderOneAt = 0x018;
constexpr std::size_t kFirstCheckAt = 0x1FC;
constexpr std::size_t kLoaderExtraCheckAt = 0x1F8;
constexpr std::size_t kSecondBlockCopyAt = 0x208;
constexpr std::size_t kSecondCheckAt = 0x3FC;
constexpr std::size_t kCodeBegin = 0x400;
// Offsets back from the end of the firmware area (or of the loader image).
constexpr std::size_t kTailVersionBack = 0x14;
constexpr std::size_t kTailTrailerBack = 0x10;
constexpr std::size_t kTailCodeCheckBack = 0x08;
constexpr std::size_t kTailAreaCheckBack = 0x04;

constexpr std::array<std::uint8_t, 8> kJms578Trailer{0x55, 0xAA, 0xAA, 0x55, '5', '7', '8', '0'};

/// The identity an image's NVRAM template carries.
struct NvramFields {
  std::uint16_t usbProduct;
  std::string_view product;
};

/// What a development image of a chip looks like beyond the catalogue's numbers.
struct ChipLook {
  std::string_view chip;
  std::string_view model;
  bool jms578;  ///< JMS578 order of the 0x208 fields and its trailer
  NvramFields nvram;
};

constexpr std::array<ChipLook, 2> kChipLooks{{
    {"JMS578", "JMicron JMS579", true, {0x0578, "USB to ATA/ATAPI Bridge"}},
    {"JMS583", "JMicron JMS583", false, {0x0583, "USB to PCIE Bridge"}},
}};

// A bridge reports the version of the firmware it runs, and "0103" is one that the JMS578 version
// rules offer to replace: the catalogue's JMS578 image carries "0214", or it would be offered
// again after every update.

/// What sets one firmware image apart from the others.
struct FirmwareImage {
  std::string_view name;
  std::uint16_t chipNumber;
  std::string_view model;
  Version version;
  std::size_t area;  ///< F, the bytes written to the bridge
  bool jms578;       ///< JMS578 order of the 0x208 fields and its trailer
  NvramFields nvram;
};

/// What the loader image is made of.
struct LoaderImage {
  std::string_view name;
  std::uint16_t chipNumber;
  std::string_view model;
  Version version;
  std::size_t size;
};

/// A half-open range of image offsets.
struct Range {
  std::size_t begin;
  std::size_t end;
};

void Put(Image& image, std::size_t at, std::span<const std::uint8_t> bytes) {
  if (at > image.size() || bytes.size() > image.size() - at)
    throw std::out_of_range("field at " + std::to_string(at) + " runs past the image");
  std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
}

void PutText(Image& image, std::size_t at, std::string_view text) {
  const std::vector<std::uint8_t> bytes(text.begin(), text.end());
  Put(image, at, bytes);
}

void PutBigEndian16(Image& image, std::size_t at, std::uint16_t value) {
  const std::array<std::uint8_t, 2> bytes{static_cast<std::uint8_t>(value >> 8),
                                          static_cast<std::uint8_t>(value)};
  Put(image, at, bytes);
}

void PutLittleEndian16(Image& image, std::size_t at, std::uint16_t value) {
  const std::array<std::uint8_t, 2> bytes{static_cast<std::uint8_t>(value),
                                          static_cast<std::uint8_t>(value >> 8)};
  Put(image, at, bytes);
}

void PutBigEndian32(Image& image, std::size_t at, std::uint32_t value) {
  const std::array<std::uint8_t, 4> bytes{
      static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
      static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
  Put(image, at, bytes);
}

std::uint32_t Crc32(const Image& image, std::initializer_list<Range> ranges) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const Range range : ranges) {
    for (std::size_t at = range.begin; at < range.end; ++at) {
      crc ^= image.at(at);
      for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
  }
  return crc ^ 0xFFFFFFFFu;
}

void PutCheckValue(Image& image, std::size_t at, std::initializer_list<Range> ranges) {
  PutBigEndian32(image, at, Crc32(image, ranges));
}

/// Bytes 0x000-0x01C: 01 00, vendor id, chip number, kind bytes, model text, 01, version.
void PutHeader(Image& image, std::uint16_t chipNumber, std::span<const std::uint8_t> kind,
               std::string_view model, const Version& version) {
  const std::array<std::uint8_t, 2> start{0x01, 0x00};
  Put(image, 0, start);
  PutBigEndian16(image, kUsbVendorAt, kUsbVendor);
  PutBigEndian16(image, kImageChipNumberAt, chipNumber);
  Put(image, kImageKindAt, kind);
  if (model.size() != kModelSize) throw std::invalid_argument("model text must have 14 bytes");
  PutText(image, kModelAt, model);
  const std::array<std::uint8_t, 1> one{0x01};
  Put(image, kHeaderOneAt, one);
  Put(image, kImageVersionAt, version);
}

/// Seeds the filler from the image's name (FNV-1a), so each image has its own code bytes.
std::uint32_t Seed(std::string_view name) {
  std::uint32_t hash = 0x811C9DC5u;
  for (const char c : name) hash = (hash ^ static_cast<std::uint8_t>(c)) * 0x01000193u;
  return hash != 0 ? hash : 1;
}

std::uint8_t NextFillerByte(std::uint32_t& state) {
  state ^= state << 13;
  state ^= state >> 17;
  state ^= state << 5;
  return static_cast<std::uint8_t>(state >> 24);
}

/// What opens each block of the code region: the development marker, or the rig's neutral label.
constexpr std::string_view kRigLabel = "KORVANE RIG TEST IMAGE";

/// Fills the code region; each block opens with the label where the whole label fits.
void FillCode(Image& image, Range code, std::string_view name, std::string_view label) {
  const std::string marker = std::string(label) + " " + std::string(name) + " ";
  std::uint32_t state = Seed(name);
  for (std::size_t block = code.begin; block < code.end; block += kImageBlockSize) {
    const std::size_t blockEnd = std::min(block + kImageBlockSize, code.end);
    std::size_t at = block;
    if (marker.size() <= blockEnd - block) {
      PutText(image, at, marker);
      at += marker.size();
    }
    for (; at < blockEnd; ++at) image.at(at) = NextFillerByte(state);
  }
}

/// A USB string descriptor with one byte per character: length, type 03, the characters.
void PutStringDescriptor(Image& image, std::size_t at, std::string_view text) {
  const std::array<std::uint8_t, 2> head{static_cast<std::uint8_t>(text.size() + 2), 0x03};
  Put(image, at, head);
  PutText(image, at + head.size(), text);
}

/// The 512-byte NVRAM record the bridge starts from, placed after the firmware area.
void PutNvramTemplate(Image& image, std::size_t at, const NvramFields& fields) {
  PutLittleEndian16(image, at + 0x00, kUsbVendor);
  PutLittleEndian16(image, at + 0x02, fields.usbProduct);
  PutStringDescriptor(image, at + 0x0C, "JMicron");
  PutStringDescriptor(image, at + 0x30, fields.product);
  PutStringDescriptor(image, at + 0x54, "0123456789ABCDEF");
  PutText(image, at + 200, "JMicron ");
  PutText(image, at + 208, "Generic");  // the rest of its 16 bytes stays zero
}

/// The version again, then the code and whole-area check values, before end.
void PutTail(Image& image, std::size_t end, const Version& version) {
  Put(image, end - kTailVersionBack, version);
  PutCheckValue(image, end - kTailCodeCheckBack, {{kCodeBegin, end - kTailCodeCheckBack}});
  PutCheckValue(image, end - kTailAreaCheckBack,
                {{0, kSecondBlockBegin}, {kCodeBegin, end - kTailAreaCheckBack}});
}

/// The second block's fields: JMS583 has the version then the area's check value, JMS578 the
/// check value then zeros.
void PutSecondBlockCopy(Image& image, const FirmwareImage& plan) {
  std::array<std::uint8_t, 4> value{};
  std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(plan.area - kTailAreaCheckBack), 4,
              value.begin());
  if (plan.jms578) {
    Put(image, kSecondBlockCopyAt, value);
  } else {
    Put(image, kSecondBlockCopyAt, plan.version);
    Put(image, kSecondBlockCopyAt + 4, value);
  }
}

// Each check value is written once every byte it covers is final; the second block's comes last
// because it holds a copy of the area's.
Image BuildFirmware(const FirmwareImage& plan, std::string_view label) {
  Image image(plan.area + kNvramTemplateSize, 0);
  PutHeader(image, plan.chipNumber, kFirmwareKind, plan.model, plan.version);
  PutCheckValue(image, kFirstCheckAt, {{0, kFirstCheckAt}});
  Put(image, kImageSignatureAt, kImageSignature);
  FillCode(image, {kCodeBegin, plan.area - kTailVersionBack}, plan.name, label);
  if (plan.jms578) Put(image, plan.area - kTailTrailerBack, kJms578Trailer);
  PutTail(image, plan.area, plan.version);
  PutSecondBlockCopy(image, plan);
  PutCheckValue(image, kSecondCheckAt, {{kSecondBlockBegin, kSecondCheckAt}});
  PutNvramTemplate(image, plan.area, plan.nvram);
  return image;
}

Image BuildLoader(const LoaderImage& plan, std::string_view label) {
  Image image(plan.size, 0);
  PutHeader(image, plan.chipNumber, kLoaderKind, plan.model, plan.version);
  PutCheckValue(image, kLoaderExtraCheckAt, {{0, kLoaderExtraCheckAt}});
  PutCheckValue(image, kFirstCheckAt, {{0, kFirstCheckAt}});
  PutCheckValue(image, kSecondCheckAt, {{kSecondBlockBegin, kSecondCheckAt}});
  FillCode(image, {kCodeBegin, plan.size - kTailVersionBack}, plan.name, label);
  PutTail(image, plan.size, plan.version);
  return image;
}

/// Writes one image; false, with the reason on stderr, when the file could not be written whole.
bool WriteImage(const std::filesystem::path& folder, std::string_view name, const Image& image) {
  const std::filesystem::path path = folder / (std::string(name) + ".bin");
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.data()),
            static_cast<std::streamsize>(image.size()));
  out.close();
  if (!out) std::cerr << "korvane-imagegen: cannot write " << path.string() << '\n';
  return static_cast<bool>(out);
}

const CatalogueChip& ChipOf(const CatalogueImage& row) {
  for (const CatalogueChip& chip : kCatalogueChips) {
    if (chip.name == row.chip) return chip;
  }
  throw std::invalid_argument(std::string(row.name) + ": the catalogue has no chip row for it");
}

const ChipLook& LookOf(const CatalogueImage& row) {
  for (const ChipLook& look : kChipLooks) {
    if (look.chip == row.chip) return look;
  }
  throw std::invalid_argument(std::string(row.name) + ": no development look for its chip");
}

/// The image of one carried catalogue row.
Image BuildRow(const CatalogueImage& row, std::string_view label) {
  const CatalogueChip& chip = ChipOf(row);
  const ChipLook& look = LookOf(row);
  if (row.use != ImageUse::Offered && row.use != ImageUse::Earlier) {
    return BuildLoader({row.name, chip.chipNumber, look.model, row.version, row.size}, label);
  }
  if (row.size != chip.firmwareArea + kNvramTemplateSize) {
    throw std::invalid_argument(std::string(row.name) + ": its size is not the firmware area " +
                                "and the NVRAM template");
  }
  return BuildFirmware({row.name, chip.chipNumber, look.model, row.version, chip.firmwareArea,
                        look.jms578, look.nvram},
                       label);
}

bool WriteAll(const std::filesystem::path& folder, std::string_view label) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    std::cerr << "korvane-imagegen: cannot create " << folder.string() << ": " << error.message()
              << '\n';
    return false;
  }
  bool written = true;
  for (const CatalogueImage& row : kCatalogueImages) {
    if (row.carried) written = WriteImage(folder, row.name, BuildRow(row, label)) && written;
  }
  return written;
}

}  // namespace
}  // namespace korvane

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  const bool unmarked = args.size() == 2 && args[0] == "--no-marker";
  if (args.size() != 1 && !unmarked) {
    std::cerr << "usage: korvane-imagegen [--no-marker] <outdir>\n";
    return 2;
  }
  const std::string_view label = unmarked ? korvane::kRigLabel : korvane::kDevelopmentMarker;
  try {
    return korvane::WriteAll(std::string(args.back()), label) ? 0 : 1;
  } catch (const std::exception& error) {
    std::cerr << "korvane-imagegen: " << error.what() << '\n';
    return 1;
  }
}
