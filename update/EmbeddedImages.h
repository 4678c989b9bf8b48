// The images built into this program: custom resources of the exe on Windows, data linked into
// the binary on Linux. Both come from the same files.
#pragma once

#include "ImageSource.h"

namespace korvane {

/// The images of this program's own module.
class EmbeddedImages final : public ImageSource {
 public:
  std::optional<std::span<const std::uint8_t>> Find(std::string_view name,
                                                    std::string_view type) const override;
  bool development() const override;
  /// Computed by the build from the same files the images come from.
  std::optional<std::string> Digest(std::string_view name, std::string_view type) const override;
};

}  // namespace korvane
