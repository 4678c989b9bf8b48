// On Linux the images are linked into the binary: the generated LinkedImages.s places each
// carried image of the firmware catalogue between a _begin and an _end symbol.
#include <array>
#include <cstdint>

#include "EmbeddedImages.h"

// clang-format off
#define KORVANE_IF_CARRIED(...) __VA_ARGS__
#define KORVANE_IF_NAMED(...)
#define KORVANE_CHIP(...)

extern "C" {
#define KORVANE_IMAGE(chip, use, name, type, size, version, offered, carried)                   \
  KORVANE_IF_##carried(                                                                         \
      [[gnu::visibility("hidden")]] extern const std::uint8_t korvane_image_##name##_begin[];   \
      [[gnu::visibility("hidden")]] extern const std::uint8_t korvane_image_##name##_end[];)
#include "FirmwareCatalogue.def"
#undef KORVANE_IMAGE
}

namespace korvane {
namespace {

struct LinkedImage {
  std::string_view name;
  std::string_view type;
  const std::uint8_t* begin;
  const std::uint8_t* end;
};

constexpr std::array kLinkedImages{
#define KORVANE_IMAGE(chip, use, name, type, size, version, offered, carried)                   \
  KORVANE_IF_##carried(                                                                         \
      LinkedImage{#name, #type, korvane_image_##name##_begin, korvane_image_##name##_end},)
#include "FirmwareCatalogue.def"
#undef KORVANE_IMAGE
};
// clang-format on

#undef KORVANE_CHIP
#undef KORVANE_IF_CARRIED
#undef KORVANE_IF_NAMED

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
