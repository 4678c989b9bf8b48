#include "Win32Port.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <winioctl.h>

#include <ntddscsi.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Transport.h"

namespace korvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::string_view kPath = R"(\\?\usbstor#disk&ven_korvane&prod_bridge#1#{53f56307})";
const HANDLE kHandle = reinterpret_cast<HANDLE>(std::intptr_t{0x1234});

const Bytes kInquiryCdb = {0x12, 0, 0, 0, 0x28, 0, 0, 0, 0, 0, 0, 0};
const Bytes kStatusCdb = {0xFF, 0x04, 0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kReadBufferCdb = {0x3C, 0x03, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kWriteBuffer13Cdb = {0x3B, 0x06, 0x13, 0, 0, 0, 0, 0x04, 0, 0};
const Bytes kNvramMode1Cdb = {0xDF, 0x01, 0, 0x02, 0, 0, 0, 0, 0x01, 0x10, 0, 0xFB};
const Bytes kNvramMode2Cdb = {0xDF, 0x02, 0, 0x02, 0, 0, 0, 0, 0x01, 0x10, 0, 0xFB};
const Bytes kNvramMode3Cdb = {0xDF, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFB};

/// CreateFileA's arguments as the port passed them.
struct SeenOpen {
  std::string path;
  DWORD access = 0;
  DWORD share = 0;
  bool security = false;
  DWORD creation = 0;
  DWORD flags = 0;
  bool templateFile = false;
};

/// A DeviceIoControl call, decoded from the bytes the driver would read.
struct SeenIoctl {
  HANDLE handle = nullptr;
  DWORD code = 0;
  DWORD inSize = 0;
  DWORD outSize = 0;
  bool sameBlock = false;
  bool returnedGiven = false;
  bool overlapped = false;
  std::uintptr_t blockAddress = 0;
  SCSI_PASS_THROUGH_DIRECT block{};
  Bytes data;  ///< the data buffer's bytes when the call arrived
};

/// What the next DeviceIoControl does.
struct Script {
  BOOL result = TRUE;
  std::optional<DWORD> error;  ///< none: the call leaves the last error alone
  UCHAR scsiStatus = 0;
  std::optional<ULONG> transferred;  ///< none: DataTransferLength stays as asked
  Bytes deliver;                     ///< written into the data buffer
};

/// Plays the kernel: records every call and answers DeviceIoControl from a script.
class FakeWin32Api final : public Win32Api {
 public:
  HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                     DWORD creation, DWORD flags, HANDLE templateFile) override {
    calls.push_back("CreateFileA");
    opens.push_back(
        {path, access, share, security != nullptr, creation, flags, templateFile != nullptr});
    if (openError != 0) {
      lastError = openError;
      return INVALID_HANDLE_VALUE;
    }
    // A successful call may leave a value behind, as some do on success.
    if (errorLeftByOpen != 0) lastError = errorLeftByOpen;
    return kHandle;
  }

  BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                       DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) override {
    calls.push_back("DeviceIoControl");
    SeenIoctl seen;
    seen.handle = device;
    seen.code = code;
    seen.inSize = inSize;
    seen.outSize = outSize;
    seen.sameBlock = in == out;
    seen.returnedGiven = returned != nullptr;
    seen.overlapped = overlapped != nullptr;
    seen.blockAddress = reinterpret_cast<std::uintptr_t>(in);
    if (in == nullptr || inSize < sizeof(SCSI_PASS_THROUGH_DIRECT)) {
      ioctls.push_back(seen);
      return FALSE;
    }
    std::memcpy(&seen.block, in, sizeof seen.block);
    auto* buffer = static_cast<std::uint8_t*>(seen.block.DataBuffer);
    if (buffer != nullptr) seen.data.assign(buffer, buffer + seen.block.DataTransferLength);
    ioctls.push_back(seen);
    Answer(buffer, out, outSize);
    return script.result;
  }

  DWORD GetLastError() override {
    calls.push_back("GetLastError");
    return lastError;
  }

  void SetLastError(DWORD error) override {
    calls.push_back("SetLastError(" + std::to_string(error) + ")");
    lastError = error;
  }

  BOOL CloseHandle(HANDLE handle) override {
    calls.push_back("CloseHandle");
    closed.push_back(handle);
    return TRUE;
  }

  DWORD openError = 0;
  DWORD errorLeftByOpen = 0;
  Script script;
  Bytes sense;  ///< written at SenseInfoOffset, as far as the output buffer reaches
  std::optional<UCHAR> senseLengthClaimed;  ///< none: SenseInfoLength says what was written

  DWORD lastError = 0;
  std::vector<std::string> calls;
  std::vector<SeenOpen> opens;
  std::vector<SeenIoctl> ioctls;
  std::vector<HANDLE> closed;

 private:
  void Answer(std::uint8_t* buffer, LPVOID out, DWORD outSize) {
    SCSI_PASS_THROUGH_DIRECT block = ioctls.back().block;
    if (buffer != nullptr) {
      const auto count = std::min<std::size_t>(script.deliver.size(), block.DataTransferLength);
      std::copy_n(script.deliver.begin(), count, buffer);
    }
    block.ScsiStatus = script.scsiStatus;
    if (script.transferred) block.DataTransferLength = *script.transferred;
    const std::size_t room = outSize > block.SenseInfoOffset ? outSize - block.SenseInfoOffset : 0;
    const std::size_t senseCount =
        std::min({sense.size(), room, std::size_t{block.SenseInfoLength}});
    std::copy_n(sense.begin(), senseCount, static_cast<std::uint8_t*>(out) + block.SenseInfoOffset);
    block.SenseInfoLength = senseLengthClaimed.value_or(static_cast<UCHAR>(senseCount));
    std::memcpy(out, &block, sizeof block);
    if (script.error) lastError = *script.error;
  }
};

