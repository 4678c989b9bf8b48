// The Linux port: one SG_IO request on a /dev/sgN or /dev/sdX node per command.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "BlockHold.h"
#include "LinuxApi.h"
#include "Port.h"

namespace korvane {

/// Opens a disk node, fills an sg_io_hdr for one request and issues ioctl(SG_IO).
class SgIoPort final : public Port {
 public:
  /// With held, a node the process holds itself is not opened exclusively a second time.
  explicit SgIoPort(LinuxApi& api, const HeldNodes* held = nullptr) : api_(api), held_(held) {}
  SgIoPort(const SgIoPort&) = delete;
  SgIoPort& operator=(const SgIoPort&) = delete;
  /// Closes whatever is kept.
  ~SgIoPort() override;

  /// From now on a node stays open after its command, for the next command on the same path,
  /// until CloseKept or a failed request, which spares an open and a close on every command. A
  /// program that runs one job per process asks for it.
  void KeepOpen() { keep_ = true; }
  /// Closes every kept node, so that the next command on any path opens it again.
  void CloseKept();

  /// Opens read-write; a data-out open also demands that nobody else uses the disk, which a
  /// hold of ours already makes sure of.
  PortOpen Open(std::string_view path, Direction direction) override;
  /// Issues the request with its header placed at the start of the request region.
  PortReply Execute(PortHandle handle, const PortRequest& request) override;
  /// Closes a descriptor that Open returned, unless it is kept.
  void Close(PortHandle handle) override;
  /// Names the missing right for permission errors; strerror text otherwise.
  std::string Explain(std::string_view path, FailureStage stage,
                      std::uint32_t osError) const override;
  /// Words for the SCSI midlayer's host status: a time-out, a reset, a failed transfer.
  std::string ExplainStatus(std::uint16_t hostStatus, std::uint16_t driverStatus) const override;
  bool DeniesAccess(FailureStage stage, std::uint32_t osError) const override;

 private:
  /// A node left open for the commands that follow.
  struct Kept {
    std::string path;
    int fd;
    bool exclusive;  ///< opened with O_EXCL
  };

  PortOpen OpenNode(const std::string& path, Direction direction, bool heldByUs);
  std::vector<Kept>::iterator FindKept(std::string_view path);
  void Forget(int fd);

  LinuxApi& api_;
  const HeldNodes* held_;
  bool keep_ = false;
  std::vector<Kept> kept_;
};

}  // namespace korvane
