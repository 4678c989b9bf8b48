// korvane-imagegen [--no-marker] <outdir>: writes the development firmware and loader images
// that a build without the vendor's images carries, one file <resource name>.bin per carried
// image of the firmware catalogue.
// korvane-imagegen --check <folder>: judges the carried images in a folder of the vendor's, as
// the update judges an image before it writes it (update/ImageCheck.h), and names each file's
// first problem; the build runs it before it embeds them.
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
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "ChipUpdate.h"
#include "ImageCheck.h"
#include "ImageLayout.h"
#include "ImageSource.h"

namespace korvane {
namespace {

using Image = std::vector<std::uint8_t>;
using Version = std::array<std::uint8_t, 4>;

constexpr std::uint16_t kUsbVendor = 0x152D;
constexpr std::size_t kFirstCheckAt = 0x1FC;
constexpr std::size_t kLoaderExtraCheckAt = 0x1F8;
constexpr std::size_t kSecondCheckAt = 0x3FC;
constexpr std::size_t kCodeBegin = 0x400;
// Offsets back from the end of the firmware area (or of the loader image).
constexpr std::size_t kTailCodeCheckBack = 0x08;
constexpr std::size_t kTailAreaCheckBack = 0x04;

/// The identity an image's NVRAM template carries.
struct NvramFields {
  std::uint16_t usbProduct;
  std::string_view product;
};

/// What a development image of a chip holds beyond the catalogue's numbers and the fields the
/// image check asks for.
struct ChipLook {
  std::string_view chip;
  NvramFields nvram;
};

constexpr std::array<ChipLook, 2> kChipLooks{{
    {"JMS578", {0x0578, "USB to ATA/ATAPI Bridge"}},
    {"JMS583", {0x0583, "USB to PCIE Bridge"}},
}};

// A bridge reports the version of the firmware it runs, and "0103" is one that the JMS578 version
// rules offer to replace: the catalogue's JMS578 image carries "0214", or it would be offered
// again after every update.

/// What sets one firmware image apart from the others.
struct FirmwareImage {
  std::string_view name;
  std::uint16_t chipNumber;
  std::string model;
  Version version;
  std::size_t area;      ///< F, the bytes written to the bridge
  bool versionInSecond;  ///< the version at 0x208, before the area's check value
  bool trailer;          ///< kJms578Trailer before the area's end
  NvramFields nvram;
};

/// What the loader image is made of.
struct LoaderImage {
  std::string_view name;
  std::uint16_t chipNumber;
  std::string model;
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
  Put(image, 0, kImageStart);
  Put(image, kImageUsbVendorAt, kImageUsbVendor);
  PutBigEndian16(image, kImageChipNumberAt, chipNumber);
  Put(image, kImageKindAt, kind);
  if (model.size() != kImageModelSize) throw std::invalid_argument("model text must have 14 bytes");
  PutText(image, kImageModelAt, model);
  const std::array<std::uint8_t, 1> one{0x01};
  Put(image, kImageOneAt, one);
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
  Put(image, end - kImageTailVersionBack, version);
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
  if (plan.versionInSecond) {
    Put(image, kImageSecondBlockVersionAt, plan.version);
    Put(image, kImageSecondBlockVersionAt + plan.version.size(), value);
  } else {
    Put(image, kImageSecondBlockVersionAt, value);
  }
}

// Each check value is written once every byte it covers is final; the second block's comes last
// because it holds a copy of the area's.
Image BuildFirmware(const FirmwareImage& plan, std::string_view label) {
  Image image(plan.area + kNvramTemplateSize, 0);
  PutHeader(image, plan.chipNumber, kFirmwareKind, plan.model, plan.version);
  PutCheckValue(image, kFirstCheckAt, {{0, kFirstCheckAt}});
  Put(image, kImageSignatureAt, kImageSignature);
  FillCode(image, {kCodeBegin, plan.area - kImageTailVersionBack}, plan.name, label);
  if (plan.trailer) Put(image, plan.area - kImageTrailerBack, kJms578Trailer);
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
  FillCode(image, {kCodeBegin, plan.size - kImageTailVersionBack}, plan.name, label);
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

const ChipUpdate& ChipOf(const CatalogueImage& row) {
  for (const ChipUpdate& chip : kChipUpdates) {
    if (chip.chipName == row.chip) return chip;
  }
  throw std::invalid_argument(std::string(row.name) + ": the catalogue has no chip row for it");
}

bool IsFirmware(const CatalogueImage& row) {
  return row.use == ImageUse::Offered || row.use == ImageUse::Earlier;
}

/// Why image is not what the row names; nothing when it is.
std::optional<std::string> RowProblem(const CatalogueImage& row,
                                      std::span<const std::uint8_t> image) {
  const ChipUpdate& chip = ChipOf(row);
  return IsFirmware(row) ? FirmwareImageProblem(chip, image) : LoaderImageProblem(chip, image);
}

const ChipLook& LookOf(const CatalogueImage& row) {
  for (const ChipLook& look : kChipLooks) {
    if (look.chip == row.chip) return look;
  }
  throw std::invalid_argument(std::string(row.name) + ": no development look for its chip");
}

/// The image of one carried catalogue row.
Image BuildRow(const CatalogueImage& row, std::string_view label) {
  const ChipUpdate& chip = ChipOf(row);
  if (!IsFirmware(row)) {
    return BuildLoader({row.name, chip.chipNumber, ImageModelText(chip), row.version, row.size},
                       label);
  }
  if (row.size != chip.firmwareArea + kNvramTemplateSize) {
    throw std::invalid_argument(std::string(row.name) + ": its size is not the firmware area " +
                                "and the NVRAM template");
  }
  return BuildFirmware(
      {row.name, chip.chipNumber, ImageModelText(chip), row.version, chip.firmwareArea,
       RepeatsVersionInSecondBlock(chip), EndsWithTrailer(chip), LookOf(row).nvram},
      label);
}

/// The row's image, which the update's own check must accept.
Image BuildCheckedRow(const CatalogueImage& row, std::string_view label) {
  Image image = BuildRow(row, label);
  if (const std::optional<std::string> problem = RowProblem(row, image)) {
    throw std::logic_error(std::string(row.name) + ": the image check refuses it: " + *problem);
  }
  return image;
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
    if (row.carried) written = WriteImage(folder, row.name, BuildCheckedRow(row, label)) && written;
  }
  return written;
}

/// The bytes of a file of size bytes; nothing when it cannot be read whole.
std::optional<Image> ReadExactly(const std::filesystem::path& path, std::uintmax_t size) {
  Image image(static_cast<std::size_t>(size));
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(image.data()), static_cast<std::streamsize>(image.size()));
  if (!in || static_cast<std::uintmax_t>(in.gcount()) != size) return std::nullopt;
  return image;
}

/// What is wrong with the file of a carried row; nothing when the update would take it. Its size
/// is judged before anything is read, so a file of any size costs no more than the image.
std::optional<std::string> FileProblem(const std::filesystem::path& path,
                                       const CatalogueImage& row) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return "missing";
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return "cannot be read: " + error.message();
  const ChipUpdate& chip = ChipOf(row);
  std::optional<std::string> problem =
      IsFirmware(row) ? FirmwareImageSizeProblem(chip, size) : LoaderImageSizeProblem(chip, size);
  if (problem) return problem;
  const std::optional<Image> image = ReadExactly(path, size);
  if (!image) return "cannot be read";
  return RowProblem(row, *image);
}

