#include "linux/SgIoPort.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "BlockHold.h"
#include "Transport.h"

namespace korvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kFd = 7;
constexpr std::uint16_t kDriverSense = 0x08;
constexpr std::uint16_t kDidError = 0x07;

/// What the device does with one request.
struct Answer {
  int result = 0;
  int error = 0;  ///< errno left by a failed ioctl
  std::uint8_t status = 0;
  std::uint16_t hostStatus = 0;
  std::uint16_t driverStatus = 0;
  int resid = 0;
  Bytes fill{};   ///< bytes the device delivers into the data buffer
  Bytes sense{};  ///< sense bytes the kernel writes back
};

/// The sg_io_hdr as the kernel would read it.
struct Seen {
  int interfaceId = 0;
  int direction = 0;
  Bytes cdb;
  unsigned dxferLen = 0;
  bool dataNull = true;
  bool headerAligned = false;
  bool dataAligned = false;
  unsigned timeoutMs = 0;
  bool senseInRequestRegion = false;
  Bytes sent;
};

bool Aligned(const void* p) { return reinterpret_cast<std::uintptr_t>(p) % 8192 == 0; }

class FakeLinuxApi : public LinuxApi {
 public:
  int Open(const char* path, int flags) override {
    paths.emplace_back(path);
    openFlags.push_back(flags);
    const std::string how = (flags & O_EXCL) != 0 ? " excl " : " ";
    if (openError == 0) {
      const int fd = distinctFds ? nextFd++ : kFd;
      events.push_back("open " + std::string(path) + how + std::to_string(fd));
      return fd;
    }
    events.push_back("open " + std::string(path) + how + "fails");
    errno_ = openError;
    return -1;
  }

  int SgIo(int fd, sg_io_hdr_t* hdr) override {
    if (!distinctFds) {
      EXPECT_EQ(fd, kFd);
    }
    events.push_back("io " + std::to_string(fd));
    seen.push_back(Decode(*hdr));
    if (answer.result != 0) {
      errno_ = answer.error;
      return answer.result;
    }
    auto* data = static_cast<std::uint8_t*>(hdr->dxferp);
    for (std::size_t i = 0; i < answer.fill.size() && i < hdr->dxfer_len; ++i) {
      data[i] = answer.fill[i];
    }
    hdr->status = answer.status;
    hdr->host_status = answer.hostStatus;
    hdr->driver_status = answer.driverStatus;
    hdr->resid = answer.resid;
    const std::size_t senseLength = std::min<std::size_t>(answer.sense.size(), hdr->mx_sb_len);
    std::copy_n(answer.sense.begin(), senseLength, hdr->sbp);
    hdr->sb_len_wr = static_cast<unsigned char>(senseLength);
    return 0;
  }

  int Fsync(int) override { return 0; }

  int Close(int fd) override {
    closed.push_back(fd);
    events.push_back("close " + std::to_string(fd));
    return 0;
  }

  int LastErrno() override { return errno_; }

  static Seen Decode(const sg_io_hdr_t& hdr) {
    Seen s{hdr.interface_id,
           hdr.dxfer_direction,
           Bytes(hdr.cmdp, hdr.cmdp + hdr.cmd_len),
           hdr.dxfer_len,
           hdr.dxferp == nullptr,
           Aligned(&hdr),
           Aligned(hdr.dxferp),
           hdr.timeout,
           hdr.mx_sb_len == 18 && hdr.sbp == hdr.cmdp + 16,
           {}};
    if (hdr.dxfer_direction == SG_DXFER_TO_DEV) {
      const auto* data = static_cast<const std::uint8_t*>(hdr.dxferp);
      s.sent.assign(data, data + hdr.dxfer_len);
    }
    return s;
  }

  int openError = 0;
  Answer answer;
  std::vector<std::string> paths;
  std::vector<int> openFlags;
  std::vector<Seen> seen;
  std::vector<int> closed;
  bool distinctFds = false;  ///< each open gets a descriptor of its own, from 3
  int nextFd = 3;
  std::vector<std::string> events;  ///< opens, requests and closes, in order

 private:
  int errno_ = EAGAIN;  // a stale value, as errno holds after earlier calls
};

/// The port under test, driven through the real transport.
struct Rig {
  FakeLinuxApi api;
  SgIoPort port{api};
  Transport transport{port};
};

