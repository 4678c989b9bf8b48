#include "Win32Port.h"

// winioctl.h and ntddscsi.h rely on types that only windows.h declares.
#include <windows.h>

#include <winioctl.h>

#include <ntddscsi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "Transport.h"

namespace korvane {
namespace {

// The driver reads this structure byte for byte, so its layout is checked here rather than
// discovered on a customer's disk.
#if defined(_WIN64)
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 56);
#else
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 20);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 28);
#endif
static_assert(IOCTL_SCSI_PASS_THROUGH_DIRECT == 0x4D014);

constexpr DWORD kRequestSize = sizeof(SCSI_PASS_THROUGH_DIRECT);
// The driver writes the sense data of a refused command at SenseInfoOffset of the output
// buffer, behind the block, and only if the output buffer reaches past it: the block and the
// sense together are the reply. Without sense a refusal would come back as a bare status.
constexpr ULONG kSenseInfoOffset = 48;
constexpr DWORD kReplySize = kSenseInfoOffset + kSenseLength;
static_assert(kSenseInfoOffset >= kRequestSize && kSenseInfoOffset % 8 == 0);
static_assert(kReplySize <= kRequestRegionSize);
// The bridges answer pass-through on target 1.
constexpr UCHAR kBridgeTargetId = 1;

HANDLE ToHandle(PortHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// The transport hands over a region it sized for this block; anything else is a caller's mistake
// that must not turn into a write past the region or a CDB the driver truncates.
bool Fits(const PortRequest& request) {
  return request.requestBlock.size() >= kReplySize && !request.cdb.empty() &&
         request.cdb.size() <= sizeof(SCSI_PASS_THROUGH_DIRECT::Cdb);
}

SCSI_PASS_THROUGH_DIRECT BuildRequest(const PortRequest& request) {
  SCSI_PASS_THROUGH_DIRECT spt;
  std::memset(&spt, 0, sizeof spt);
  spt.Length = kRequestSize;
  spt.TargetId = kBridgeTargetId;
  spt.CdbLength = static_cast<UCHAR>(request.cdb.size());
  spt.DataIn = request.direction == Direction::In ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT;
  spt.DataTransferLength = static_cast<ULONG>(request.data.size());
  spt.TimeOutValue = request.timeoutSeconds;
  spt.DataBuffer = request.data.empty() ? nullptr : request.data.data();
  spt.SenseInfoLength = static_cast<UCHAR>(kSenseLength);
  spt.SenseInfoOffset = kSenseInfoOffset;
  std::copy(request.cdb.begin(), request.cdb.end(), spt.Cdb);
  return spt;
}

// The driver's count of sense bytes, kept inside what was asked for whatever it says.
void CopySense(const SCSI_PASS_THROUGH_DIRECT& spt, const std::uint8_t* block, PortReply& reply) {
  const std::size_t length = std::min<std::size_t>(spt.SenseInfoLength, kSenseLength);
  std::copy_n(block + kSenseInfoOffset, length, reply.sense.begin());
  reply.senseLength = static_cast<std::uint8_t>(length);
}

std::string Reason(std::uint32_t osError) {
  switch (osError) {
    case ERROR_SUCCESS:
      return "the disk did not accept the command";
    case ERROR_ACCESS_DENIED:
      return "the program needs administrator rights to use the disk";
    case ERROR_SHARING_VIOLATION:
      return "another program has the disk open";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEVICE_NOT_CONNECTED:
      return "the disk is no longer attached";
    default:
      return "Windows error " + std::to_string(osError);
  }
}

std::string_view Action(FailureStage stage) {
  switch (stage) {
    case FailureStage::Open:
      return "cannot open ";
    case FailureStage::Request:
      return "cannot send the command to ";
    case FailureStage::Status:
      return "the command was rejected by ";
    default:
      return "cannot use ";
  }
}

}  // namespace

PortOpen Win32Port::Open(std::string_view path, Direction direction) {
  // CreateFileA stops at the first NUL, so such a path would name some other device.
  if (path.find('\0') != std::string_view::npos) {
    return PortOpen{false, 0, ERROR_INVALID_NAME};
  }
  const std::string terminated(path);
  // A write takes the disk for itself: no other program's I/O may interleave with a download.
  const DWORD share = direction == Direction::In ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
  HANDLE handle = api_.CreateFileA(terminated.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return PortOpen{false, 0, api_.GetLastError()};
  }
  return PortOpen{true, reinterpret_cast<PortHandle>(handle), 0};
}

PortReply Win32Port::Execute(PortHandle handle, const PortRequest& request) {
  if (!Fits(request)) {
    return PortReply{.requestOk = false, .lastError = ERROR_INVALID_PARAMETER};
  }
  // Filled aside and copied in, because the region is raw bytes, not a structure.
  SCSI_PASS_THROUGH_DIRECT spt = BuildRequest(request);
  std::uint8_t* block = request.requestBlock.data();
  std::memcpy(block, &spt, sizeof spt);

  DWORD returned = 0;
  // A successful DeviceIoControl need not clear the thread's last error; a value left over from
  // an earlier call would otherwise make a good command look failed.
  api_.SetLastError(ERROR_SUCCESS);
  const BOOL ok = api_.DeviceIoControl(ToHandle(handle), IOCTL_SCSI_PASS_THROUGH_DIRECT, block,
                                       kRequestSize, block, kReplySize, &returned, nullptr);
  const DWORD lastError = api_.GetLastError();

  std::memcpy(&spt, block, sizeof spt);
  PortReply reply{.requestOk = ok != FALSE,
                  .lastError = lastError,
                  .scsiStatus = spt.ScsiStatus,
                  .transferred = spt.DataTransferLength};
  if (reply.requestOk) CopySense(spt, block, reply);
  return reply;
}

void Win32Port::Close(PortHandle handle) { api_.CloseHandle(ToHandle(handle)); }

std::string Win32Port::Explain(std::string_view path, FailureStage stage,
                               std::uint32_t osError) const {
  std::string text(Action(stage));
  text.append(path);
  text.append(": ");
  text.append(Reason(osError));
  return text;
}

bool Win32Port::DeniesAccess(FailureStage stage, std::uint32_t osError) const {
  return stage == FailureStage::Open && osError == ERROR_ACCESS_DENIED;
}

}  // namespace korvane
