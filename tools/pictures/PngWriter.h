// Pictures as PNG files: 8-bit RGBA, not interlaced, every row unfiltered. The image data is a
// zlib stream of stored deflate blocks: every decoder reads it, and the generator needs no
// compression library for icons of a few hundred kilobytes at most.
#pragma once

#include <cstdint>
#include <span>

#include "Bytes.h"
#include "Canvas.h"

namespace korvane::pictures {

/// The canvas, 1 to 16384 pixels on each side, as a .png file; alpha is not premultiplied.
Bytes EncodePng(const Canvas& canvas);

/// The CRC-32 a PNG chunk ends with (reflected, polynomial 0xEDB88320).
std::uint32_t Crc32(std::span<const std::uint8_t> bytes);

/// The Adler-32 checksum a zlib stream ends with.
std::uint32_t Adler32(std::span<const std::uint8_t> bytes);

}  // namespace korvane::pictures
