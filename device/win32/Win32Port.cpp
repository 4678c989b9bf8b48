#include "Win32Port.h"

// winioctl.h and ntddscsi.h rely on types that only windows.h declares.
#include <windows.h>

#include <winioctl.h>

#include <ntddscsi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

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
// Sense data is never asked for (SenseInfoLength 0); the offset only has to lie past the block.
constexpr ULONG kSenseInfoOffset = 48;
// The bridges answer pass-through on target 1.
constexpr UCHAR kBridgeTargetId = 1;

HANDLE ToHandle(PortHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// The transport hands over a region it sized for this block; anything else is a caller's mistake
// that must not turn into a write past the region or a CDB the driver truncates.
bool Fits(const PortRequest& request) {
  return request.requestBlock.size() >= kRequestSize && !request.cdb.empty() &&
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
  spt.SenseInfoOffset = kSenseInfoOffset;
  std::copy(request.cdb.begin(), request.cdb.end(), spt.Cdb);
  return spt;
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
                                       kRequestSize, block, kRequestSize, &returned, nullptr);
  const DWORD lastError = api_.GetLastError();

  std::memcpy(&spt, block, sizeof spt);
  return PortReply{.requestOk = ok != FALSE,
                   .lastError = lastError,
                   .scsiStatus = spt.ScsiStatus,
                   .transferred = spt.DataTransferLength};
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
