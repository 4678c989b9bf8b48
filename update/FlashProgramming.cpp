#include "FlashProgramming.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "BridgeCommands.h"
#include "ByteOrder.h"
#include "ChipUpdate.h"
#include "ImageLayout.h"
#include "Text.h"

namespace korvane {
namespace {

constexpr std::uint8_t kBlockBoundary = 0x0A;  // offsets in multiples of 2^10 bytes
constexpr std::uint8_t kNoOffsets = 0xFF;      // the boot ROM takes no buffer offsets
constexpr std::size_t kDescriptorSize = 4;
constexpr std::size_t kExpectedRounding = 256;
constexpr std::size_t kStagingRounding = 512;
constexpr std::string_view kGuardCaption = "Error";

struct BufferDescriptor {
  std::uint8_t boundary = 0;
  std::uint32_t capacity = 0;
};

constexpr std::size_t RoundUp(std::size_t value, std::size_t unit) {
  return (value + unit - 1) / unit * unit;
}

/// Reads the buffer descriptor into a cleared answer; nothing when the command fails.
std::optional<BufferDescriptor> ReadDescriptor(Transport& io, std::string_view path) {
  std::array<std::uint8_t, kDescriptorSize> bytes{};
  if (!ReadBuffer(io, path, ReadBufferMode::Descriptor, BufferId::Firmware, 0, bytes)) {
    return std::nullopt;
  }
  const std::span<const std::uint8_t, kDescriptorSize> all(bytes);
  return BufferDescriptor{bytes[0], get_be24(all.subspan<1, 3>())};
}

std::string DescriptorText(const BufferDescriptor& descriptor) {
  return "offset boundary " + HexNumber(descriptor.boundary, HexCase::Upper) + ", capacity " +
         std::to_string(descriptor.capacity);
}

/// The descriptor a bridge must show before the first block: the boot ROM takes no offsets and
/// has the chip's ROM capacity; firmware takes offsets in whole blocks.
bool DescriptorAllowsStart(const UpdateContext& context, const BufferDescriptor& descriptor,
                           bool romMode, const ChipUpdate& chip) {
  const bool ok = romMode
                      ? descriptor.boundary == kNoOffsets && descriptor.capacity == chip.romCapacity
                      : descriptor.boundary == kBlockBoundary;
  if (ok) return true;
  const std::string wanted = romMode
                                 ? "offset boundary " + HexNumber(kNoOffsets, HexCase::Upper) +
                                       ", capacity " + std::to_string(chip.romCapacity)
                                 : "offset boundary " + HexNumber(kBlockBoundary, HexCase::Upper);
  NoteFailure(
      context, UpdateStep::Descriptor,
      "the bridge reports " + DescriptorText(descriptor) + " where " + wanted + " is required");
  return false;
}

/// Why a capacity cannot be written from image in whole blocks, or nothing when it can. The
/// capacity must cover the firmware area (a shorter buffer would take part of the image and leave
/// the bridge without bootable firmware) and fit the image buffer, which is also the size of the
/// read-back.
std::optional<std::string> CapacityProblem(std::uint32_t capacity, std::uint32_t length,
                                           std::size_t imageSize) {
  const std::size_t rounded = RoundUp(capacity, kStagingRounding);
  const std::string reported =
      "the bridge reports a buffer capacity of " + std::to_string(capacity);
  if (capacity == 0) return reported;
  if (rounded % kImageBlockSize != 0) return reported + ", not a whole number of 1024-byte blocks";
  if (capacity < length) {
    return reported + ", too small for the " + std::to_string(length) + "-byte firmware area";
  }
  if (rounded > imageSize) {
    return reported + ", more than the " + std::to_string(imageSize) + " bytes the image holds";
  }
  return std::nullopt;
}

/// A zero-filled staging buffer for the capacity, holding the first count bytes of image.
std::optional<AlignedBuffer> Stage(const UpdateContext& context, std::uint32_t capacity,
                                   std::span<const std::uint8_t> image, std::size_t count,
                                   std::uint32_t length) {
  if (const auto problem = CapacityProblem(capacity, length, image.size())) {
    NoteFailure(context, UpdateStep::Descriptor, *problem);
    return std::nullopt;
  }
  std::optional<AlignedBuffer> staging;
  staging.emplace(RoundUp(capacity, kStagingRounding));
  if (!staging->valid()) {
    NoteFailure(context, UpdateStep::WriteBlock, "out of memory for the staging buffer");
    return std::nullopt;
  }
  const std::span<std::uint8_t> bytes = staging->bytes();
  std::copy_n(image.begin(), std::min({count, bytes.size(), image.size()}), bytes.begin());
  return staging;
}

/// Writes staging in 1024-byte blocks from offset 0. After each block the progress bar shows how
/// much was left before it, and the window processes its messages.
bool WriteBlocks(const UpdateContext& context, std::string_view path,
                 std::span<const std::uint8_t> staging) {
  const std::size_t total = staging.size();
  std::size_t remaining = total;
  std::size_t position = 0;
  bool result = false;
  while (remaining > 0) {
    if (!WriteBuffer(context.io, path, WriteBufferMode::DownloadDeferred, BufferId::Firmware,
                     static_cast<std::uint32_t>(position),
                     staging.subspan(position, kImageBlockSize))) {
      NoteCommandFailure(context, UpdateStep::WriteBlock, path,
                         "block at offset " + std::to_string(position) + ": ");
      return false;
    }
    position += kImageBlockSize;
    result = true;
    context.view.SetProgress(static_cast<int>(100 - remaining * 100 / total));
    context.view.StepProgress(UpdateStep::WriteBlock, static_cast<int>(position * 100 / total));
    remaining -= kImageBlockSize;
    context.view.ProcessMessages();
  }
  return result;
}

/// How a write ended. The window's bar ends at 100 after a write that ran, good or bad, and stays
/// where it was after one that stopped early.
enum class WriteEnd : std::uint8_t {
  Written,  ///< every block went in
  Failed,   ///< the write ran and failed; a loader may try another pass
  Stopped,  ///< it stopped before a result: a check, the loader or the staging failed
};

WriteEnd EndOf(bool written) { return written ? WriteEnd::Written : WriteEnd::Failed; }

WriteEnd ProgramRunningFirmware(const UpdateContext& context, std::string_view path,
                                std::span<const std::uint8_t> image, std::uint32_t length,
                                std::uint32_t capacity) {
  const std::size_t rounded = RoundUp(capacity, kStagingRounding);
  const std::optional<AlignedBuffer> staging = Stage(context, capacity, image, rounded, length);
  if (!staging) return WriteEnd::Stopped;
  return EndOf(WriteBlocks(context, path, staging->bytes()));
}

/// One pass through a started loader: open its flash, wait, check its descriptor, write all blocks.
WriteEnd LoaderPass(const UpdateContext& context, std::string_view path,
                    std::span<const std::uint8_t> image, std::uint32_t length,
                    bool tolerateStartFailure) {
  if (!WriteNvram(context.io, path, NvramWriteMode::StartLoader, 0, {})) {
    NoteCommandFailure(context, UpdateStep::LoaderStart, path);
    if (!tolerateStartFailure) return WriteEnd::Stopped;
  }
  context.clock.Sleep(kLoaderPassWait);
  const std::optional<BufferDescriptor> descriptor = ReadDescriptor(context.io, path);
  if (!descriptor) {
    NoteCommandFailure(context, UpdateStep::LoaderDescriptor, path);
    return WriteEnd::Stopped;
  }
  if (descriptor->boundary != kBlockBoundary) {
    NoteFailure(context, UpdateStep::LoaderDescriptor,
                "the loader reports " + DescriptorText(*descriptor) + " where offset boundary " +
                    HexNumber(kBlockBoundary, HexCase::Upper) + " is required");
    return WriteEnd::Stopped;
  }
  const std::optional<AlignedBuffer> staging =
      Stage(context, descriptor->capacity, image, length, length);
  if (!staging) return WriteEnd::Stopped;
  return EndOf(WriteBlocks(context, path, staging->bytes()));
}

/// Loads the loader of the chip's variant into a buffer of exactly the size it must have.
std::optional<AlignedBuffer> LoadLoader(const UpdateContext& context, const ChipUpdate& chip,
                                        std::uint8_t loaderVariant) {
  const LoaderImage& wanted = loaderVariant == 0 ? chip.loader : chip.otherLoader;
  std::optional<AlignedBuffer> loader;
  loader.emplace(chip.loaderSize);
  if (!loader->valid()) {
    NoteFailure(context, UpdateStep::Loader, "out of memory for the loader image");
    return std::nullopt;
  }
  const std::size_t size =
      LoadImageResource(context.images, wanted.name, wanted.type, loader->bytes());
  if (size != chip.loaderSize) {
    NoteFailure(context, UpdateStep::Loader,
                size == 0
                    ? "this program carries no loader image " + std::string(wanted.name) +
                          " for a " + std::string(chip.chipName) + " in ROM mode"
                    : "loader image " + std::string(wanted.name) + " has " + std::to_string(size) +
                          " bytes instead of " + std::to_string(chip.loaderSize));
    return std::nullopt;
  }
  return loader;
}

WriteEnd ProgramThroughLoader(const UpdateContext& context, std::string_view path,
                              std::span<const std::uint8_t> image, std::uint32_t length,
                              std::uint8_t loaderVariant, const ChipUpdate& chip) {
  const std::optional<AlignedBuffer> loader = LoadLoader(context, chip, loaderVariant);
  if (!loader || !MayWriteImage(context, path, loader->bytes(), ImageOrigin::Loader)) {
    return WriteEnd::Stopped;
  }
  if (!WriteBuffer(context.io, path, WriteBufferMode::DownloadActivate, BufferId::Firmware, 0,
                   loader->bytes())) {
    NoteCommandFailure(context, UpdateStep::LoaderDownload, path);
    return WriteEnd::Failed;
  }
  context.clock.Sleep(kLoaderStartWait);
  const bool tolerate = chip.toleratesLoaderStartFailure && loaderVariant == 0;
  for (int pass = 0; pass < kLoaderPasses; ++pass) {
    const WriteEnd end = LoaderPass(context, path, image, length, tolerate);
    if (end != WriteEnd::Failed) return end;
  }
  return WriteEnd::Failed;
}

/// The chip of the selected disk, or nothing (noted) when the update does not serve it.
const ChipUpdate* SelectedChip(const UpdateContext& context) {
  const std::uint8_t code = ChipCodeOf(context.currentBridgeInfo);
  const ChipUpdate* chip = FindChipUpdate(code);
  if (chip == nullptr) {
    NoteFailure(context, UpdateStep::Chip,
                "chip code " + std::to_string(code) + " is not a chip this program updates");
  }
  return chip;
}

/// True when the read-back equals the expected image over the firmware area, apart from the
/// second block, where the bridge keeps its stamp.
bool Matches(const UpdateContext& context, std::span<const std::uint8_t> expected,
             std::span<const std::uint8_t> readBack, std::size_t length) {
  const auto difference = FirmwareAreaDifference(expected, readBack, length);
  if (!difference) return true;
  const std::size_t at = difference->first;
  NoteFailure(context, UpdateStep::Verify,
              "the flash differs from the image at offset " + std::to_string(at) + " (" +
                  HexNumber(readBack[at], HexCase::Upper) + " instead of " +
                  HexNumber(expected[at], HexCase::Upper) + ")");
  return false;
}

/// The image buffer, the expected and read-back buffers and the chip of one update.
struct UpdateBuffers {
  std::span<const std::uint8_t> image;  ///< the image and zeros, as long as the two below
  std::span<const std::uint8_t> expected;
  std::span<std::uint8_t> readBack;
};

bool WriteAndVerify(const UpdateContext& context, std::string_view path,
                    const UpdateBuffers& buffers, const ChipUpdate& chip, bool romMode) {
  if (!ProgramFlash(context, path, buffers.image, chip.firmwareArea, romMode, 0)) return false;
  if (!ReadBackFlash(context.io, path, buffers.readBack, context.failure, &context.view)) {
    return false;
  }
  if (!Matches(context, buffers.expected, buffers.readBack, chip.firmwareArea)) return false;
  context.view.StepProgress(UpdateStep::Verify, 100);
  return true;
}

/// Leaves the failure of the first attempt in the record, which is where things went wrong (in
/// ROM mode a second attempt always stops at the descriptor of the loader the first one started),
/// with every failed attempt beside it. A good update leaves no failure.
void ReportAttempts(UpdateFailure& record, std::vector<AttemptFailure> attempts, bool failed) {
  if (!failed) {
    record = {};
    return;
  }
  if (attempts.empty()) return;
  record.step = attempts.front().step;
  record.reason = attempts.front().reason;
  record.command = attempts.front().command;
  if (attempts.size() > 1) record.attempts = std::move(attempts);
}

/// Reads the identity block; nothing (noted) when it fails or is not a valid answer.
std::optional<BridgeIdentity> ReadIdentityBlock(const UpdateContext& context,
                                                std::string_view path) {
  const IdentityRead read = ReadBridgeIdentity(context.io, path);
  if (!read.answered) {
    NoteCommandFailure(context, UpdateStep::Identity, path);
    return std::nullopt;
  }
  // Whether the bridge runs its boot ROM decides how it is written; an answer without the
  // signature says nothing about that.
  if (!read.identity) {
    NoteFailure(context, UpdateStep::Identity, "the identity answer lacks its signature F4 E7");
  }
  return read.identity;
}

/// Copies the image to write into buffer, the file's where one was given, and returns its size.
std::size_t LoadFirmwareImage(const UpdateContext& context, const ChipUpdate& chip,
                              std::span<std::uint8_t> buffer) {
  if (context.fileImage.empty()) {
    return LoadImageResource(context.images, chip.firmwareImage, kFirmwareType, buffer);
  }
  const std::size_t count = std::min(context.fileImage.size(), buffer.size());
  std::copy_n(context.fileImage.begin(), count, buffer.begin());
  return context.fileImage.size();
}

/// Refuses, with the reason noted, to write a disk that is in use.
bool DiskFree(const UpdateContext& context, std::string_view path) {
  if (context.mounts == nullptr) return true;
  const std::optional<std::string> reason = InUseReason(*context.mounts, path, path);
  if (!reason) return true;
  NoteFailure(context, UpdateStep::InUse, *reason);
  return false;
}

/// Holds the disk for us into hold; refuses, with the reason noted, when it cannot be held. What
/// the hold leaves uncovered goes to the debug output.
bool HoldDisk(const UpdateContext& context, std::string_view path,
              std::unique_ptr<DiskHold>& hold) {
  if (context.holder == nullptr) return true;
  auto taken = context.holder->Hold(path);
  if (auto* refused = std::get_if<std::string>(&taken)) {
    NoteFailure(context, UpdateStep::InUse, std::move(*refused));
    return false;
  }
  hold = std::move(std::get<std::unique_ptr<DiskHold>>(taken));
  if (const std::string gaps = hold->gaps(); !gaps.empty()) {
    context.debug.Write("Disk hold: " + gaps + "\n");
  }
  return true;
}

}  // namespace

std::optional<FlashDifference> FirmwareAreaDifference(std::span<const std::uint8_t> expected,
                                                      std::span<const std::uint8_t> flash,
                                                      std::size_t length) {
  FlashDifference difference;
  for (std::size_t at = 0; at < length; ++at) {
    if (at == kSecondBlockBegin) at = kSecondBlockEnd;
    if (at >= length) break;
    if (expected[at] == flash[at]) continue;
    if (difference.count == 0) difference.first = at;
    ++difference.count;
  }
  if (difference.count == 0) return std::nullopt;
  return difference;
}

bool MayWriteImage(const UpdateContext& context, std::string_view path,
                   std::span<const std::uint8_t> image, ImageOrigin origin) {
  if (context.enclosures == Enclosures::Simulated) return true;
  // A file is judged by what it holds; a carried image also by the build that carries it.
  const bool carriedDevelopment = origin != ImageOrigin::File && context.images.development();
  if (!carriedDevelopment && !CarriesDevelopmentMarker(image)) return true;
  std::string text =
      origin == ImageOrigin::File
          ? "This file is a development firmware image, made for simulated enclosures only; it "
            "would leave a real one unusable. Nothing was written to " +
                std::string(path) + "."
          : "This program carries development firmware images, which are made for simulated "
            "enclosures only and would leave a real one unusable. Nothing was written to " +
                std::string(path) +
                ". A build with the vendor's images (KORVANE_FIRMWARE_DIR) can update it.";
  if (origin == ImageOrigin::Loader) {
    text +=
        " A bridge in its boot ROM needs the carried loader, so this build cannot recover "
        "it, whatever file is given.";
  }
  context.messages.ShowMessage(text, kGuardCaption, MessageIcon::Error);
  NoteFailure(context, UpdateStep::Guard, text);
  return false;
}

bool UpdateFirmware(const UpdateContext& context, std::string_view path) {
  const ChipUpdate* chip = SelectedChip(context);
  if (chip == nullptr || !DiskFree(context, path)) return false;
  std::unique_ptr<DiskHold> ownHold;
  if (!HoldDisk(context, path, context.hold != nullptr ? *context.hold : ownHold)) return false;
  std::vector<std::uint8_t> imageBuffer(kImageBufferSize, 0);
  const std::size_t size = LoadFirmwareImage(context, *chip, imageBuffer);
  if (size != chip->firmwareImageSize) {
    const std::string_view name =
        context.fileImage.empty() ? chip->firmwareImage : std::string_view("the file");
    NoteFailure(context, UpdateStep::Image,
                "firmware image " + std::string(name) + " has " + std::to_string(size) +
                    " bytes instead of " + std::to_string(chip->firmwareImageSize));
    return false;
  }
  const std::span<const std::uint8_t> image(imageBuffer);
  const ImageOrigin origin = context.fileImage.empty() ? ImageOrigin::Carried : ImageOrigin::File;
  if (!MayWriteImage(context, path, image.first(size), origin)) return false;

  const std::size_t bufferLength = RoundUp(size, kExpectedRounding);
  AlignedBuffer expected(bufferLength);
  AlignedBuffer readBack(bufferLength);
  if (!expected.valid() || !readBack.valid()) {
    NoteFailure(context, UpdateStep::Image, "out of memory for the verification buffers");
    return false;
  }
  std::copy_n(image.begin(), size, expected.bytes().begin());

  const std::optional<BridgeIdentity> identity = ReadIdentityBlock(context, path);
  if (!identity) return false;
  const UpdateBuffers buffers{image.first(bufferLength), expected.bytes(), readBack.bytes()};
  std::vector<AttemptFailure> attempts;
  bool failed = true;
  for (int attempt = 0; attempt < kUpdateAttempts && failed; ++attempt) {
    failed = !WriteAndVerify(context, path, buffers, *chip, identity->romMode);
    if (failed && context.failure != nullptr) {
      attempts.push_back(
          {context.failure->step, context.failure->reason, context.failure->command});
    }
  }
  if (context.failure != nullptr) ReportAttempts(*context.failure, std::move(attempts), failed);
  return !failed;
}

bool ProgramFlash(const UpdateContext& context, std::string_view path,
                  std::span<const std::uint8_t> image, std::uint32_t length, bool romMode,
                  std::uint8_t loaderVariant) {
  // The image was judged by MayWriteImage when it was loaded, once for every attempt.
  const ChipUpdate* chip = SelectedChip(context);
  if (chip == nullptr) return false;
  context.view.SetProgress(0);
  context.view.StepProgress(UpdateStep::WriteBlock, 0);
  const std::optional<BufferDescriptor> descriptor = ReadDescriptor(context.io, path);
  if (!descriptor) {
    NoteCommandFailure(context, UpdateStep::Descriptor, path);
    return false;
  }
  if (!DescriptorAllowsStart(context, *descriptor, romMode, *chip)) return false;
  const WriteEnd end =
      romMode ? ProgramThroughLoader(context, path, image, length, loaderVariant, *chip)
              : ProgramRunningFirmware(context, path, image, length, descriptor->capacity);
  if (end == WriteEnd::Stopped) return false;
  context.view.SetProgress(100);
  return end == WriteEnd::Written;
}

bool ReadBackFlash(Transport& io, std::string_view path, std::span<std::uint8_t> out,
                   UpdateFailure* failure, UpdateView* view) {
  const std::optional<BufferDescriptor> descriptor = ReadDescriptor(io, path);
  if (!descriptor) {
    NoteCommandFailure(failure, UpdateStep::ReadBack, io, path);
    return false;
  }
  if (descriptor->boundary != kBlockBoundary) {
    NoteFailure(failure, UpdateStep::ReadBack,
                "the bridge reports " + DescriptorText(*descriptor) + " for the read-back");
    return false;
  }
  // Reading stops once the capacity is covered, so a capacity that is not a whole number of
  // blocks cannot run the count past zero; the last block must still fit out.
  if (RoundUp(descriptor->capacity, kImageBlockSize) > out.size()) {
    NoteFailure(failure, UpdateStep::ReadBack,
                "the bridge reports a buffer capacity of " + std::to_string(descriptor->capacity) +
                    ", more than the " + std::to_string(out.size()) + " bytes of the read-back");
    return false;
  }
  AlignedBuffer buffer(out.size());
  if (!buffer.valid()) {
    NoteFailure(failure, UpdateStep::ReadBack, "out of memory for the read-back");
    return false;
  }
  const std::span<std::uint8_t> bytes = buffer.bytes();
  bool result = false;
  for (std::size_t position = 0; position < descriptor->capacity; position += kImageBlockSize) {
    result =
        ReadBuffer(io, path, ReadBufferMode::Data, BufferId::Firmware,
                   static_cast<std::uint32_t>(position), bytes.subspan(position, kImageBlockSize));
    if (!result) {
      NoteCommandFailure(failure, UpdateStep::ReadBack, io, path,
                         "block at offset " + std::to_string(position) + ": ");
      break;
    }
    if (view != nullptr) {
      const std::size_t read =
          std::min<std::size_t>(position + kImageBlockSize, descriptor->capacity);
      view->StepProgress(UpdateStep::ReadBack, static_cast<int>(read * 100 / descriptor->capacity));
    }
  }
  if (!result && descriptor->capacity == 0) {
    NoteFailure(failure, UpdateStep::ReadBack, "the bridge reports a buffer capacity of 0");
  }
  std::ranges::copy(bytes, out.begin());
  return result;
}

}  // namespace korvane
