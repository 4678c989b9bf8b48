#include "IcoWriter.h"

#include <cstddef>
#include <stdexcept>

namespace korvane::pictures {
namespace {

constexpr std::uint32_t kDirectorySize = 6;
constexpr std::uint32_t kEntrySize = 16;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr int kLargestIcon = 256;

std::uint32_t MaskStride(int width) { return ((static_cast<std::uint32_t>(width) + 31) / 32) * 4; }

std::uint32_t ImageSize(const Canvas& image) {
  const auto side = static_cast<std::uint32_t>(image.Width());
  return kInfoHeaderSize + side * side * 4 + MaskStride(image.Width()) * side;
}

void PutEntry(Bytes& out, const Canvas& image, std::uint32_t offset) {
  // 256 is written as 0.
  out.push_back(static_cast<std::uint8_t>(image.Width() & 0xFF));
  out.push_back(static_cast<std::uint8_t>(image.Height() & 0xFF));
  out.push_back(0);  // no palette
  out.push_back(0);  // reserved
  Put16(out, 1);     // planes
  Put16(out, 32);    // bits per pixel
  Put32(out, ImageSize(image));
  Put32(out, offset);
}

void PutInfoHeader(Bytes& out, const Canvas& image) {
  const auto side = static_cast<std::uint32_t>(image.Width());
  Put32(out, kInfoHeaderSize);
  Put32(out, side);
  Put32(out, side * 2);  // the colour rows and then the mask rows
  Put16(out, 1);
  Put16(out, 32);
  Put32(out, 0);  // BI_RGB
  Put32(out, ImageSize(image) - kInfoHeaderSize);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
}

void PutColours(Bytes& out, const Canvas& image) {
  for (int y = image.Height() - 1; y >= 0; --y) {
    for (int x = 0; x < image.Width(); ++x) {
      const Colour c = image.At(x, y);
      out.push_back(ToByte(c.b));
      out.push_back(ToByte(c.g));
      out.push_back(ToByte(c.r));
      out.push_back(ToByte(c.a));
    }
  }
}

/// One bit per pixel, set where the pixel is fully transparent.
void PutMask(Bytes& out, const Canvas& image) {
  for (int y = image.Height() - 1; y >= 0; --y) {
    const std::size_t rowStart = out.size();
    out.resize(rowStart + MaskStride(image.Width()), 0);
    for (int x = 0; x < image.Width(); ++x) {
      if (ToByte(image.At(x, y).a) == 0)
        out[rowStart + static_cast<std::size_t>(x / 8)] |=
            static_cast<std::uint8_t>(0x80 >> (x % 8));
    }
  }
}

void CheckSizes(const std::vector<Canvas>& images) {
  if (images.empty()) throw std::invalid_argument("an icon needs at least one image");
  for (const Canvas& image : images) {
    if (image.Width() != image.Height() || image.Width() < 1 || image.Width() > kLargestIcon)
      throw std::invalid_argument("icon images are square, 1 to 256 pixels");
  }
}

}  // namespace

Bytes EncodeIco(const std::vector<Canvas>& images) {
  CheckSizes(images);
  Bytes out;
  Put16(out, 0);  // reserved
  Put16(out, 1);  // icon
  Put16(out, static_cast<std::uint32_t>(images.size()));
  auto offset = kDirectorySize + kEntrySize * static_cast<std::uint32_t>(images.size());
  for (const Canvas& image : images) {
    PutEntry(out, image, offset);
    offset += ImageSize(image);
  }
  for (const Canvas& image : images) {
    PutInfoHeader(out, image);
    PutColours(out, image);
    PutMask(out, image);
  }
  return out;
}

}  // namespace korvane::pictures