class Win32PortTest : public ::testing::Test {
 protected:
  FakeWin32Api api;
  Win32Port port{api};
  Transport io{port};
};

bool Aligned(std::uintptr_t address) { return address % 8192 == 0; }

bool Send(Transport& io, Direction direction, const Bytes& cdb, std::uint8_t* buffer,
          std::int32_t length, std::uint32_t* transferred = nullptr) {
  return direction == Direction::In ? io.ScsiCommandIn(kPath, cdb, buffer, length, transferred)
                                    : io.ScsiCommandOut(kPath, cdb, buffer, length, transferred);
}

TEST_F(Win32PortTest, OpensTheDiskAndFillsTheBlockTheDriverReads) {
  struct Case {
    const char* name;
    Direction direction;
    Bytes cdb;
    std::int32_t length;
    ULONG askedLength;
    ULONG timeout;
  };
  const Case cases[] = {
      {"inquiry", Direction::In, kInquiryCdb, 40, 40, 10},
      {"one byte in travels as two", Direction::In, kStatusCdb, 1, 2, 10},
      {"data in without data", Direction::In, kReadBufferCdb, 0, 0, 10},
      {"buffer id 0x13 waits long", Direction::Out, kWriteBuffer13Cdb, 1024, 1024, 100},
      {"nvram mode 3 waits long", Direction::Out, kNvramMode3Cdb, 0, 0, 100},
      {"nvram mode 2 waits less", Direction::Out, kNvramMode2Cdb, 512, 512, 50},
      {"one byte out travels as two", Direction::Out, kNvramMode1Cdb, 1, 2, 50},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool in = c.direction == Direction::In;
    api.opens.clear();
    api.ioctls.clear();
    Bytes buffer(1024, 0);
    EXPECT_TRUE(Send(io, c.direction, c.cdb, buffer.data(), c.length));

    ASSERT_EQ(api.opens.size(), 1u);
    const SeenOpen& open = api.opens[0];
    EXPECT_EQ(open.path, kPath);
    EXPECT_EQ(open.access, GENERIC_READ | GENERIC_WRITE);
    EXPECT_EQ(open.share, in ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0u);
    EXPECT_FALSE(open.security);
    EXPECT_EQ(open.creation, DWORD{OPEN_EXISTING});
    EXPECT_EQ(open.flags, 0u);
    EXPECT_FALSE(open.templateFile);

    ASSERT_EQ(api.ioctls.size(), 1u);
    const SeenIoctl& call = api.ioctls[0];
    EXPECT_EQ(call.handle, kHandle);
    EXPECT_EQ(call.code, 0x4D014u);
    EXPECT_EQ(call.inSize, 44u);
    EXPECT_EQ(call.outSize, 66u);
    EXPECT_TRUE(call.sameBlock);
    EXPECT_TRUE(call.returnedGiven);
    EXPECT_FALSE(call.overlapped);
    EXPECT_TRUE(Aligned(call.blockAddress));

    const SCSI_PASS_THROUGH_DIRECT& b = call.block;
    EXPECT_EQ(b.Length, 44);
    EXPECT_EQ(b.ScsiStatus, 0);
    EXPECT_EQ(b.PathId, 0);
    EXPECT_EQ(b.TargetId, 1);
    EXPECT_EQ(b.Lun, 0);
    EXPECT_EQ(std::size_t{b.CdbLength}, c.cdb.size());
    EXPECT_EQ(b.SenseInfoLength, 18);
    EXPECT_EQ(b.DataIn, in ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT);
    EXPECT_EQ(b.DataTransferLength, c.askedLength);
    EXPECT_EQ(b.TimeOutValue, c.timeout);
    EXPECT_EQ(b.SenseInfoOffset, 48u);
    EXPECT_EQ(b.DataBuffer == nullptr, c.askedLength == 0);
    EXPECT_TRUE(Aligned(reinterpret_cast<std::uintptr_t>(b.DataBuffer)));
    Bytes cdb(c.cdb);
    cdb.resize(16, 0);
    EXPECT_EQ(Bytes(b.Cdb, b.Cdb + 16), cdb);
  }
}

