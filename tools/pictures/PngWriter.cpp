#include "PngWriter.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <stdexcept>
#include <string_view>

namespace korvane::pictures {
namespace {

constexpr std::array<std::uint8_t, 8> kSignature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::uint8_t kBitDepth = 8;
constexpr std::uint8_t kColourTypeRgba = 6;
constexpr std::uint8_t kFilterNone = 0;
// Deflate, 32 KB window; the check bits make the pair a multiple of 31, no dictionary.
constexpr std::uint8_t kZlibMethod = 0x78;
constexpr std::uint8_t kZlibFlags = 0x01;
constexpr std::size_t kLargestStoredBlock = 0xFFFF;
constexpr std::uint32_t kAdlerModulus = 65521;
// Keeps the image data, one IDAT chunk, under the 2^31 bytes a PNG chunk may hold.
constexpr int kLargestSide = 1 << 14;

std::array<std::uint32_t, 256> CrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < table.size(); ++n) {
    std::uint32_t c = n;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

/// The rows as a PNG decoder expects them before compression: a filter byte, then RGBA.
Bytes Scanlines(const Canvas& canvas) {
  Bytes raw;
  raw.reserve(static_cast<std::size_t>(canvas.Height()) * (1 + 4 * canvas.Width()));
  for (int y = 0; y < canvas.Height(); ++y) {
    raw.push_back(kFilterNone);
    for (int x = 0; x < canvas.Width(); ++x) {
      const Colour c = canvas.At(x, y);
      raw.insert(raw.end(), {ToByte(c.r), ToByte(c.g), ToByte(c.b), ToByte(c.a)});
    }
  }
  return raw;
}

/// raw as a zlib stream of stored blocks, the last one marked final.
Bytes StoredZlib(const Bytes& raw) {
  Bytes out{kZlibMethod, kZlibFlags};
  std::size_t at = 0;
  do {
    const std::size_t length = std::min(kLargestStoredBlock, raw.size() - at);
    const bool final = at + length == raw.size();
    out.push_back(final ? 1 : 0);  // BFINAL, then BTYPE 00 (stored) and padding to the byte
    Put16(out, static_cast<std::uint32_t>(length));
    Put16(out, static_cast<std::uint32_t>(~length & 0xFFFF));
    out.insert(out.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
               raw.begin() + static_cast<std::ptrdiff_t>(at + length));
    at += length;
  } while (at < raw.size());
  PutBe32(out, Adler32(raw));
  return out;
}

/// A chunk: length, type, data and the CRC over type and data.
void PutChunk(Bytes& out, std::string_view type, const Bytes& data) {
  PutBe32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t typeStart = out.size();
  out.insert(out.end(), type.begin(), type.end());
  out.insert(out.end(), data.begin(), data.end());
  PutBe32(out, Crc32(std::span(out).subspan(typeStart)));
}

Bytes Header(const Canvas& canvas) {
  Bytes header;
  PutBe32(header, static_cast<std::uint32_t>(canvas.Width()));
  PutBe32(header, static_cast<std::uint32_t>(canvas.Height()));
  header.insert(header.end(), {kBitDepth, kColourTypeRgba, 0, 0, 0});  // deflate, no interlace
  return header;
}

void CheckSize(const Canvas& canvas) {
  if (canvas.Width() < 1 || canvas.Height() < 1 || canvas.Width() > kLargestSide ||
      canvas.Height() > kLargestSide)
    throw std::invalid_argument("a PNG picture is 1 to 16384 pixels on each side");
}

}  // namespace

std::uint32_t Crc32(std::span<const std::uint8_t> bytes) {
  static const std::array<std::uint32_t, 256> table = CrcTable();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const std::uint8_t byte : bytes) crc = table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

std::uint32_t Adler32(std::span<const std::uint8_t> bytes) {
  std::uint32_t a = 1;
  std::uint32_t b = 0;
  for (const std::uint8_t byte : bytes) {
    a = (a + byte) % kAdlerModulus;
    b = (b + a) % kAdlerModulus;
  }
  return (b << 16) | a;
}

Bytes EncodePng(const Canvas& canvas) {
  CheckSize(canvas);
  Bytes out(kSignature.begin(), kSignature.end());
  PutChunk(out, "IHDR", Header(canvas));
  PutChunk(out, "IDAT", StoredZlib(Scanlines(canvas)));
  PutChunk(out, "IEND", {});
  return out;
}

}  // namespace korvane::pictures
