// The seam under the pass-through transport: one platform request, nothing else.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace korvane {

/// Which way a command's data moves.
enum class Direction : std::uint8_t { In, Out };

/// Where a failed command stopped.
enum class FailureStage : std::uint8_t { None, Refused, Open, Request, Status };

/// "none", "refused", "open", "request" or "status", as traces and JSON name the stage.
std::string_view FailureStageName(FailureStage stage);

/// One pass-through request as the transport hands it to a port.
struct PortRequest {
  std::span<const std::uint8_t> cdb;     ///< the CDB, 1 to 16 bytes
  Direction direction = Direction::In;   ///< data in (device to us) or out
  std::span<std::uint8_t> data;          ///< aligned, zero-filled data region; empty without data
  std::uint32_t timeoutSeconds = 10;     ///< time-out chosen by the transport's rules
  std::span<std::uint8_t> requestBlock;  ///< aligned, zero-filled room for the platform's request
};

/// How much sense data a port asks the platform for with each request.
inline constexpr std::size_t kSenseLength = 18;

/// What the platform reported for one request.
struct PortReply {
  bool requestOk = false;          ///< the device-control call itself reported success
  std::uint32_t lastError = 0;     ///< OS error read right after the call, whatever its result
  std::uint8_t scsiStatus = 0;     ///< SCSI status byte of the command
  std::uint16_t hostStatus = 0;    ///< adapter status where the platform reports one, else 0
  std::uint16_t driverStatus = 0;  ///< driver status where the platform reports one, else 0
  std::uint32_t transferred = 0;   ///< transferred count as the platform leaves it
  /// Sense data the platform collected with the command, where it asks for it; else zeros.
  std::array<std::uint8_t, kSenseLength> sense{};
  std::uint8_t senseLength = 0;  ///< how many bytes of sense the platform wrote
};

/// An open device handle as a port understands it.
using PortHandle = std::intptr_t;

/// Result of opening a device for one command.
struct PortOpen {
  bool ok = false;
  PortHandle handle = 0;
  std::uint32_t osError = 0;  ///< why the open failed, in the platform's own numbering
};

/// Opens a device by path for one command, executes one request, closes.
class Port {
 public:
  virtual ~Port() = default;

  /// Opens the device; data-out opens ask for exclusive access.
  virtual PortOpen Open(std::string_view path, Direction direction) = 0;
  /// Issues one request on an open handle.
  virtual PortReply Execute(PortHandle handle, const PortRequest& request) = 0;
  /// Closes a handle that Open returned; a port asked to keep its nodes open may keep it.
  virtual void Close(PortHandle handle) = 0;
  /// Words a user understands for an OS error met at the given stage.
  virtual std::string Explain(std::string_view path, FailureStage stage,
                              std::uint32_t osError) const = 0;
  /// Words for an adapter or driver status the platform reported; empty where it has none.
  virtual std::string ExplainStatus(std::uint16_t hostStatus, std::uint16_t driverStatus) const {
    (void)hostStatus;
    (void)driverStatus;
    return {};
  }
  /// True when the OS error met at the given stage means the user lacks the rights to the disk.
  virtual bool DeniesAccess(FailureStage stage, std::uint32_t osError) const {
    (void)stage;
    (void)osError;
    return false;
  }
};

/// Hands every call to another port. Ports that watch or change what passes through derive from
/// it and override only what they watch.
class ForwardingPort : public Port {
 public:
  explicit ForwardingPort(Port& inner) : inner_(inner) {}

  PortOpen Open(std::string_view path, Direction direction) override {
    return inner_.Open(path, direction);
  }
  PortReply Execute(PortHandle handle, const PortRequest& request) override {
    return inner_.Execute(handle, request);
  }
  void Close(PortHandle handle) override { inner_.Close(handle); }
  std::string Explain(std::string_view path, FailureStage stage,
                      std::uint32_t osError) const override {
    return inner_.Explain(path, stage, osError);
  }
  std::string ExplainStatus(std::uint16_t hostStatus, std::uint16_t driverStatus) const override {
    return inner_.ExplainStatus(hostStatus, driverStatus);
  }
  bool DeniesAccess(FailureStage stage, std::uint32_t osError) const override {
    return inner_.DeniesAccess(stage, osError);
  }

 protected:
  Port& inner() const { return inner_; }

 private:
  Port& inner_;
};

}  // namespace korvane
