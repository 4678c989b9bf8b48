#include "CdbDecoder.h"

#include <gtest/gtest.h>

#include <vector>

namespace korvane::sim {
namespace {

constexpr Direction In = Direction::In;
constexpr Direction Out = Direction::Out;

struct DecodeCase {
  const char* what;
  std::vector<std::uint8_t> cdb;
  Direction direction;
  Operation operation;
  CdbCheck check;
};

// clang-format off
const DecodeCase kCases[] = {
  {"flash type",        {0xFF, 0x04, 0x23, 0x04, 0, 0, 0, 0, 0, 0, 0, 0},             In,  Operation::ReadFlashType,   CdbCheck::Ok},
  {"INQUIRY, 40 bytes",        {0x12, 0, 0, 0, 0x28, 0, 0, 0, 0, 0, 0, 0},             In,  Operation::Inquiry,         CdbCheck::Ok},
  {"INQUIRY for 300, 12 bytes", {0x12, 0, 0, 0x01, 0x2C, 0, 0, 0, 0, 0, 0, 0},         In,  Operation::Inquiry,         CdbCheck::StandardForm},
  {"INQUIRY for 300, 6 bytes", {0x12, 0, 0, 0x01, 0x2C, 0},                            In,  Operation::Inquiry,         CdbCheck::StandardForm},
  {"REQUEST SENSE, 6 bytes",   {0x03, 0, 0, 0, 0xFC, 0},                               In,  Operation::RequestSense,    CdbCheck::StandardForm},
  {"INQUIRY, 10 bytes",        {0x12, 0, 0, 0, 0x24, 0, 0, 0, 0, 0},                   In,  Operation::Inquiry,         CdbCheck::BadLength},
  {"identity, 10 bytes",       {0xE0, 0xF4, 0xE7, 0, 0, 0, 0, 0, 0, 0},                In,  Operation::ReadIdentity,    CdbCheck::BadLength},
  {"read buffer, 12 bytes",    {0x3C, 0x01, 0, 0, 0, 0, 0, 0x04, 0, 0, 0, 0},          In,  Operation::ReadBuffer,      CdbCheck::BadLength},
  {"nvram read as data out",   {0xDF, 0x10, 0, 0x02, 0, 0, 0, 0, 0x01, 0x10, 0, 0xFA}, Out, Operation::ReadNvram,       CdbCheck::BadDirection},
  {"write buffer as data in",  {0x3B, 0x0E, 0, 0, 0, 0, 0, 0x04, 0, 0},                In,  Operation::WriteBuffer,     CdbCheck::BadDirection},
  {"identity, no signature",   {0xE0, 0xF4, 0xE6, 0, 0, 0, 0, 0, 0, 0, 0, 0},          In,  Operation::ReadIdentity,    CdbCheck::BadField},
  {"nvram read, byte 5 set",   {0xDF, 0x10, 0, 0x02, 0, 0x01, 0, 0, 0x01, 0x10, 0, 0xFA}, In, Operation::ReadNvram,     CdbCheck::BadField},
  {"memory address misplaced", {0xDF, 0x10, 0, 0, 0x04, 0, 0, 0, 0, 0xFD, 0xB0, 0xFD}, In,  Operation::ReadMemory,      CdbCheck::BadField},
  {"status, byte 3 set",       {0xFF, 0x04, 0x12, 0x01, 0, 0, 0, 0, 0, 0, 0, 0},       In,  Operation::ReadStatus,      CdbCheck::BadField},
  {"unknown 0xFF item",        {0xFF, 0x04, 0x99, 0, 0, 0, 0, 0, 0, 0, 0, 0},          In,  Operation::Unknown,         CdbCheck::UnknownItem},
  {"unknown 0xDF item",        {0xDF, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFC},          In,  Operation::Unknown,         CdbCheck::UnknownItem},
  {"0xDF without byte 11",     {0xDF, 0x10, 0, 0, 0x02, 0, 0, 0, 0, 0},                In,  Operation::Unknown,         CdbCheck::UnknownItem},
  {"WRITE(10)",                {0x2A, 0, 0, 0, 0, 0, 0, 0, 0x01, 0},                   Out, Operation::Unknown,         CdbCheck::ForeignOpcode},
  {"FORMAT UNIT",              {0x04, 0, 0, 0, 0, 0},                                  Out, Operation::Unknown,         CdbCheck::ForeignOpcode},
  {"empty",                    {},                                                     In,  Operation::Unknown,         CdbCheck::BadLength},
};
// clang-format on

TEST(CdbDecoderTest, ClassifiesAndChecksEachForm) {
  for (const DecodeCase& c : kCases) {
    SCOPED_TRACE(c.what);
    const DecodedCdb decoded = Decode(c.cdb, c.direction);
    EXPECT_EQ(decoded.operation, c.operation);
    EXPECT_EQ(decoded.check, c.check);
  }
}

TEST(CdbDecoderTest, NamesRoundTripExactly) {
  for (std::size_t i = 0; i < kOperationCount; ++i) {
    const auto operation = static_cast<Operation>(i);
    EXPECT_EQ(OperationFromName(OperationName(operation)), operation) << i;
  }
  EXPECT_EQ(OperationName(Operation::WriteBuffer), "WriteBuffer");
  EXPECT_EQ(OperationFromName("readnvram"), std::nullopt);
}

}  // namespace
}  // namespace korvane::sim
