// Fields and colour components as the picture formats store them: little-endian in the Windows
// formats (and deflate's block lengths), big-endian in PNG's chunks.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace korvane::pictures {

using Bytes = std::vector<std::uint8_t>;

inline void Put16(Bytes& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

inline void Put32(Bytes& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

inline void PutBe32(Bytes& out, std::uint32_t value) {
  for (const int shift : {24, 16, 8, 0}) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

/// A component from 0 to 1 as a byte; offset (within +-0.5) shifts the rounding point.
inline std::uint8_t ToByte(double component, double offset = 0.0) {
  const double scaled = std::clamp(component, 0.0, 1.0) * 255.0;
  return static_cast<std::uint8_t>(std::clamp(std::floor(scaled + 0.5 + offset), 0.0, 255.0));
}

}  // namespace korvane::pictures
