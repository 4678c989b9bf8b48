#include "TraceJson.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace korvane {
namespace {

TEST(TraceJson, DataInLineCarriesNoData) {
  const std::array<std::uint8_t, 12> cdb = {0xE0, 0xF4, 0xE7};
  const std::array<std::uint8_t, 2> data = {0xF4, 0xE7};
  const TraceRecord record{R"(\\?\usbstor#disk)", cdb, Direction::In, 16, data, Verdict::Ok};
  EXPECT_EQ(TraceJson(record),
            R"({"path":"\\\\?\\usbstor#disk","cdb":"e0f4e7000000000000000000","dir":"in",)"
            R"("len":16,"ok":true})");
}

TEST(TraceJson, DataOutLineCarriesTheBytesSent) {
  const std::array<std::uint8_t, 10> cdb = {0x3B, 0x0E};
  const std::array<std::uint8_t, 3> data = {0x00, 0xAB, 0x10};
  const TraceRecord record{"/dev/sg2", cdb, Direction::Out, 3, data, Verdict::Failed};
  EXPECT_EQ(TraceJson(record),
            R"({"path":"/dev/sg2","cdb":"3b0e0000000000000000","dir":"out","len":3,)"
            R"("ok":false,"data":"00ab10"})");
}

TEST(TraceJson, PathIsEscaped) {
  const std::array<std::uint8_t, 1> cdb = {0x12};
  const TraceRecord record{"a\"b\nc", cdb, Direction::In, -1, {}, Verdict::Refused};
  EXPECT_EQ(TraceJson(record),
            R"({"path":"a\"b\u000ac","cdb":"12","dir":"in","len":-1,"ok":false})");
}

}  // namespace
}  // namespace korvane