const Bytes kInquiry = {0x12, 0, 0, 0, 40, 0};
const Bytes kWriteBuffer = {0x3B, 0x05, 0, 0, 0, 0, 0, 0, 4, 0};
const Bytes kWriteBuffer13 = {0x3B, 0x06, 0x13, 0, 0, 0, 0, 0, 4, 0};
const Bytes kVendorWrite3 = {0xFF, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFB};
const Bytes kVendorWrite2 = {0xFF, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFB};

TEST(SgIoPortTest, HeaderCarriesTheTransportRules) {
  struct Case {
    const char* name;
    Direction direction;
    Bytes cdb;
    std::int32_t length;
    int sgDirection;
    unsigned dxferLen;
    unsigned timeoutMs;
  };
  const Case cases[] = {
      {"in of 1 asks for 2", Direction::In, kInquiry, 1, SG_DXFER_FROM_DEV, 2, 10000},
      {"in of 40", Direction::In, kInquiry, 40, SG_DXFER_FROM_DEV, 40, 10000},
      {"in without data", Direction::In, kInquiry, 0, SG_DXFER_NONE, 0, 10000},
      {"out of 1 sends 2", Direction::Out, kWriteBuffer, 1, SG_DXFER_TO_DEV, 2, 50000},
      {"out without data", Direction::Out, kWriteBuffer, 0, SG_DXFER_NONE, 0, 50000},
      {"out, byte 2 is 0x13", Direction::Out, kWriteBuffer13, 4, SG_DXFER_TO_DEV, 4, 100000},
      {"vendor write, byte 1 is 3", Direction::Out, kVendorWrite3, 4, SG_DXFER_TO_DEV, 4, 100000},
      {"vendor write, byte 1 is 2", Direction::Out, kVendorWrite2, 4, SG_DXFER_TO_DEV, 4, 50000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    Bytes buffer(static_cast<std::size_t>(c.length) + 1, 0);
    const bool ok = c.direction == Direction::In
                        ? rig.transport.ScsiCommandIn("/dev/sg2", c.cdb, buffer.data(), c.length)
                        : rig.transport.ScsiCommandOut("/dev/sg2", c.cdb, buffer.data(), c.length);
    EXPECT_TRUE(ok);
    ASSERT_EQ(rig.api.seen.size(), 1u);
    const Seen& s = rig.api.seen[0];
    EXPECT_EQ(s.interfaceId, 'S');
    EXPECT_EQ(s.direction, c.sgDirection);
    EXPECT_EQ(s.cdb, c.cdb);
    EXPECT_EQ(s.dxferLen, c.dxferLen);
    EXPECT_EQ(s.dataNull, c.dxferLen == 0);
    EXPECT_TRUE(s.headerAligned);
    EXPECT_TRUE(s.dataNull || s.dataAligned);
    EXPECT_EQ(s.timeoutMs, c.timeoutMs);
    EXPECT_TRUE(s.senseInRequestRegion);
    ASSERT_EQ(rig.api.openFlags.size(), 1u);
    const int expected =
        O_RDWR | O_NONBLOCK | O_CLOEXEC | (c.direction == Direction::Out ? O_EXCL : 0);
    EXPECT_EQ(rig.api.openFlags[0], expected);
    EXPECT_EQ(rig.api.paths[0], "/dev/sg2");
    EXPECT_EQ(rig.api.closed, std::vector<int>{kFd});
  }
}

TEST(SgIoPortTest, DataInReachesTheCallerWhateverTheVerdict) {
  Rig rig;
  struct Case {
    const char* name;
    std::int32_t length;
    Answer answer;
    bool ok;
    Bytes caller;
    std::uint32_t transferred;
  };
  const Case cases[] = {
      {"1 byte of 2 copied", 1, {.fill = {0xAB, 0xCD}}, true, {0xAB}, 2},
      {"short transfer", 1, {.resid = 1, .fill = {0xAB}}, true, {0xAB}, 1},
      {"check condition keeps data",
       4,
       {.status = 2, .resid = 3, .fill = {0x11}},
       false,
       {0x11, 0, 0, 0},
       1},
      {"failed ioctl leaves zeros", 4, {.result = -1, .error = EIO}, false, {0, 0, 0, 0}, 0},
      {"resid beyond the buffer", 4, {.resid = 9}, true, {0, 0, 0, 0}, 0},
      {"negative resid", 4, {.resid = -5, .fill = {1, 2, 3, 4}}, true, {1, 2, 3, 4}, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rig.api.answer = c.answer;
    Bytes buffer(c.length + 1, 0xEE);
    std::uint32_t transferred = 0xDEADBEEF;
    EXPECT_EQ(
        rig.transport.ScsiCommandIn("/dev/sg2", kInquiry, buffer.data(), c.length, &transferred),
        c.ok);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.end() - 1), c.caller);
    EXPECT_EQ(buffer.back(), 0xEE) << "wrote past the caller's length";
    EXPECT_EQ(transferred, c.transferred);
  }
}