TEST_F(Win32PortTest, DataOutSendsTheCallersBytesPaddedWithZeros) {
  struct Case {
    const char* name;
    std::optional<Bytes> caller;
    std::int32_t length;
    Bytes sent;
  };
  const Case cases[] = {
      {"one byte and a zero", Bytes{0xA5}, 1, {0xA5, 0x00}},
      {"no buffer sends zeros", std::nullopt, 4, {0, 0, 0, 0}},
      {"bytes as given", Bytes{1, 2, 3}, 3, {1, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    api.ioctls.clear();
    const std::uint8_t* data = c.caller ? c.caller->data() : nullptr;
    EXPECT_TRUE(io.ScsiCommandOut(kPath, kNvramMode1Cdb, data, c.length));
    ASSERT_EQ(api.ioctls.size(), 1u);
    EXPECT_EQ(api.ioctls[0].data, c.sent);
  }
}

TEST_F(Win32PortTest, VerdictFollowsCallLastErrorAndStatus) {
  struct Case {
    const char* name;
    Direction direction;
    std::int32_t length;
    Script script;
    DWORD errorLeftByOpen;
    bool ok;
    Bytes callerAfter;  ///< caller buffer afterwards, one canary byte past the length
    std::uint32_t transferred;
    DWORD osError;
  };
  // clang-format off
  const Case cases[] = {
      {"one byte in comes back alone", Direction::In, 1,
       {TRUE, 0, 0, std::nullopt, {0x42, 0x99}}, 0, true, {0x42, 0xEE}, 2, 0},
      {"short transfer is reported as the driver left it", Direction::In, 4,
       {TRUE, 0, 0, 3, {1, 2, 3}}, 0, true, {1, 2, 3, 0, 0xEE}, 3, 0},
      {"failed call still overwrites the caller's bytes", Direction::In, 4,
       {FALSE, ERROR_IO_DEVICE, 0, 0, {}}, 0, false, {0, 0, 0, 0, 0xEE}, 0, ERROR_IO_DEVICE},
      {"check condition fails a successful call", Direction::In, 2,
       {TRUE, 0, 2, 2, {0x70, 0}}, 0, false, {0x70, 0, 0xEE}, 2, 0},
      {"last error fails a successful call", Direction::In, 2,
       {TRUE, ERROR_GEN_FAILURE, 0, 2, {5, 6}}, 0, false, {5, 6, 0xEE}, 2, ERROR_GEN_FAILURE},
      {"stale last error does not fail a good command", Direction::Out, 2,
       {TRUE, std::nullopt, 0, 2, {}}, ERROR_ALREADY_EXISTS, true, {0xEE, 0xEE, 0xEE}, 2, 0},
      {"failed write leaves the caller's bytes alone", Direction::Out, 2,
       {TRUE, 0, 2, 0, {9, 9}}, 0, false, {0xEE, 0xEE, 0xEE}, 0, 0},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWin32Api fake;
    fake.script = c.script;
    fake.errorLeftByOpen = c.errorLeftByOpen;
    Win32Port win32(fake);
    Transport transport(win32);
    Bytes buffer(static_cast<std::size_t>(c.length) + 1, 0xEE);
    std::uint32_t transferred = 0xDEAD;
    const Bytes& cdb = c.direction == Direction::In ? kStatusCdb : kNvramMode1Cdb;
    EXPECT_EQ(Send(transport, c.direction, cdb, buffer.data(), c.length, &transferred), c.ok);
    EXPECT_EQ(buffer, c.callerAfter);
    EXPECT_EQ(transferred, c.transferred);
    EXPECT_EQ(transport.LastOutcome().osError, c.osError);
    // The last error is cleared right before the request and read right after it, and the
    // handle never outlives the command.
    const std::vector<std::string> order = {"CreateFileA", "SetLastError(0)", "DeviceIoControl",
                                            "GetLastError", "CloseHandle"};
    EXPECT_EQ(fake.calls, order);
    EXPECT_EQ(fake.closed, std::vector<HANDLE>{kHandle});
  }
}

TEST(Win32PortSense, RefusalIsDescribedWithTheSenseTheDriverWroteBehindTheBlock) {
  struct Case {
    const char* name;
    Bytes sense;
    std::optional<UCHAR> claimed;
    const char* words;  ///< what the failure's description ends with
  };
  const Bytes fixed = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0x00, 0, 0, 0, 0};
  const char* refused =
      "rejected command 0xff (SCSI status 0x02): ILLEGAL REQUEST, invalid field in CDB (05/24/00)";
  const Case cases[] = {
      {"fixed format", fixed, std::nullopt, refused},
      {"a count past what was asked for is cut", fixed, 200, refused},
      {"none", {}, std::nullopt, "rejected command 0xff (SCSI status 0x02)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWin32Api fake;
    fake.script.scsiStatus = 2;
    fake.sense = c.sense;
    fake.senseLengthClaimed = c.claimed;
    Win32Port win32(fake);
    Transport transport(win32);
    std::uint8_t status = 0;
    EXPECT_FALSE(transport.ScsiCommandIn(kPath, kStatusCdb, &status, 1));
    const std::string words = transport.DescribeLastFailure(kPath);
    EXPECT_TRUE(words.ends_with(c.words)) << words;
  }
}

TEST_F(Win32PortTest, UnopenableDiskFailsBeforeAnyRequest) {
  struct Case {
    Direction direction;
    DWORD error;
    const char* words;
  };
  const Case cases[] = {
      {Direction::In, ERROR_FILE_NOT_FOUND, "the disk is no longer attached"},
      {Direction::Out, ERROR_SHARING_VIOLATION, "another program has the disk open"},
      {Direction::In, ERROR_ACCESS_DENIED, "administrator rights"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    FakeWin32Api fake;
    fake.openError = c.error;
    Win32Port win32(fake);
    Transport transport(win32);
    Bytes buffer(4, 0xEE);
    std::uint32_t transferred = 0xDEAD;
    const Bytes& cdb = c.direction == Direction::In ? kInquiryCdb : kNvramMode1Cdb;
    EXPECT_FALSE(Send(transport, c.direction, cdb, buffer.data(), 4, &transferred));
    EXPECT_EQ(transferred, 0xDEADu);
    EXPECT_EQ(buffer, Bytes(4, 0xEE));
    EXPECT_TRUE(fake.ioctls.empty());
    EXPECT_TRUE(fake.closed.empty());
    EXPECT_EQ(transport.LastOutcome().verdict, Verdict::OpenFailed);
    EXPECT_EQ(transport.LastOutcome().osError, c.error);
    EXPECT_NE(transport.DescribeLastFailure(kPath).find(c.words), std::string::npos)
        << transport.DescribeLastFailure(kPath);
  }
}

TEST_F(Win32PortTest, RefusesWhatTheDriverWouldMisread) {
  // A path is handed to CreateFileA as C text: an embedded NUL would name another device.
  const PortOpen open = port.Open(std::string_view("\\\\?\\usbstor#a\0b", 16), Direction::In);
  EXPECT_FALSE(open.ok);
  EXPECT_EQ(open.osError, DWORD{ERROR_INVALID_NAME});
  EXPECT_TRUE(api.opens.empty());

  std::array<std::uint8_t, 17> cdb{0x12};
  std::array<std::uint8_t, 64> block{};
  struct Case {
    const char* name;
    std::size_t cdbLength;
    std::size_t blockSize;
  };
  for (const Case& c :
       {Case{"no CDB", 0, 64}, Case{"CDB of 17 bytes", 17, 64}, Case{"block too small", 12, 43}}) {
    SCOPED_TRACE(c.name);
    PortRequest request;
    request.cdb = {cdb.data(), c.cdbLength};
    request.requestBlock = {block.data(), c.blockSize};
    const PortReply reply = port.Execute(reinterpret_cast<PortHandle>(kHandle), request);
    EXPECT_FALSE(reply.requestOk);
    EXPECT_EQ(reply.lastError, DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_TRUE(api.ioctls.empty());
    EXPECT_EQ(block, (std::array<std::uint8_t, 64>{}));
  }
}

TEST_F(Win32PortTest, ExplainsWindowsErrorsInPlainWords) {
  struct Case {
    FailureStage stage;
    DWORD error;
    const char* text;
  };
  const Case cases[] = {
      {FailureStage::Open, ERROR_ACCESS_DENIED,
       "cannot open D: the program needs administrator rights to use the disk"},
      {FailureStage::Open, ERROR_SHARING_VIOLATION,
       "cannot open D: another program has the disk open"},
      {FailureStage::Open, ERROR_FILE_NOT_FOUND, "cannot open D: the disk is no longer attached"},
      {FailureStage::Open, ERROR_PATH_NOT_FOUND, "cannot open D: the disk is no longer attached"},
      {FailureStage::Request, ERROR_DEVICE_NOT_CONNECTED,
       "cannot send the command to D: the disk is no longer attached"},
      {FailureStage::Request, ERROR_IO_DEVICE, "cannot send the command to D: Windows error 1117"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(port.Explain("D", c.stage, c.error), c.text);
  }
}

TEST(SystemWin32ApiTest, MissingDiskFailsToOpenWithTheKernelsError) {
  SystemWin32Api api;
  Win32Port port(api);
  Transport io(port);
  std::array<std::uint8_t, 40> buffer{};
  std::uint32_t transferred = 0xDEAD;

  EXPECT_FALSE(
      io.ScsiCommandIn(R"(\\.\KorvaneNoSuchDisk)", kInquiryCdb, buffer.data(), 40, &transferred));
  EXPECT_EQ(transferred, 0xDEADu);
  EXPECT_EQ(io.LastOutcome().verdict, Verdict::OpenFailed);
  EXPECT_EQ(io.LastOutcome().osError, DWORD{ERROR_FILE_NOT_FOUND});
}

}  // namespace
}  // namespace korvane
