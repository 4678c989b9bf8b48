// Big-endian fields inside CDBs and descriptors.
#pragma once

#include <cstdint>
#include <span>

namespace korvane {

/// Writes bits 15-0 of value, high byte first.
constexpr void put_be16(std::span<std::uint8_t, 2> out, std::uint32_t value) {
  out[0] = static_cast<std::uint8_t>(value >> 8);
  out[1] = static_cast<std::uint8_t>(value);
}

/// Writes bits 23-0 of value, high byte first; higher bits are dropped.
constexpr void put_be24(std::span<std::uint8_t, 3> out, std::uint32_t value) {
  out[0] = static_cast<std::uint8_t>(value >> 16);
  out[1] = static_cast<std::uint8_t>(value >> 8);
  out[2] = static_cast<std::uint8_t>(value);
}

/// Reads a 16-bit big-endian field.
constexpr std::uint32_t get_be16(std::span<const std::uint8_t, 2> in) {
  return (std::uint32_t{in[0]} << 8) | in[1];
}

/// Reads a 24-bit big-endian field.
constexpr std::uint32_t get_be24(std::span<const std::uint8_t, 3> in) {
  return (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
}

}  // namespace korvane
