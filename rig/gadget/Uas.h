// USB Attached SCSI information units above the pipe I/O, and the device's rules between them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "ScsiTarget.h"

namespace korvane::gadget {

/// IU identifiers.
namespace iu {
inline constexpr std::uint8_t kCommand = 0x01;
inline constexpr std::uint8_t kSense = 0x03;
inline constexpr std::uint8_t kResponse = 0x04;
inline constexpr std::uint8_t kTaskManagement = 0x05;
inline constexpr std::uint8_t kReadReady = 0x06;
inline constexpr std::uint8_t kWriteReady = 0x07;
}  // namespace iu

/// A command IU.
struct UasCommand {
  std::uint16_t tag = 0;
  std::uint64_t lun = 0;
  std::vector<std::uint8_t> cdb{};  ///< 16 bytes plus the additional CDB bytes
};

/// A task management IU.
struct UasTaskManagement {
  std::uint16_t tag = 0;
  std::uint8_t function = 0;
};

/// What arrived on the command pipe.
struct UasIu {
  std::optional<UasCommand> command{};
  std::optional<UasTaskManagement> taskManagement{};
};

/// Reads one IU from the command pipe; neither member is set when it is not one we take.
UasIu ParseIu(std::span<const std::uint8_t> bytes);

/// A Sense IU with the status, and the sense data when it is CHECK CONDITION.
std::vector<std::uint8_t> MakeSenseIu(std::uint16_t tag, std::uint8_t status, const Sense& sense);
/// A READ READY or WRITE READY IU.
std::array<std::uint8_t, 4> MakeReadyIu(std::uint8_t id, std::uint16_t tag);
/// A Response IU saying "task management function complete".
std::array<std::uint8_t, 8> MakeResponseIu(std::uint16_t tag);

/// One bulk transfer on the data-in pipe: the bytes of it the host took, negative when the pipe
/// failed.
using DataInTransfer = std::function<std::int64_t(std::span<const std::uint8_t>)>;

/// Sends a data-in answer in transfers of at most `chunk` bytes, ended by a zero-length packet
/// when asked. A transfer the host took only part of ends the data phase: the host's buffer was
/// shorter than the answer (an identity read carries no length to cut it to), its controller
/// reports the overrun, and nothing more may stay queued on the pipe, where it would answer the
/// next command's data-in. Returns the bytes the host took, nothing when the pipe failed.
std::optional<std::size_t> PushDataIn(std::span<const std::uint8_t> data, bool zeroLengthPacket,
                                      std::size_t chunk, const DataInTransfer& transfer);

/// The device's answer to one command IU.
struct UasAnswer {
  bool present = true;  ///< false: say nothing, the bridge has gone
  std::uint8_t status = 0;
  std::vector<std::uint8_t> dataIn{};  ///< sent only with status GOOD
  bool zeroLengthPacket = false;       ///< end the short data-in with a zero-length packet
  Sense sense{};
};

/// Runs command IUs against the target for logical unit 0 and turns every other LUN away, so
/// that the SCSI scan does not probe 255 more.
class UasSession {
 public:
  explicit UasSession(ScsiTarget& target) : target_(target) {}

  /// Answers one command whose data-out (as long as its table length) has arrived.
  UasAnswer Answer(const UasCommand& command, std::span<const std::uint8_t> dataOut,
                   std::uint32_t maxPacket);

 private:
  ScsiTarget& target_;
};

}  // namespace korvane::gadget
