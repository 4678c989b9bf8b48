// Fields inside CDBs and descriptors: big-endian as SCSI lays them, little-endian as USB and the
// FAT file system do.
#pragma once

#include <cstddef>
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

/// Reads a big-endian field of any width up to 8 bytes.
constexpr std::uint64_t get_be(std::span<const std::uint8_t> in) {
  std::uint64_t value = 0;
  for (const std::uint8_t byte : in) value = value << 8 | byte;
  return value;
}

/// Writes value into the whole field, high byte first; bits that do not fit are dropped.
constexpr void put_be(std::span<std::uint8_t> out, std::uint64_t value) {
  for (std::size_t i = out.size(); i-- > 0; value >>= 8) out[i] = static_cast<std::uint8_t>(value);
}

/// Writes bits 15-0 of value, low byte first.
constexpr void put_le16(std::span<std::uint8_t, 2> out, std::uint32_t value) {
  out[0] = static_cast<std::uint8_t>(value);
  out[1] = static_cast<std::uint8_t>(value >> 8);
}

/// Writes value, low byte first.
constexpr void put_le32(std::span<std::uint8_t, 4> out, std::uint32_t value) {
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

/// Reads a 32-bit little-endian field.
constexpr std::uint32_t get_le32(std::span<const std::uint8_t, 4> in) {
  return std::uint32_t{in[0]} | std::uint32_t{in[1]} << 8 | std::uint32_t{in[2]} << 16 |
         std::uint32_t{in[3]} << 24;
}

}  // namespace korvane
