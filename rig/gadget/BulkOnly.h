// USB Mass Storage Bulk-Only framing above the endpoint I/O: command blocks in, status blocks
// out, and the rules a device keeps between them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "ScsiTarget.h"

namespace korvane::gadget {

/// Size of a command block wrapper.
inline constexpr std::size_t kCbwSize = 31;
/// Size of a command status wrapper.
inline constexpr std::size_t kCswSize = 13;
/// Largest data phase accepted: the bridge's 24-bit length fields and a little more.
inline constexpr std::uint32_t kMaxBotTransfer = (1u << 24) + 65536;

/// CSW status values.
namespace csw {
inline constexpr std::uint8_t kPassed = 0;
inline constexpr std::uint8_t kFailed = 1;
inline constexpr std::uint8_t kPhaseError = 2;
}  // namespace csw

/// A command block wrapper as the host sent it.
struct Cbw {
  std::uint32_t tag = 0;
  std::uint32_t length = 0;  ///< dCBWDataTransferLength
  bool dataIn = false;
  std::uint8_t lun = 0;
  CdbField cb{};
  std::uint8_t cbLength = 0;

  /// The data phase's direction as the host announced it.
  DataDirection direction() const;
};

/// The command block wrapper in 31 bytes, or nothing when it is not one.
std::optional<Cbw> ParseCbw(std::span<const std::uint8_t> bytes);

/// A command status wrapper.
std::array<std::uint8_t, kCswSize> MakeCsw(std::uint32_t tag, std::uint32_t residue,
                                           std::uint8_t status);

/// What the device sends back for one command.
struct BotAnswer {
  bool present = true;  ///< false: say nothing, the bridge has gone
  std::vector<std::uint8_t> dataIn{};
  bool stallIn = false;  ///< end the short data-in with a STALL before the CSW
  std::array<std::uint8_t, kCswSize> csw{};
};

/// The command loop's memory between commands: the sense owed to the host's auto-sense.
class BulkOnlySession {
 public:
  explicit BulkOnlySession(ScsiTarget& target) : target_(target) {}

  /// Answers one command whose data-out (if any) has arrived; maxPacket is the IN endpoint's.
  BotAnswer Answer(const Cbw& cbw, std::span<const std::uint8_t> dataOut, std::uint32_t maxPacket);

 private:
  ScsiReply Run(const Cbw& cbw, std::span<const std::uint8_t> dataOut);
  ScsiReply OwedSense(const Cbw& cbw);

  ScsiTarget& target_;
  bool senseOwed_ = false;  // the last CSW said "failed": the kernel asks for sense next
  Sense pending_{};
};

}  // namespace korvane::gadget
