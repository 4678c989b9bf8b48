#include "BmpWriter.h"

#include <array>
#include <cstddef>

namespace korvane::pictures {
namespace {

constexpr std::uint32_t kFileHeaderSize = 14;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kPixelsPerMetre = 2835;  // 72 dots per inch

/// The 4 x 4 Bayer matrix as rounding offsets within (-0.5, 0.5).
double DitherOffset(int x, int y) {
  static constexpr std::array<int, 16> kBayer{0, 8, 2, 10, 12, 4, 14, 6, 3, 11, 1, 9, 15, 7, 13, 5};
  return (kBayer[static_cast<std::size_t>((y & 3) * 4 + (x & 3))] + 0.5) / 16.0 - 0.5;
}

std::uint32_t RowStride(int width) { return (static_cast<std::uint32_t>(width) * 3 + 3) & ~3u; }

void PutHeaders(Bytes& out, const Canvas& canvas) {
  const std::uint32_t pixelBytes =
      RowStride(canvas.Width()) * static_cast<std::uint32_t>(canvas.Height());
  const std::uint32_t offset = kFileHeaderSize + kInfoHeaderSize;
  out.push_back('B');
  out.push_back('M');
  Put32(out, offset + pixelBytes);
  Put32(out, 0);  // two reserved words
  Put32(out, offset);
  Put32(out, kInfoHeaderSize);
  Put32(out, static_cast<std::uint32_t>(canvas.Width()));
  Put32(out, static_cast<std::uint32_t>(canvas.Height()));  // positive: bottom-up
  Put16(out, 1);                                            // planes
  Put16(out, 24);                                           // bits per pixel
  Put32(out, 0);                                            // BI_RGB
  Put32(out, pixelBytes);
  Put32(out, kPixelsPerMetre);
  Put32(out, kPixelsPerMetre);
  Put32(out, 0);  // colours used
  Put32(out, 0);  // important colours
}

void PutRow(Bytes& out, const Canvas& canvas, int y) {
  const std::size_t rowStart = out.size();
  for (int x = 0; x < canvas.Width(); ++x) {
    const Colour c = canvas.At(x, y);
    const double offset = DitherOffset(x, y);
    // Over white: what is not covered shows the background.
    out.push_back(ToByte(c.b * c.a + (1.0 - c.a), offset));
    out.push_back(ToByte(c.g * c.a + (1.0 - c.a), offset));
    out.push_back(ToByte(c.r * c.a + (1.0 - c.a), offset));
  }
  out.resize(rowStart + RowStride(canvas.Width()), 0);
}

}  // namespace

Bytes EncodeBmp(const Canvas& canvas) {
  Bytes out;
  out.reserve(kFileHeaderSize + kInfoHeaderSize +
              RowStride(canvas.Width()) * static_cast<std::size_t>(canvas.Height()));
  PutHeaders(out, canvas);
  for (int y = canvas.Height() - 1; y >= 0; --y) PutRow(out, canvas, y);
  return out;
}

}  // namespace korvane::pictures
