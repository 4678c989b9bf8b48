// One SCSI target behind the USB transports: the bridge's commands go to the simulated bridge,
// everything else is the medium behind it, answered here.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "Clock.h"
#include "DataPhase.h"
#include "Medium.h"
#include "SimulatedBridge.h"
#include "SimulatedBus.h"

namespace korvane::gadget {

/// Fixed-format sense data.
using Sense = std::array<std::uint8_t, sim::kSenseSize>;

/// One command as the host sent it.
struct ScsiRequest {
  std::span<const std::uint8_t> cdb;              ///< in the length the host sent it
  DataDirection direction = DataDirection::None;  ///< the host's, or the table's under UAS
  std::span<const std::uint8_t> dataOut;          ///< the data-out bytes the host sent
  std::uint32_t expectedIn = 0;                   ///< data-in bytes the host takes at most
};

/// The target's answer.
struct ScsiReply {
  bool present = true;  ///< false: the bridge vanished; nothing must be answered
  std::uint8_t status = sim::scsi::kGood;
  std::vector<std::uint8_t> dataIn{};  ///< never longer than the host takes
  std::uint32_t dataOutTaken = 0;
  Sense sense{};  ///< meaningful with CHECK CONDITION
};

/// Builds fixed-format sense data.
Sense MakeSense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq = 0);

/// The SCSI target of one disk. Safe to call from the transport thread while another thread
/// replugs it.
class ScsiTarget {
 public:
  /// Bridge commands spend the bridge's latency on the clock; log gets one line per bridge
  /// command when set.
  ScsiTarget(sim::SimulatedBridge& bridge, Clock& clock,
             std::function<void(const std::string&)> log = {});

  /// From now on hands every command's CDB to arrival as the command comes in, before it runs.
  void WatchArrivals(std::function<void(std::span<const std::uint8_t>)> arrival) {
    arrival_ = std::move(arrival);
  }
  /// Executes one command.
  ScsiReply Execute(const ScsiRequest& request);
  /// Unplugs and plugs the bridge again; it boots what its flash holds, or, after an update
  /// (host given), what the scenario says it comes back with.
  void Replug(const sim::DiskHost* host = nullptr);
  /// True once firmware has been stored into the bridge's flash.
  bool flashWritten() const;
  /// False once the bridge vanished, until Replug.
  bool present() const;
  /// The firmware version that runs now, zeros while the boot ROM runs.
  sim::FirmwareVersion runningVersion() const;
  /// The bridge's NVRAM record as it stands now.
  std::span<const std::uint8_t> nvramRecord() const { return bridge_.nvramRecord(); }

 private:
  ScsiReply ExecuteBridge(const ScsiRequest& request, const DataPhase& phase);
  ScsiReply ExecuteMedium(const ScsiRequest& request, const CdbField& cdb);
  ScsiReply Transfer(const ScsiRequest& request, const CdbField& cdb, bool write);
  void Log(std::span<const std::uint8_t> cdb, const ScsiReply& reply) const;

  sim::SimulatedBridge& bridge_;
  Clock& clock_;
  std::function<void(const std::string&)> log_;
  std::function<void(std::span<const std::uint8_t>)> arrival_;
  Medium medium_;
  mutable std::mutex mutex_;  // the bridge and the medium
};

}  // namespace korvane::gadget
