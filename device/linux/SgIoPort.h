// The Linux port: one SG_IO request on a /dev/sgN or /dev/sdX node per command.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "BlockHold.h"
#include "LinuxApi.h"
#include "Port.h"

namespace korvane {

/// Opens a disk node, fills an sg_io_hdr for one request and issues ioctl(SG_IO).
class SgIoPort final : public Port {
 public:
  /// With held, a node the process holds itself is not opened exclusively a second time.
  explicit SgIoPort(LinuxApi& api, const HeldNodes* held = nullptr) : api_(api), held_(held) {}

  /// Opens read-write; a data-out open also demands that nobody else uses the disk, which a
  /// hold of ours already makes sure of.
  PortOpen Open(std::string_view path, Direction direction) override;
  /// Issues the request with its header placed at the start of the request region.
  PortReply Execute(PortHandle handle, const PortRequest& request) override;
  /// Closes a descriptor that Open returned.
  void Close(PortHandle handle) override;
  /// Names the missing right for permission errors; strerror text otherwise.
  std::string Explain(std::string_view path, FailureStage stage,
                      std::uint32_t osError) const override;
  /// Words for the SCSI midlayer's host status: a time-out, a reset, a failed transfer.
  std::string ExplainStatus(std::uint16_t hostStatus, std::uint16_t driverStatus) const override;
  bool DeniesAccess(FailureStage stage, std::uint32_t osError) const override;

 private:
  LinuxApi& api_;
  const HeldNodes* held_;
};

}  // namespace korvane
