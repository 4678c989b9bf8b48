// Writing the firmware image into the bridge's flash in 1024-byte blocks, through the loader
// when the bridge runs its boot ROM, and reading it back to verify.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "UpdateContext.h"

namespace korvane {

/// Size of the zero-filled buffer the firmware image is loaded into.
inline constexpr std::size_t kImageBufferSize = 512 * 1024;
/// Write passes through a started loader before the update gives up.
inline constexpr int kLoaderPasses = 3;
/// Write-and-verify attempts of one update.
inline constexpr int kUpdateAttempts = 2;
/// Pause after the loader download, and after each mode-3 WriteNvram.
inline constexpr std::chrono::milliseconds kLoaderStartWait{2000};
inline constexpr std::chrono::milliseconds kLoaderPassWait{500};

/// Where an image to be written comes from.
enum class ImageOrigin : std::uint8_t {
  Carried,  ///< the firmware this program carries
  Loader,   ///< the carried loader for a bridge in its boot ROM
  File,     ///< a file the user gave
};

/// Where a flash read differs from an image over the firmware area.
struct FlashDifference {
  std::size_t first = 0;  ///< the offset of the first differing byte
  std::size_t count = 0;  ///< how many bytes differ
};

/// Where flash differs from expected over their first length bytes, leaving out the second block,
/// where the bridge keeps its stamp: the whole block, since what a bridge gives back of it is not
/// known to be the rest of what it stored. Nothing when they are alike; both hold length bytes.
std::optional<FlashDifference> FirmwareAreaDifference(std::span<const std::uint8_t> expected,
                                                      std::span<const std::uint8_t> flash,
                                                      std::size_t length);

/// Refuses, with a message, to write a development image to anything but a simulated enclosure:
/// one that carries the development marker, or, when it is carried, any image of a build that
/// carries development images.
bool MayWriteImage(const UpdateContext& context, std::string_view path,
                   std::span<const std::uint8_t> image, ImageOrigin origin = ImageOrigin::Carried);

/// Writes the chip's firmware image and verifies it by reading it back; up to two attempts. A
/// disk in use (the context's mount check) is refused before anything is read or written.
bool UpdateFirmware(const UpdateContext& context, std::string_view path);

/// Writes the first length bytes of image into the bridge, through the loader in ROM mode.
/// image is the image followed by zeros; a capacity that does not fit it is refused. The caller
/// has judged image with MayWriteImage; the loader is judged here, as it is loaded.
bool ProgramFlash(const UpdateContext& context, std::string_view path,
                  std::span<const std::uint8_t> image, std::uint32_t length, bool romMode,
                  std::uint8_t loaderVariant);

/// Reads as many bytes as the bridge reports as its buffer capacity into out; a capacity that
/// does not fit out is refused before anything is read. A view hears how far the reading is.
bool ReadBackFlash(Transport& io, std::string_view path, std::span<std::uint8_t> out,
                   UpdateFailure* failure = nullptr, UpdateView* view = nullptr);

}  // namespace korvane