TEST(SgIoPortTest, DataOutSendsTheCallerBytesPaddedWithZeros) {
  Rig rig;
  const Bytes one = {0x5A};
  const Bytes three = {1, 2, 3};
  struct Case {
    const char* name;
    const std::uint8_t* data;
    std::int32_t length;
    Bytes sent;
  };
  const Case cases[] = {
      {"1 byte travels with a zero", one.data(), 1, {0x5A, 0}},
      {"null buffer sends zeros", nullptr, 4, {0, 0, 0, 0}},
      {"bytes as given", three.data(), 3, {1, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rig.api.seen.clear();
    std::uint32_t transferred = 0;
    EXPECT_TRUE(
        rig.transport.ScsiCommandOut("/dev/sg2", kWriteBuffer, c.data, c.length, &transferred));
    ASSERT_EQ(rig.api.seen.size(), 1u);
    EXPECT_EQ(rig.api.seen[0].sent, c.sent);
    EXPECT_EQ(transferred, c.sent.size());
  }
}

TEST(SgIoPortTest, SuccessNeedsACleanIoctlAndAllThreeStatusBytes) {
  Rig rig;
  struct Case {
    const char* name;
    Answer answer;
    bool ok;
    FailureStage stage;
    std::uint32_t osError;
  };
  const Case cases[] = {
      {"clean, stale errno ignored", {}, true, FailureStage::None, 0},
      {"check condition", {.status = 0x02}, false, FailureStage::Status, 0},
      {"busy", {.status = 0x08}, false, FailureStage::Status, 0},
      {"host adapter error", {.hostStatus = kDidError}, false, FailureStage::Status, 0},
      {"driver sense", {.driverStatus = kDriverSense}, false, FailureStage::Status, 0},
      {"ioctl refused", {.result = -1, .error = EPERM}, false, FailureStage::Request, EPERM},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rig.api.answer = c.answer;
    rig.api.closed.clear();
    EXPECT_EQ(rig.transport.ScsiCommandIn("/dev/sdb", kInquiry, nullptr, 0), c.ok);
    const CommandOutcome& out = rig.transport.LastOutcome();
    EXPECT_EQ(out.stage, c.stage);
    EXPECT_EQ(out.osError, c.osError);
    EXPECT_EQ(out.scsiStatus, c.answer.status);
    EXPECT_EQ(out.hostStatus, c.answer.hostStatus);
    EXPECT_EQ(out.driverStatus, c.answer.driverStatus);
    EXPECT_EQ(rig.api.closed, std::vector<int>{kFd}) << "descriptor not closed exactly once";
  }
}

TEST(SgIoPortTest, FailureIsDescribedWithTheKernelsSenseAndHostStatus) {
  struct Case {
    const char* name;
    Answer answer;
    const char* words;  ///< what the failure's description ends with
  };
  const Bytes fixed = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0x00, 0, 0, 0, 0};
  const Case cases[] = {
      {"fixed format, driver sense not mentioned",
       {.status = 0x02, .driverStatus = kDriverSense, .sense = fixed},
       "rejected command 0x12 (SCSI status 0x02): ILLEGAL REQUEST, invalid command operation "
       "code (05/20/00)"},
      {"descriptor format",
       {.status = 0x02, .sense = {0x72, 0x04, 0x44, 0x00, 0, 0, 0, 0}},
       "HARDWARE ERROR, internal target failure (04/44/00)"},
      {"unknown code",
       {.status = 0x02, .sense = {0xF0, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x99}},
       "(SCSI status 0x02): MEDIUM ERROR (03/99/00)"},
      {"cut before the key", {.status = 0x02, .sense = {0x70, 0}}, "(SCSI status 0x02)"},
      {"not sense at all", {.status = 0x02, .sense = {0x12, 0, 0x05}}, "(SCSI status 0x02)"},
      {"time-out",
       {.hostStatus = 0x03},
       "the device did not answer within the command's time-out, and the kernel reset it"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig;
    rig.api.answer = c.answer;
    EXPECT_FALSE(rig.transport.ScsiCommandIn("/dev/sg1", kInquiry, nullptr, 0));
    EXPECT_TRUE(rig.transport.DescribeLastFailure("/dev/sg1").ends_with(c.words))
        << rig.transport.DescribeLastFailure("/dev/sg1");
  }
}

TEST(SgIoPortTest, UnopenableDiskFailsBeforeAnyRequest) {
  Rig rig;
  rig.api.openError = EACCES;
  Bytes data = {1, 2, 3, 4};
  std::uint32_t transferred = 0xDEADBEEF;
  EXPECT_FALSE(
      rig.transport.ScsiCommandOut("/dev/sg3", kWriteBuffer, data.data(), 4, &transferred));
  EXPECT_EQ(transferred, 0xDEADBEEF);
  EXPECT_TRUE(rig.api.seen.empty());
  EXPECT_TRUE(rig.api.closed.empty());
  EXPECT_EQ(rig.transport.LastOutcome().osError, static_cast<std::uint32_t>(EACCES));
  EXPECT_NE(rig.transport.DescribeLastFailure("/dev/sg3").find("no permission to open /dev/sg3"),
            std::string::npos);
}

TEST(SgIoPortTest, MalformedInputNeverReachesTheKernel) {
  Rig rig;
  const std::string withNul("/dev/sg2\0/dev/sda", 17);
  const PortOpen opened = rig.port.Open(withNul, Direction::In);
  EXPECT_FALSE(opened.ok);
  EXPECT_EQ(opened.osError, static_cast<std::uint32_t>(EINVAL));
  EXPECT_TRUE(rig.api.paths.empty());

  AlignedBuffer block(kRequestRegionSize);
  const Bytes longCdb(17, 0x12);
  const PortRequest tooLong{longCdb, Direction::In, {}, 10, block.bytes()};
  const PortRequest noRoom{kInquiry, Direction::In, {}, 10, block.bytes().first(16)};
  for (const PortRequest* bad : {&tooLong, &noRoom}) {
    const PortReply reply = rig.port.Execute(kFd, *bad);
    EXPECT_FALSE(reply.requestOk);
    EXPECT_EQ(reply.lastError, static_cast<std::uint32_t>(EINVAL));
  }
  EXPECT_TRUE(rig.api.seen.empty());

  // An all-ones time-out means "never" to the driver.
  const PortRequest forever{kInquiry, Direction::In, {}, UINT32_MAX, block.bytes()};
  EXPECT_TRUE(rig.port.Execute(kFd, forever).requestOk);
  ASSERT_EQ(rig.api.seen.size(), 1u);
  EXPECT_EQ(rig.api.seen[0].timeoutMs, UINT_MAX - 1);
}

TEST(SgIoPortTest, KeptNodesAreReusedUntilAFailureARescanOrTheEnd) {
  enum class Act { In, Out, Release, Hold, Unhold };
  struct Step {
    Act act;
    const char* path = "/dev/sg2";
    Answer answer{};
    int openError = 0;
  };
  struct Case {
    const char* name;
    bool keep;
    std::vector<Step> steps;
    const char* events;  ///< what the system saw, the port's destruction included
  };
  const Case cases[] = {
      {"without keeping, one open per command",
       false,
       {{Act::In}, {Act::Out}},
       "open /dev/sg2 3, io 3, close 3, open /dev/sg2 excl 4, io 4, close 4"},
      {"reads share one open; a write reopens it exclusively, and reads then use that",
       true,
       {{Act::In}, {Act::In}, {Act::Out}, {Act::Out}, {Act::In}},
       "open /dev/sg2 3, io 3, io 3, close 3, open /dev/sg2 excl 4, io 4, io 4, io 4, close 4"},
      {"a disk we hold is written through the open it has, and claimed once the hold ends",
       true,
       {{Act::Hold, "/dev/sdb"},
        {Act::In, "/dev/sdb"},
        {Act::Out, "/dev/sdb"},
        {Act::Unhold, "/dev/sdb"},
        {Act::Out, "/dev/sdb"}},
       "open /dev/sdb 3, io 3, io 3, close 3, open /dev/sdb excl 4, io 4, close 4"},
      {"a failed ioctl and a host status close the node; a check condition does not",
       true,
       {{Act::In, "/dev/sg2", {.result = -1, .error = ENODEV}},
        {Act::In, "/dev/sg2", {.hostStatus = 0x01}},
        {Act::In, "/dev/sg2", {.status = 0x02}},
        {Act::In}},
       "open /dev/sg2 3, io 3, close 3, open /dev/sg2 4, io 4, close 4, open /dev/sg2 5, io 5, "
       "io 5, close 5"},
      {"a refused exclusive open leaves nothing kept",
       true,
       {{Act::In}, {Act::Out, "/dev/sg2", {}, EBUSY}, {Act::In}},
       "open /dev/sg2 3, io 3, close 3, open /dev/sg2 excl fails, open /dev/sg2 4, io 4, close 4"},
      {"a release closes every kept node",
       true,
       {{Act::In}, {Act::In, "/dev/sg3"}, {Act::Release}, {Act::In}},
       "open /dev/sg2 3, io 3, open /dev/sg3 4, io 4, close 3, close 4, open /dev/sg2 5, io 5, "
       "close 5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeLinuxApi api;
    api.distinctFds = true;
    HeldNodes held;
    auto port = std::make_unique<SgIoPort>(api, &held);
    if (c.keep) port->KeepOpen();
    Transport transport(*port);
    for (const Step& step : c.steps) {
      api.answer = step.answer;
      api.openError = step.openError;
      if (step.act == Act::In) transport.ScsiCommandIn(step.path, kInquiry, nullptr, 0);
      if (step.act == Act::Out) transport.ScsiCommandOut(step.path, kWriteBuffer, nullptr, 0);
      if (step.act == Act::Release) port->CloseKept();
      if (step.act == Act::Hold) held.Add(step.path);
      if (step.act == Act::Unhold) held.Remove(step.path);
      // A refused open is reported as it always was.
      if (step.openError != 0) {
        EXPECT_EQ(transport.LastOutcome().stage, FailureStage::Open);
        EXPECT_EQ(transport.LastOutcome().osError, static_cast<std::uint32_t>(step.openError));
      }
    }
    port.reset();
    std::string events;
    for (const std::string& event : api.events) events += (events.empty() ? "" : ", ") + event;
    EXPECT_EQ(events, c.events);
  }
}

TEST(SgIoPortExplain, NamesWhatTheUserLacks) {
  struct Case {
    FailureStage stage;
    int error;
    const char* expected;
  };
  const Case cases[] = {
      {FailureStage::Open, EACCES,
       "no permission to open /dev/sdb: install the korvane-fw package, whose udev rule gives "
       "the user at the computer the enclosure's /dev/sgN node (then plug the enclosure in "
       "again), or run with sudo"},
      {FailureStage::Request, EPERM,
       "the kernel passes vendor commands through /dev/sdb only to a process with "
       "CAP_SYS_RAWIO: run as root or use the /dev/sgN node"},
      {FailureStage::Open, EBUSY,
       "/dev/sdb: the disk is in use (a mounted partition or another program)"},
      {FailureStage::Open, ENOENT, "/dev/sdb: the disk is no longer attached"},
      {FailureStage::Request, ENODEV, "/dev/sdb: the disk is no longer attached"},
      {FailureStage::Request, ENXIO, "/dev/sdb: the disk is no longer attached"},
      {FailureStage::Request, EIO, "/dev/sdb: Input/output error (errno 5)"},
      {FailureStage::Open, EPERM, "/dev/sdb: Operation not permitted (errno 1)"},
  };
  FakeLinuxApi api;
  const SgIoPort port(api);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    EXPECT_EQ(port.Explain("/dev/sdb", c.stage, static_cast<std::uint32_t>(c.error)), c.expected);
  }
}

}  // namespace
}  // namespace korvane