/// Judges every carried image in folder, naming each file that fails and its first problem.
bool CheckAll(const std::filesystem::path& folder) {
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) {
    std::cerr << "korvane-imagegen: " << folder.string() << ": not a folder\n";
    return false;
  }
  std::size_t checked = 0;
  std::size_t failed = 0;
  for (const CatalogueImage& row : kCatalogueImages) {
    if (!row.carried) continue;
    ++checked;
    const std::filesystem::path path = folder / (std::string(row.name) + ".bin");
    if (const std::optional<std::string> problem = FileProblem(path, row)) {
      std::cerr << path.string() << ": " << *problem << '\n';
      ++failed;
    }
  }
  if (failed != 0) {
    std::cerr << "korvane-imagegen: " << folder.string()
              << ": images that fail the check: " << failed << " of " << checked << '\n';
    return false;
  }
  std::cout << folder.string() << ": the " << checked << " images pass their check\n";
  return true;
}

}  // namespace
}  // namespace korvane

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  const bool check = args.size() == 2 && args[0] == "--check";
  const bool unmarked = args.size() == 2 && args[0] == "--no-marker";
  if (args.size() != 1 && !check && !unmarked) {
    std::cerr << "usage: korvane-imagegen [--no-marker] <outdir>\n"
                 "       korvane-imagegen --check <folder>\n";
    return 2;
  }
  const std::string_view label = unmarked ? korvane::kRigLabel : korvane::kDevelopmentMarker;
  try {
    const std::filesystem::path folder = std::string(args.back());
    const bool done = check ? korvane::CheckAll(folder) : korvane::WriteAll(folder, label);
    return done ? 0 : 1;
  } catch (const std::exception& error) {
    std::cerr << "korvane-imagegen: " << error.what() << '\n';
    return 1;
  }
}
