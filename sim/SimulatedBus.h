// A bus of simulated disks behind the port seam: the transport talks to it as to a real platform.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Port.h"
#include "SimulatedBridge.h"
#include "SimulatedClock.h"

namespace korvane::sim {

/// OS errors the bus reports, in the Windows numbering the platform ports use.
namespace oserror {
inline constexpr std::uint32_t kFileNotFound = 2;
inline constexpr std::uint32_t kAccessDenied = 5;
inline constexpr std::uint32_t kInvalidHandle = 6;
inline constexpr std::uint32_t kSharingViolation = 32;
inline constexpr std::uint32_t kTimeout = 121;  ///< the command outlasted its time-out
inline constexpr std::uint32_t kDeviceNotConnected = 1167;
}  // namespace oserror

/// What a disk runs when the user plugs it in again after its update.
enum class ReplugInto : std::uint8_t {
  Flash,    ///< what its flash holds, as a power cycle boots it
  BootRom,  ///< its boot ROM, whatever the flash holds
  Version,  ///< firmware of another version than the one written
};

/// What the computer itself knows of a disk, whatever the bridge in front of it answers.
struct DiskHost {
  bool accessDenied = false;  ///< opening the disk fails: the user lacks the rights to it
  std::string mountPoint;     ///< where a file system on the disk is mounted; empty: nowhere
  /// When the disk is plugged in, on the simulated clock; 0: before the program starts.
  std::chrono::milliseconds plugInAfter{0};
  /// The user's replug after an update: once the flash has been written, the next wait for
  /// device changes sees the disk go, and this much later come back. Nothing: never replugged.
  std::optional<std::chrono::milliseconds> replugAfter{};
  ReplugInto replugInto = ReplugInto::Flash;
  FirmwareVersion replugVersion{};  ///< with ReplugInto::Version

  friend bool operator==(const DiskHost&, const DiskHost&) = default;
};

/// Simulated disks by interface path, each with its bridge; paths match without regard to case.
class SimulatedBus final : public Port {
 public:
  /// Commands spend their bridge's latency on this clock.
  explicit SimulatedBus(SimulatedClock& clock) : clock_(clock) {}

  /// Plugs in a disk at path and returns its bridge; a disk already at that path is replaced.
  SimulatedBridge& AddDisk(std::string_view path, SimulatedBridge bridge, DiskHost host = {});
  /// The bridge of the disk at path, or null.
  SimulatedBridge* Find(std::string_view path);
  /// The bridge of the disk at path, or null.
  const SimulatedBridge* Find(std::string_view path) const;
  /// What the host knows of the disk at path, or null when no disk is there.
  const DiskHost* Host(std::string_view path) const;
  /// The paths of the disks, in the order they were plugged in.
  std::vector<std::string> Paths() const;
  /// Handles opened and not yet closed.
  std::size_t openHandles() const { return handles_.size(); }

  PortOpen Open(std::string_view path, Direction direction) override;
  PortReply Execute(PortHandle handle, const PortRequest& request) override;
  void Close(PortHandle handle) override;
  std::string Explain(std::string_view path, FailureStage stage,
                      std::uint32_t osError) const override;
  /// An open refused with kAccessDenied: the user lacks the rights to the disk.
  bool DeniesAccess(FailureStage stage, std::uint32_t osError) const override;

 private:
  struct Disk {
    std::string path;
    std::unique_ptr<SimulatedBridge> bridge;
    DiskHost host;
  };
  struct OpenHandle {
    PortHandle handle = 0;
    std::string path;
    bool exclusive = false;
  };

  Disk* FindDisk(std::string_view path);
  const Disk* FindDisk(std::string_view path) const;
  const OpenHandle* FindHandle(PortHandle handle) const;
  bool InUse(std::string_view path, bool exclusive) const;
  /// The bridge's answer as a platform reports it: with a CHECK CONDITION, the sense the bridge
  /// holds comes along, as the platforms' autosense brings it, and the bridge keeps none.
  static PortReply Deliver(const BridgeResponse& response, const PortRequest& request,
                           SimulatedBridge& bridge);
  /// Spends the time a late answer takes; true when the host stopped waiting before it came.
  bool OutlastsTimeout(const SimulatedBridge& bridge, const BridgeResponse& response,
                       const PortRequest& request);

  SimulatedClock& clock_;
  std::vector<Disk> disks_;
  std::vector<OpenHandle> handles_;
  PortHandle nextHandle_ = 1;
};

}  // namespace korvane::sim
