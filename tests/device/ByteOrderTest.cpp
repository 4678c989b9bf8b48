#include "ByteOrder.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace korvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The same value laid out as SCSI fields (high byte first) and as USB and FAT fields (low byte
// first); what does not fit a field is dropped, never written past it.
TEST(ByteOrder, FieldsKeepTheirWidthAndOrder) {
  std::array<std::uint8_t, 6> buffer{};
  put_be(std::span(buffer).subspan(1, 3), 0x12345678);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.end()), (Bytes{0, 0x34, 0x56, 0x78, 0, 0}));
  EXPECT_EQ(get_be(std::span(buffer).subspan(1, 3)), 0x345678u);
  EXPECT_EQ(get_be(std::span(buffer).first(0)), 0u);

  buffer.fill(0);
  put_le32(std::span(buffer).subspan<1, 4>(), 0x12345678);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.end()), (Bytes{0, 0x78, 0x56, 0x34, 0x12, 0}));
  EXPECT_EQ(get_le32(std::span(buffer).subspan<1, 4>()), 0x12345678u);
  put_le16(std::span(buffer).subspan<4, 2>(), 0xABCDEF);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.end()), (Bytes{0, 0x78, 0x56, 0x34, 0xEF, 0xCD}));
}

}  // namespace
}  // namespace korvane
