#include "SgIoPort.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <memory>

#include "Transport.h"

namespace korvane {
namespace {

// The CDB travels inside the request region, right behind the header, the way the
// Windows request block carries its own Cdb field; the caller's bytes are never handed over.
constexpr std::size_t kCdbOffset = sizeof(sg_io_hdr_t);
// The kernel writes the sense data of a failed command behind the CDB, in the same region.
constexpr std::size_t kSenseOffset = kCdbOffset + kMaxCdbLength;
static_assert(kSenseOffset + kSenseLength <= kRequestRegionSize,
              "sg_io_hdr, the CDB and the sense data must fit in the request region");
static_assert(alignof(sg_io_hdr_t) <= kDeviceAlignment);

// The driver reads an all-ones time-out as "never"; a long time-out must not become none.
constexpr std::uint64_t kLongestTimeoutMs = std::numeric_limits<unsigned int>::max() - 1U;

PortReply Rejected(int error) {
  PortReply reply;
  reply.lastError = static_cast<std::uint32_t>(error);
  return reply;
}

// The transport always hands over a well-formed request; refuse anything else rather than
// let the kernel read past a buffer or receive a CDB length it would truncate.
bool RequestFits(const PortRequest& request) {
  const auto* block = request.requestBlock.data();
  return request.requestBlock.size() >= kCdbOffset + kMaxCdbLength && block != nullptr &&
         reinterpret_cast<std::uintptr_t>(block) % alignof(sg_io_hdr_t) == 0 &&
         !request.cdb.empty() && request.cdb.size() <= kMaxCdbLength &&
         request.data.size() <= static_cast<std::size_t>(std::numeric_limits<int>::max());
}

int TransferDirection(const PortRequest& request) {
  if (request.data.empty()) return SG_DXFER_NONE;
  return request.direction == Direction::In ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
}

unsigned int TimeoutMs(std::uint32_t seconds) {
  return static_cast<unsigned int>(std::min(std::uint64_t{seconds} * 1000U, kLongestTimeoutMs));
}

sg_io_hdr_t* FillHeader(const PortRequest& request) {
  std::uint8_t* block = request.requestBlock.data();
  std::uint8_t* cdb = block + kCdbOffset;
  std::copy(request.cdb.begin(), request.cdb.end(), cdb);
  sg_io_hdr_t* hdr = std::construct_at(reinterpret_cast<sg_io_hdr_t*>(block));
  hdr->interface_id = 'S';
  hdr->dxfer_direction = TransferDirection(request);
  hdr->cmd_len = static_cast<unsigned char>(request.cdb.size());
  // Sense comes with the failure itself: usb-storage has already fetched it with its own
  // REQUEST SENSE, and uas received it in the sense IU, so a later REQUEST SENSE of ours would
  // find it gone.
  hdr->mx_sb_len = static_cast<unsigned char>(kSenseLength);
  hdr->sbp = block + kSenseOffset;
  hdr->dxfer_len = static_cast<unsigned int>(request.data.size());
  hdr->dxferp = request.data.empty() ? nullptr : request.data.data();
  hdr->cmdp = cdb;
  hdr->timeout = TimeoutMs(request.timeoutSeconds);
  return hdr;
}

// resid is the driver's word; keep the count inside the buffer whatever it says.
std::uint32_t Transferred(const sg_io_hdr_t& hdr) {
  const std::int64_t moved = std::int64_t{hdr.dxfer_len} - hdr.resid;
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(moved, 0, hdr.dxfer_len));
}

void CopySense(const sg_io_hdr_t& hdr, PortReply& reply) {
  const std::size_t length = std::min<std::size_t>(hdr.sb_len_wr, kSenseLength);
  std::copy_n(hdr.sbp, length, reply.sense.begin());
  reply.senseLength = static_cast<std::uint8_t>(length);
}

// The driver status that only says sense data came with the command.
constexpr std::uint16_t kDriverSense = 0x08;
constexpr std::uint8_t kCheckCondition = 0x02;

// With a CHECK CONDITION, DRIVER_SENSE says no more than the sense itself, which the reply
// carries: it is no fault of the driver and no part of the refusal's description. Anywhere
// else it stays, and fails the command.
std::uint16_t DriverStatus(const sg_io_hdr_t& hdr) {
  if (hdr.status != kCheckCondition) return hdr.driver_status;
  return hdr.driver_status & static_cast<std::uint16_t>(~kDriverSense);
}

// Host (adapter) status values of the SCSI midlayer that a USB disk meets.
constexpr std::uint16_t kDidNoConnect = 0x01;
constexpr std::uint16_t kDidTimeOut = 0x03;
constexpr std::uint16_t kDidAbort = 0x05;
constexpr std::uint16_t kDidError = 0x07;
constexpr std::uint16_t kDidReset = 0x08;

bool DiskGone(std::uint32_t error) { return error == ENOENT || error == ENODEV || error == ENXIO; }

int OpenFlags(Direction direction, bool heldByUs) {
  // Linux has no share modes. O_EXCL stands in for the exclusive data-out open: the sg driver
  // refuses it while another program has the node open, and a whole /dev/sdX refuses it while
  // a partition is mounted, so firmware never goes to a disk that is in use. O_NONBLOCK turns
  // the sg driver's wait for the other user into an immediate EBUSY. A disk we hold is ours
  // already, and the kernel would refuse our own second exclusive claim.
  const int flags = O_RDWR | O_NONBLOCK | O_CLOEXEC;
  return direction == Direction::Out && !heldByUs ? flags | O_EXCL : flags;
}

}  // namespace

