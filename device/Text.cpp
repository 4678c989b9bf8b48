#include "Text.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace korvane {
namespace {

/// The first code point of text: its value and how many bytes it takes; zero bytes when text
/// does not start with a well-formed UTF-8 sequence (overlong forms and surrogates included).
struct CodePoint {
  std::uint32_t value = 0;
  std::size_t length = 0;
};

char LowerByte(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

constexpr std::string_view kHexDigits = "0123456789abcdef";
constexpr std::string_view kUpperHexDigits = "0123456789ABCDEF";

constexpr std::uint32_t kFirstSurrogate = 0xD800;
constexpr std::uint32_t kLastSurrogate = 0xDFFF;
constexpr std::uint32_t kLastCodePoint = 0x10FFFF;

/// The bits a lead byte gives and the length it announces; length 0 for a byte that leads nothing.
CodePoint Lead(unsigned char byte) {
  if (byte < 0x80) return {byte, 1};
  if (byte >= 0xC2 && byte <= 0xDF) return {byte & 0x1Fu, 2};
  if (byte >= 0xE0 && byte <= 0xEF) return {byte & 0x0Fu, 3};
  if (byte >= 0xF0 && byte <= 0xF4) return {byte & 0x07u, 4};
  return {};
}

CodePoint Decode(std::string_view text) {
  CodePoint point = Lead(static_cast<unsigned char>(text.front()));
  if (point.length == 0 || point.length > text.size()) return {};
  for (std::size_t i = 1; i < point.length; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte & 0xC0u) != 0x80u) return {};
    point.value = (point.value << 6) | (byte & 0x3Fu);
  }
  static constexpr std::array<std::uint32_t, 5> kSmallest{0, 0, 0x80, 0x800, 0x10000};
  const bool overlong = point.value < kSmallest[point.length];
  const bool surrogate = point.value >= kFirstSurrogate && point.value <= kLastSurrogate;
  if (overlong || surrogate || point.value > kLastCodePoint) return {};
  return point;
}

/// The bidirectional embeddings, overrides and isolates: they reorder the text that follows on
/// the screen, so a device name could show a path or a version other than the one it holds.
bool IsBidiControl(std::uint32_t value) {
  return (value >= 0x202A && value <= 0x202E) || (value >= 0x2066 && value <= 0x2069);
}

bool IsControl(std::uint32_t value) {
  return value < 0x20 || (value >= 0x7F && value <= 0x9F) || IsBidiControl(value);
}

bool IsLineEnd(std::uint32_t value) { return value == '\n' || value == '\r' || value == '\t'; }

void AppendEscaped(std::string& shown, std::string_view bytes) {
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    shown += "\\x";
    shown += kHexDigits[byte >> 4];
    shown += kHexDigits[byte & 0x0Fu];
  }
}

std::string Escape(std::string_view text, bool keepLineEnds) {
  std::string shown;
  shown.reserve(text.size());
  while (!text.empty()) {
    const CodePoint point = Decode(text);
    const std::size_t length = point.length == 0 ? 1 : point.length;
    const std::string_view bytes = text.substr(0, length);
    const bool kept = keepLineEnds && IsLineEnd(point.value) && point.length == 1;
    if (point.length == 0 || (IsControl(point.value) && !kept)) {
      AppendEscaped(shown, bytes);
    } else {
      shown += bytes;
    }
    text.remove_prefix(length);
  }
  return shown;
}

}  // namespace

std::string Printable(std::string_view text) { return Escape(text, false); }

std::string PrintableLines(std::string_view text) { return Escape(text, true); }

std::string HexText(std::span<const std::uint8_t> bytes, HexCase letters,
                    std::string_view separator) {
  const std::string_view digits = letters == HexCase::Lower ? kHexDigits : kUpperHexDigits;
  std::string text;
  text.reserve(bytes.size() * (2 + separator.size()));
  for (const std::uint8_t byte : bytes) {
    if (!text.empty()) text += separator;
    text += digits[byte >> 4];
    text += digits[byte & 0x0Fu];
  }
  return text;
}

std::string HexNumber(std::uint32_t value, HexCase letters) {
  std::array<std::uint8_t, 4> bytes{};
  std::size_t first = bytes.size() - 1;
  for (std::size_t at = bytes.size(); at-- > 0; value >>= 8) {
    bytes[at] = static_cast<std::uint8_t>(value & 0xFFu);
    if (bytes[at] != 0) first = at;
  }
  return "0x" + HexText(std::span(bytes).subspan(first), letters);
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  // Compared in place: the simulator and the device checks compare paths on every command. The
  // paths they compare are mostly written alike: one plain comparison settles those.
  if (a.size() != b.size()) return false;
  if (a == b) return true;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && LowerByte(a[i]) != LowerByte(b[i])) return false;
  }
  return true;
}

bool LessIgnoringCase::operator()(std::string_view a, std::string_view b) const {
  const auto folded = [](char c) { return static_cast<unsigned char>(LowerByte(c)); };
  return std::ranges::lexicographical_compare(a, b, {}, folded, folded);
}

std::string AsciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = LowerByte(c);
  return lower;
}

}  // namespace korvane
