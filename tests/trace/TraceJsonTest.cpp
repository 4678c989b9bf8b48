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

/// With its outcome a line carries the answer: the data in only as far as it was transferred,
/// and for a command that never reached the device only how far it got.
TEST(TraceJson, OutcomeAddsTheAnswer) {
  const std::array<std::uint8_t, 1> cdb = {0x12};
  const std::array<std::uint8_t, 4> data = {0x00, 0x05, 0x00, 0x00};
  CommandOutcome status{Verdict::Failed, FailureStage::Status, 0x12, 0, 2, 0, 0, {}, {}, 2, {}, 1};
  status.senseBytes[0] = 0x70;
  CommandOutcome open;
  open.stage = FailureStage::Open;
  open.osError = 13;
  CommandOutcome refused;
  refused.stage = FailureStage::Refused;
  const struct {
    const CommandOutcome* outcome;
    const char* answer;
  } cases[] = {
      {&status, R"(,"stage":"status","os_error":0,"status":2,"host":0,"driver":0,"transferred":2,)"
                R"("sense":"70","answer":"0005"})"},
      {&open, R"(,"stage":"open","os_error":13})"},
      {&refused, R"(,"stage":"refused"})"},
  };
  for (const auto& c : cases) {
    const TraceRecord record{"/dev/sg2", cdb, Direction::In, 4, data, Verdict::Failed, c.outcome};
    EXPECT_EQ(TraceJson(record), std::string(R"({"path":"/dev/sg2","cdb":"12","dir":"in","len":4,)"
                                             R"("ok":false)") +
                                     c.answer);
  }
}

}  // namespace
}  // namespace korvane