SgIoPort::~SgIoPort() { CloseKept(); }

void SgIoPort::CloseKept() {
  for (const Kept& kept : kept_) api_.Close(kept.fd);
  kept_.clear();
}

PortOpen SgIoPort::Open(std::string_view path, Direction direction) {
  // open(2) stops at the first NUL, which would silently name a different node.
  if (path.find('\0') != std::string_view::npos) return {.ok = false, .osError = EINVAL};
  const std::string terminated(path);
  const bool heldByUs = held_ != nullptr && held_->Holds(terminated);
  const auto kept = FindKept(terminated);
  if (kept != kept_.end()) {
    if (direction == Direction::In || kept->exclusive || heldByUs) {
      return {.ok = true, .handle = kept->fd};
    }
    // The sg driver refuses O_EXCL while any descriptor of the node is open, ours included.
    api_.Close(kept->fd);
    kept_.erase(kept);
  }
  return OpenNode(terminated, direction, heldByUs);
}

PortOpen SgIoPort::OpenNode(const std::string& path, Direction direction, bool heldByUs) {
  const int fd = api_.Open(path.c_str(), OpenFlags(direction, heldByUs));
  if (fd < 0) return {.ok = false, .osError = static_cast<std::uint32_t>(api_.LastErrno())};
  if (keep_) kept_.push_back({path, fd, direction == Direction::Out && !heldByUs});
  return {.ok = true, .handle = fd};
}

std::vector<SgIoPort::Kept>::iterator SgIoPort::FindKept(std::string_view path) {
  return std::ranges::find(kept_, path, &Kept::path);
}

void SgIoPort::Forget(int fd) {
  std::erase_if(kept_, [fd](const Kept& kept) { return kept.fd == fd; });
}

PortReply SgIoPort::Execute(PortHandle handle, const PortRequest& request) {
  if (!RequestFits(request)) return Rejected(EINVAL);
  sg_io_hdr_t* hdr = FillHeader(request);
  const int result = api_.SgIo(static_cast<int>(handle), hdr);
  const int error = result == 0 ? 0 : api_.LastErrno();
  // After a failed request or an adapter status the node may be gone, and may come back under
  // the same name for another device: the descriptor is closed after this command.
  if (result != 0 || hdr->host_status != 0) Forget(static_cast<int>(handle));
  PortReply reply;
  reply.requestOk = result == 0;
  reply.lastError = static_cast<std::uint32_t>(error);
  reply.scsiStatus = hdr->status;
  reply.hostStatus = hdr->host_status;
  reply.driverStatus = DriverStatus(*hdr);
  // A failed ioctl left the header as we wrote it, so resid says nothing: nothing moved.
  reply.transferred = reply.requestOk ? Transferred(*hdr) : 0;
  if (reply.requestOk) CopySense(*hdr, reply);
  return reply;
}

void SgIoPort::Close(PortHandle handle) {
  const int fd = static_cast<int>(handle);
  if (std::ranges::find(kept_, fd, &Kept::fd) != kept_.end()) return;
  // No retry on EINTR: Linux has released the descriptor either way.
  api_.Close(fd);
}

std::string SgIoPort::Explain(std::string_view path, FailureStage stage,
                              std::uint32_t osError) const {
  const std::string where(path);
  if (osError == 0) return where + ": the command failed without an error from the system";
  if (DiskGone(osError)) return where + ": the disk is no longer attached";
  if (stage == FailureStage::Open && osError == EACCES) {
    return "no permission to open " + where +
           ": install the korvane-fw package, whose udev rule gives the user at the "
           "computer the enclosure's /dev/sgN node (then plug the enclosure in again), or run "
           "with sudo";
  }
  if (stage == FailureStage::Open && osError == EBUSY) {
    return where + ": the disk is in use (a mounted partition or another program)";
  }
  if (stage == FailureStage::Request && osError == EPERM) {
    return "the kernel passes vendor commands through " + where +
           " only to a process with CAP_SYS_RAWIO: run as root or use the /dev/sgN node";
  }
  const int error = static_cast<int>(osError);
  return where + ": " + std::strerror(error) + " (errno " + std::to_string(error) + ")";
}

std::string SgIoPort::ExplainStatus(std::uint16_t hostStatus, std::uint16_t) const {
  switch (hostStatus) {
    case kDidNoConnect:
      return "the disk went away: the kernel can no longer reach it";
    case kDidTimeOut:
      return "the device did not answer within the command's time-out, and the kernel reset it";
    case kDidAbort:
      return "the kernel aborted the command";
    case kDidError:
      return "the transfer failed on the bus";
    case kDidReset:
      return "the device was reset during the command";
    default:
      return {};
  }
}

bool SgIoPort::DeniesAccess(FailureStage stage, std::uint32_t osError) const {
  // An sg node wants file permission to open; an sd node also wants CAP_SYS_RAWIO to pass
  // vendor commands, which the kernel reports as EPERM on the request.
  return (stage == FailureStage::Open && (osError == EACCES || osError == EPERM)) ||
         (stage == FailureStage::Request && osError == EPERM);
}

}  // namespace korvane
