#include "ImageSource.h"

#include <algorithm>

namespace korvane {

std::size_t LoadImageResource(const ImageSource& images, std::string_view name,
                              std::string_view type, std::span<std::uint8_t> destination,
                              std::size_t offset, std::size_t count) {
  const std::optional<std::span<const std::uint8_t>> image = images.Find(name, type);
  if (!image) return 0;
  const std::size_t size = image->size();
  // An offset at or past the end leaves nothing to copy, where size - offset would wrap.
  const std::size_t available = offset < size ? size - offset : 0;
  if (count == 0 || count > available) count = available;
  count = std::min(count, destination.size());
  if (count > 0)
    std::copy_n(image->begin() + static_cast<std::ptrdiff_t>(offset), count, destination.begin());
  return size;
}

bool CarriesDevelopmentMarker(std::span<const std::uint8_t> image) {
  return !std::ranges::search(image, kDevelopmentMarker, std::ranges::equal_to{}, {}, [](char c) {
            return static_cast<std::uint8_t>(c);
          }).empty();
}

}  // namespace korvane
