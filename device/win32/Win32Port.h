// The Windows pass-through port: SCSI_PASS_THROUGH_DIRECT through DeviceIoControl.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Port.h"
#include "Win32Api.h"

namespace korvane {

/// Issues one pass-through request per call on a disk opened by its interface path.
class Win32Port final : public Port {
 public:
  explicit Win32Port(Win32Api& api) : api_(api) {}

  PortOpen Open(std::string_view path, Direction direction) override;
  PortReply Execute(PortHandle handle, const PortRequest& request) override;
  void Close(PortHandle handle) override;
  std::string Explain(std::string_view path, FailureStage stage,
                      std::uint32_t osError) const override;
  bool DeniesAccess(FailureStage stage, std::uint32_t osError) const override;

 private:
  Win32Api& api_;
};

}  // namespace korvane
