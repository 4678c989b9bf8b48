// The pass-through transport: one CDB and its data per call, through a platform port.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "Port.h"
#include "SenseData.h"

namespace korvane {

/// Every buffer handed to a device starts on this boundary.
inline constexpr std::size_t kDeviceAlignment = 8192;
/// The request region: a 44-byte request block plus 1024 spare bytes.
inline constexpr std::size_t kRequestRegionSize = 1068;
/// Longest CDB a pass-through request carries.
inline constexpr std::size_t kMaxCdbLength = 16;
/// Largest data length the transport accepts (the buffer commands' 24-bit field).
inline constexpr std::int32_t kMaxTransferLength = 1 << 24;

/// Returns a raw block of size + alignment bytes whose size bytes from its first aligned address
/// are zero, or null when none can be had. The slack around them is left as it comes.
std::uint8_t* AlignedBufferAlloc(std::size_t size, std::size_t alignment);
/// The first address inside raw that is a multiple of alignment (a power of two).
std::uint8_t* AlignPointer(std::uint8_t* raw, std::size_t alignment);
/// Releases a raw block from AlignedBufferAlloc; null is ignored.
void AlignedBufferFree(std::uint8_t* raw);

/// A zero-filled block of size usable bytes on an 8192-byte boundary, freed on scope exit.
class AlignedBuffer {
 public:
  explicit AlignedBuffer(std::size_t size);
  ~AlignedBuffer();
  AlignedBuffer(const AlignedBuffer&) = delete;
  AlignedBuffer& operator=(const AlignedBuffer&) = delete;
  /// Takes the block over; the source is left empty.
  AlignedBuffer(AlignedBuffer&& other) noexcept;
  AlignedBuffer& operator=(AlignedBuffer&&) = delete;

  /// False when the allocation failed.
  bool valid() const { return raw_ != nullptr; }
  /// The aligned bytes; empty when the allocation failed.
  std::span<std::uint8_t> bytes() const;

 private:
  std::uint8_t* raw_;
  std::size_t size_;
};

/// True for the opcodes of the bridge command set; everything else is refused.
bool IsBridgeOpcode(std::uint8_t opcode);

/// Data length the device is asked for: a length of 1 travels as 2.
std::int32_t AdjustedLength(std::int32_t length);

/// Time-out of a data-out command, by the bytes of its CDB.
std::uint32_t WriteTimeoutSeconds(std::span<const std::uint8_t> cdb);

/// Time-out of every data-in command.
inline constexpr std::uint32_t kReadTimeoutSeconds = 10;

/// How one command ended.
enum class Verdict : std::uint8_t { Ok, Failed, OpenFailed, Refused };

struct CommandOutcome;

/// What the trace hook sees of one command.
struct TraceRecord {
  std::string_view path;
  std::span<const std::uint8_t> cdb;
  Direction direction = Direction::In;
  std::int32_t length = 0;             ///< the caller's length
  std::span<const std::uint8_t> data;  ///< bytes sent (out) or handed to the caller (in)
  Verdict verdict = Verdict::Failed;
  const CommandOutcome* outcome = nullptr;  ///< how the command ended; null in hand-made records
};

/// Why the last command failed, kept beside its truth value for messages.
struct CommandOutcome {
  Verdict verdict = Verdict::Ok;
  FailureStage stage = FailureStage::None;
  std::uint8_t opcode = 0;
  std::uint32_t osError = 0;
  std::uint8_t scsiStatus = 0;
  std::uint16_t hostStatus = 0;
  std::uint16_t driverStatus = 0;
  SenseData sense;      ///< sense the platform collected with a failed command, where it does
  std::string refusal;  ///< set when the transport refused the command itself
  std::uint32_t transferred = 0;  ///< the port's transferred count, once the command reached it
  std::array<std::uint8_t, kSenseLength> senseBytes{};  ///< the sense as the platform wrote it
  std::uint8_t senseLength = 0;
  Direction direction = Direction::In;  ///< which way the command's data went
};

/// Sends one command per call through a port; keeps no device open between calls.
class Transport {
 public:
  explicit Transport(Port& port) : port_(port) {}

  /// Data-in command (or one without data); true when the device accepted it with status 0.
  bool ScsiCommandIn(std::string_view path, std::span<const std::uint8_t> cdb, std::uint8_t* buffer,
                     std::int32_t length, std::uint32_t* transferred = nullptr);
  /// Data-out command; a null buffer sends zeros.
  bool ScsiCommandOut(std::string_view path, std::span<const std::uint8_t> cdb,
                      const std::uint8_t* buffer, std::int32_t length,
                      std::uint32_t* transferred = nullptr);

  /// Installs the hook that sees every command, refused ones included.
  void SetTrace(std::function<void(const TraceRecord&)> hook) { trace_ = std::move(hook); }
  /// How the last command ended.
  const CommandOutcome& LastOutcome() const { return last_; }
  /// One line for a user on why the last command failed; empty after a success.
  std::string DescribeLastFailure(std::string_view path) const;
  /// The sense data of the last REQUEST SENSE that went through, for diagnostics.
  const std::array<std::uint8_t, 18>& LastSense() const { return sense_; }
  /// Puts back the outcome of an earlier command, so a follow-up command does not hide it.
  void RestoreOutcome(CommandOutcome outcome) { last_ = std::move(outcome); }
  /// Keeps sense data that a REQUEST SENSE returned.
  void KeepSense(std::span<const std::uint8_t> sense);

 private:
  struct Call {
    std::string_view path;
    std::span<const std::uint8_t> cdb;
    Direction direction;
    std::uint8_t* inBuffer;
    const std::uint8_t* outBuffer;
    std::int32_t length;
    std::uint32_t* transferred;
  };

  static std::span<const std::uint8_t> CallerData(const Call& call);
  bool Run(const Call& call);
  bool Refuse(const Call& call, std::string reason);
  std::string CheckCall(const Call& call) const;
  bool Exchange(const Call& call, PortHandle handle);
  bool OutOfMemory(const Call& call, std::size_t size);
  /// Applies the success rule to a reply and keeps its reason.
  bool Judge(const PortReply& reply);
  void Finish(const Call& call, Verdict verdict, std::span<const std::uint8_t> data = {});
  /// Why a command that reached the device failed: its statuses, then the port's and the sense's
  /// words.
  std::string DescribeStatusFailure() const;

  Port& port_;
  std::function<void(const TraceRecord&)> trace_;
  CommandOutcome last_;
  std::array<std::uint8_t, 18> sense_{};
};

}  // namespace korvane
