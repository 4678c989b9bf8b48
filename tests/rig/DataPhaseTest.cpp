#include "DataPhase.h"

#include <gtest/gtest.h>

#include "BridgeCommands.h"
#include "Transport.h"

namespace korvane::gadget {
namespace {

constexpr DataDirection In = DataDirection::In;
constexpr DataDirection Out = DataDirection::Out;
constexpr DataDirection None = DataDirection::None;

struct BuilderCase {
  const char* what;
  BuiltCdb cdb;
  DataDirection direction;  ///< as the program sends it
  std::int32_t length;      ///< the caller's length, before the transport adjusts it
};

// Each builder with the length its callers in the program pass.
const BuilderCase kBuilderCases[] = {
    {"identity", BuildReadIdentity(), In, 16},
    {"identity, alternate", BuildReadIdentityAlt(), In, 16},
    {"INQUIRY", BuildInquiry(kInquiryLength), In, 40},
    {"status", BuildReadStatus(), In, 1},
    {"flash type", BuildReadFlashType(), In, 4},
    {"NVRAM record", BuildReadNvram(0x11000, 512), In, 512},
    {"NVRAM write", BuildWriteNvram(NvramWriteMode::Record, 0x11000, 512), Out, 512},
    {"loader start", BuildWriteNvram(NvramWriteMode::StartLoader, 0, 0), Out, 0},
    {"memory at 0xFDB0", BuildReadMemory(0xFDB0, 4), In, 4},
    {"configuration word", BuildReadConfigWord(), In, 2},
    {"0xB5", BuildReadVendorB5(100, 1), In, 512},
    {"buffer descriptor", BuildReadBuffer(ReadBufferMode::Descriptor, BufferId::Firmware, 0, 4), In,
     4},
    {"flash read-back", BuildReadBuffer(ReadBufferMode::Data, BufferId::Firmware, 0x400, 65536), In,
     65536},
    {"firmware block",
     BuildWriteBuffer(WriteBufferMode::DownloadDeferred, BufferId::Firmware, 0x400, 1024), Out,
     1024},
    {"loader", BuildWriteBuffer(WriteBufferMode::DownloadActivate, BufferId::Firmware, 0, 65536),
     Out, 65536},
    {"REQUEST SENSE", BuildRequestSense(), In, 18},
};

TEST(DataPhaseTest, AgreesWithWhatTheProgramSends) {
  for (const BuilderCase& c : kBuilderCases) {
    SCOPED_TRACE(c.what);
    const DataPhase phase = PhaseOf(ToField(c.cdb.view()));
    EXPECT_TRUE(phase.known);
    EXPECT_EQ(phase.direction, c.direction);
    EXPECT_EQ(phase.length, static_cast<std::uint32_t>(AdjustedLength(c.length)));
    EXPECT_EQ(phase.cdbLength, c.cdb.length);
  }
}

// The chip tag is the one read whose caller asks for more than the bridge sends: 40 bytes for
// an 8-byte answer, which ends the transfer short, as the host allows.
TEST(DataPhaseTest, ChipTagAnswersLessThanTheCallerAsks) {
  const DataPhase phase = PhaseOf(ToField(BuildReadChipTag().view()));
  EXPECT_EQ(phase.direction, In);
  EXPECT_EQ(phase.length, 8u);
}

struct KernelCase {
  const char* what;
  std::vector<std::uint8_t> cdb;
  bool known;
  DataDirection direction;
  std::uint32_t length;
};

// clang-format off
const KernelCase kKernelCases[] = {
  {"INQUIRY, 6 bytes",     {0x12, 0, 0, 0, 36, 0},                           true,  In,   36},
  {"TEST UNIT READY",      {0x00, 0, 0, 0, 0, 0},                            true,  None, 0},
  {"READ CAPACITY(10)",    {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0},                true,  In,   8},
  {"READ CAPACITY(16)",    {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32}, true, In,   32},
  {"other service action", {0x9E, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32}, false, None, 0},
  {"READ(10), 8 blocks",   {0x28, 0, 0, 0, 0, 0, 0, 0, 8, 0},                true,  In,   4096},
  {"WRITE(10), 240",       {0x2A, 0, 0, 0, 0, 0, 0, 0, 240, 0},              true,  Out,  122880},
  {"READ(16), 2 blocks",   {0x88, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0}, true, In,  1024},
  {"MODE SENSE(6)",        {0x1A, 0, 0x3F, 0, 192, 0},                       true,  In,   192},
  {"MODE SENSE(10)",       {0x5A, 0, 0x3F, 0, 0, 0, 0, 0x01, 0x00, 0},       true,  In,   256},
  {"REPORT LUNS",          {0xA0, 0, 0, 0, 0, 0, 0, 0, 0x10, 0, 0, 0},       true,  In,   4096},
  {"0xFF, unknown item",   {0xFF, 0x04, 0x99, 0, 0, 0, 0, 0, 0, 0, 0, 0},    false, None, 0},
  {"0xDF, unknown item",   {0xDF, 0x10, 0, 0, 0x02, 0, 0, 0, 0, 0, 0, 0xFC}, false, None, 0},
  {"REPORT SUPPORTED OPS", {0xA3, 0x0C, 0, 0, 0, 0, 0, 0, 0x02, 0, 0, 0},    false, None, 0},
};
// clang-format on

TEST(DataPhaseTest, ReadsTheKernelsCommands) {
  for (const KernelCase& c : kKernelCases) {
    SCOPED_TRACE(c.what);
    const DataPhase phase = PhaseOf(ToField(c.cdb));
    EXPECT_EQ(phase.known, c.known);
    EXPECT_EQ(phase.direction, c.direction);
    EXPECT_EQ(phase.length, c.length);
  }
}

struct ShortCase {
  std::uint32_t sent, expected, maxPacket;
  bool ends;
};

TEST(DataPhaseTest, MarksShortAnswersThatEndOnAPacket) {
  const ShortCase cases[] = {
      {0, 512, 512, true},    {512, 1024, 512, true}, {16, 64, 512, false},
      {512, 512, 512, false}, {64, 128, 64, true},    {100, 128, 64, false},
  };
  for (const ShortCase& c : cases) {
    EXPECT_EQ(ShortEndsOnPacket(c.sent, c.expected, c.maxPacket), c.ends)
        << c.sent << " of " << c.expected << " in packets of " << c.maxPacket;
  }
}

}  // namespace
}  // namespace korvane::gadget
