// A model of the bridge chip with state: it decodes each CDB itself and answers from what it keeps.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "BridgeConfig.h"
#include "CdbDecoder.h"
#include "Port.h"

namespace korvane::sim {

/// SCSI status bytes the bridge answers with.
namespace scsi {
inline constexpr std::uint8_t kGood = 0x00;
inline constexpr std::uint8_t kCheckCondition = 0x02;
inline constexpr std::uint8_t kBusy = 0x08;
}  // namespace scsi

/// Sense keys and additional sense codes the bridge reports.
namespace sense {
inline constexpr std::uint8_t kNoSense = 0x00;
inline constexpr std::uint8_t kHardwareError = 0x04;
inline constexpr std::uint8_t kIllegalRequest = 0x05;
inline constexpr std::uint8_t kInvalidOpcode = 0x20;
inline constexpr std::uint8_t kInvalidField = 0x24;
inline constexpr std::uint8_t kInternalFailure = 0x44;
}  // namespace sense

/// Length of the fixed-format sense data.
inline constexpr std::size_t kSenseSize = 18;

/// What the bridge runs now.
enum class RunState : std::uint8_t {
  Firmware,  ///< the firmware in its flash
  BootRom,   ///< its boot ROM: the flash held no bootable image
  Loader,    ///< a loader the boot ROM took into memory; it programs the flash
};

/// The bridge's side of one command.
struct BridgeResponse {
  bool present = true;  ///< false: the disk dropped off the bus during the command
  std::uint8_t status = scsi::kGood;
  std::vector<std::uint8_t> dataIn{};  ///< the answer; the host receives as much as it asked for
  std::uint32_t dataOutTaken = 0;      ///< bytes of the data-out region the command consumed
  std::chrono::milliseconds delay{0};  ///< time the answer takes beyond the bus's latency
};

/// One command as the bridge received it.
struct LoggedCommand {
  Operation operation = Operation::Unknown;
  std::vector<std::uint8_t> cdb{};
};

/// One simulated bridge with its flash, NVRAM, memory, status and the medium behind it.
class SimulatedBridge {
 public:
  explicit SimulatedBridge(BridgeConfig config);

  /// Executes one command; data-out bytes arrive in dataOut, data-in bytes leave in the response.
  BridgeResponse Execute(std::span<const std::uint8_t> cdb, Direction direction,
                         std::span<const std::uint8_t> dataOut);
  /// Unplug and plug again: the bridge is present and boots whatever its flash now holds.
  void Replug();
  /// Unplugged: gone from the bus until the next Replug.
  void Unplug() { present_ = false; }
  /// After a Replug: runs its boot ROM, or the given version, whatever the flash holds; for
  /// enclosures that come back otherwise than their update promised.
  void RunInstead(std::optional<FirmwareVersion> version);
  /// True once firmware has been stored into the flash.
  bool flashWritten() const { return flashWritten_; }

  /// False once a Vanish fault has struck, until the next Replug.
  bool present() const { return present_; }
  /// What runs: firmware, the boot ROM after a replug with no bootable image, or its loader.
  RunState runState() const { return runState_; }
  /// The version the identity block reports.
  FirmwareVersion runningVersion() const { return runningVersion_; }
  /// The stored firmware area, as a later replug would boot it.
  std::span<const std::uint8_t> flash() const { return flash_; }
  /// The 512-byte NVRAM record at the chip's record address.
  std::span<const std::uint8_t> nvramRecord() const;
  /// The sense data REQUEST SENSE would return now: it describes the last failed command.
  const std::array<std::uint8_t, kSenseSize>& sense() const { return sense_; }
  /// The sense data, handed to a transport that delivers it with the failed command (autosense,
  /// a sense IU); it is then gone, and REQUEST SENSE reports no sense.
  std::array<std::uint8_t, kSenseSize> TakeSense();
  /// Commands that were aimed at the user's data behind the bridge (all were refused).
  std::size_t mediumAccessAttempts() const { return mediumAccesses_; }
  /// Every command received, in order.
  const std::vector<LoggedCommand>& log() const { return log_; }
  /// The configuration the bridge was built from.
  const BridgeConfig& config() const { return config_; }

