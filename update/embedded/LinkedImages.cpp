// On Linux the images are linked into the binary: the generated LinkedImages.s places each file
// between a _begin and an _end symbol.
#include <array>
#include <cstdint>

#include "EmbeddedImages.h"

extern "C" {
// clang-format off
[[gnu::visibility("hidden")]] extern const std::uint8_t korvane_image_JMS578_FW_begin[];
[[gnu::visibility("hidden")]] extern const std::uint8_t korvane_image_JMS578_FW_end[];
[[gnu::visibility("hidden")]] extern const std::uint8_t korvane_image_JMS583_V234_01_00_02_begin[];
[[gnu::visibility("hidden")]] extern const std::uint8_t korvane_image_JMS583_V234_01_00_02_end[];
[[gnu::visibility("hidden")]] extern const std::uint8_t korvane_image_JMS583_FW_begin[];
[[gnu::visibility("hidden")]] extern const std::uint8_t korvane_image_JMS583_FW_end[];
[[gnu::visibility("hidden")]] extern const std::uint8_t korvane_image_JMS583_ROM_MFG_begin[];
[[gnu::visibility("hidden")]] extern const std::uint8_t korvane_image_JMS583_ROM_MFG_end[];
// clang-format on
}

namespace korvane {
namespace {

struct LinkedImage {
  std::string_view name;
  std::string_view type;
  const std::uint8_t* begin;
  const std::uint8_t* end;
};

constexpr std::array<LinkedImage, 4> kLinkedImages{{
    {"JMS578_FW", kFirmwareType, korvane_image_JMS578_FW_begin, korvane_image_JMS578_FW_end},
    {"JMS583_V234_01_00_02", kFirmwareType, korvane_image_JMS583_V234_01_00_02_begin,
     korvane_image_JMS583_V234_01_00_02_end},
    {"JMS583_FW", kFirmwareType, korvane_image_JMS583_FW_begin, korvane_image_JMS583_FW_end},
    {"JMS583_ROM_MFG", kLoaderType, korvane_image_JMS583_ROM_MFG_begin,
     korvane_image_JMS583_ROM_MFG_end},
}};

}  // namespace

std::optional<std::span<const std::uint8_t>> EmbeddedImages::Find(std::string_view name,
                                                                  std::string_view type) const {
  for (const LinkedImage& image : kLinkedImages) {
    if (image.name != name || image.type != type) continue;
    // The two symbols belong to no common array, so the size comes from their addresses.
    const auto size =
        reinterpret_cast<std::uintptr_t>(image.end) - reinterpret_cast<std::uintptr_t>(image.begin);
    return std::span<const std::uint8_t>(image.begin, static_cast<std::size_t>(size));
  }
  return std::nullopt;
}

}  // namespace korvane