 private:
  BridgeResponse Respond(const DecodedCdb& decoded, std::span<const std::uint8_t> cdb,
                         Direction direction, std::span<const std::uint8_t> dataOut,
                         const Fault* fault);
  const Fault* FindFault(Operation operation) const;
  BridgeResponse Inject(const Fault& fault, Operation operation);
  BridgeResponse RespondCorrupted(const Fault& fault, Operation operation,
                                  std::span<const std::uint8_t> cdb, Direction direction,
                                  std::span<const std::uint8_t> dataOut);
  BridgeResponse Dispatch(Operation operation, std::span<const std::uint8_t> cdb,
                          std::span<const std::uint8_t> dataOut);
  /// Whether this chip has no such opcode at all (as against an item of a group it has).
  bool LacksOpcode(Operation operation) const;
  BridgeResponse Reject(CdbCheck check);
  BridgeResponse CheckCondition(std::uint8_t key, std::uint8_t asc);
  BridgeResponse Unsupported() {
    return CheckCondition(sense::kIllegalRequest, sense::kInvalidOpcode);
  }
  BridgeResponse InvalidField() {
    return CheckCondition(sense::kIllegalRequest, sense::kInvalidField);
  }
  /// An item of the 0xFF or 0xDF group that this chip lacks: the opcode is supported, so it is
  /// the field that is refused, as for an item no chip knows.
  BridgeResponse MissingItem() { return InvalidField(); }

  BridgeResponse Inquiry(std::span<const std::uint8_t> cdb);
  BridgeResponse RequestSense(std::span<const std::uint8_t> cdb);
  BridgeResponse Identity(const std::optional<IdentityConfig>& identity);
  BridgeResponse Status();
  BridgeResponse ChipTag();
  BridgeResponse ReadNvram(std::span<const std::uint8_t> cdb);
  BridgeResponse WriteNvram(std::span<const std::uint8_t> cdb, std::span<const std::uint8_t> data);
  BridgeResponse WriteRecord(std::uint32_t address, std::uint32_t length,
                             std::span<const std::uint8_t> data);
  BridgeResponse OpenFlash(std::uint32_t address, std::uint32_t length,
                           std::span<const std::uint8_t> data);
  BridgeResponse ReadMemory(std::span<const std::uint8_t> cdb);
  BridgeResponse ReadBuffer(std::span<const std::uint8_t> cdb);
  BridgeResponse WriteBuffer(std::span<const std::uint8_t> cdb, std::span<const std::uint8_t> data);
  BridgeResponse StartLoader(std::uint32_t offset, std::uint32_t length,
                             std::span<const std::uint8_t> data);
  BridgeResponse Descriptor(std::uint32_t length) const;
  BridgeResponse ReadBufferOne(std::uint8_t mode, std::uint32_t offset, std::uint32_t length);
  BridgeResponse ReadFlash(std::uint32_t offset, std::uint32_t length);
  BridgeResponse StoreFirmware(std::uint32_t offset, std::uint32_t length,
                               std::span<const std::uint8_t> data);
  void StampSecondBlock();
  void NoteRewrite(std::uint32_t offset, std::uint32_t length);
  void Boot();

  BridgeConfig config_;
  bool present_ = true;
  RunState runState_ = RunState::Firmware;
  bool flashOpen_ = false;  // the loader has been told to take blocks
  FirmwareVersion runningVersion_{};
  std::vector<std::uint8_t> flash_;
  std::vector<std::uint8_t> nvram_;
  std::vector<std::uint8_t> memory_;
  unsigned busyReadsLeft_ = 0;
  std::uint32_t secondBlockPrograms_ = 0;
  bool flashWritten_ = false;
  // Blocks of a rewrite under way that have not been written yet; empty when none is under way.
  std::vector<bool> unwrittenBlocks_;
  std::array<std::uint8_t, kSenseSize> sense_{};
  std::array<unsigned, kOperationCount> received_{};
  unsigned receivedAll_ = 0;
  std::size_t mediumAccesses_ = 0;
  std::vector<LoggedCommand> log_;
};

}  // namespace korvane::sim
