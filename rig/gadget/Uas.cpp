#include "Uas.h"

#include <algorithm>

#include "ByteOrder.h"

namespace korvane::gadget {
namespace {

constexpr std::size_t kCommandIuSize = 32;
constexpr std::size_t kCommandCdbAt = 16;
constexpr std::size_t kTaskManagementIuSize = 16;
constexpr std::size_t kSenseIuHeader = 16;
constexpr std::uint8_t kInquiry = 0x12;
constexpr std::uint8_t kLogicalUnitNotSupported = 0x25;
constexpr std::size_t kInquiryStandardSize = 36;
constexpr std::uint8_t kNoLogicalUnit = 0x7F;  // peripheral qualifier 3, device type 0x1F

// Every IU carries its tag in bytes 2-3.
constexpr std::size_t kTagAt = 2;

std::uint16_t Tag(std::span<const std::uint8_t> bytes) {
  return static_cast<std::uint16_t>(get_be16(bytes.subspan<kTagAt, 2>()));
}

void PutTag(std::span<std::uint8_t> bytes, std::uint16_t tag) {
  put_be16(bytes.subspan(kTagAt).first<2>(), tag);
}

std::optional<UasCommand> ParseCommand(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kCommandIuSize) return std::nullopt;
  const std::size_t additional = (bytes[6] >> 2) * 4u;
  if (bytes.size() < kCommandIuSize + additional) return std::nullopt;
  UasCommand command{.tag = Tag(bytes)};
  for (std::size_t i = 8; i < kCommandCdbAt; ++i) command.lun = command.lun << 8 | bytes[i];
  const auto cdb = bytes.subspan(kCommandCdbAt, kCdbFieldSize + additional);
  command.cdb.assign(cdb.begin(), cdb.end());
  return command;
}

/// The CDB as long as the host sent it, as far as the IU tells: a command IU pads every CDB of
/// up to 16 bytes with zeros, so such a CDB takes the length of its command's own form, as a
/// device reads it from the opcode. Only a longer CDB states its length, in its additional bytes.
std::span<const std::uint8_t> CdbAsSent(const UasCommand& command, const DataPhase& phase) {
  const std::span<const std::uint8_t> cdb(command.cdb);
  if (cdb.size() > kCdbFieldSize || !phase.known) return cdb;
  return cdb.first(phase.cdbLength);
}

/// The only answer a LUN other than 0 gets: INQUIRY says nobody is there, the rest fails.
UasAnswer NoSuchLun(const UasCommand& command) {
  const DataPhase phase = PhaseOf(ToField(command.cdb));
  if (command.cdb[0] == kInquiry && phase.length > 0) {
    UasAnswer answer{.dataIn = std::vector<std::uint8_t>(
                         std::min<std::size_t>(phase.length, kInquiryStandardSize), 0)};
    answer.dataIn[0] = kNoLogicalUnit;
    return answer;
  }
  return {.status = sim::scsi::kCheckCondition,
          .sense = MakeSense(sim::sense::kIllegalRequest, kLogicalUnitNotSupported)};
}

}  // namespace

UasIu ParseIu(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 4) return {};
  if (bytes[0] == iu::kCommand) return {.command = ParseCommand(bytes)};
  if (bytes[0] == iu::kTaskManagement && bytes.size() >= kTaskManagementIuSize) {
    return {.taskManagement = UasTaskManagement{.tag = Tag(bytes), .function = bytes[4]}};
  }
  return {};
}

std::vector<std::uint8_t> MakeSenseIu(std::uint16_t tag, std::uint8_t status, const Sense& sense) {
  const bool withSense = status == sim::scsi::kCheckCondition;
  std::vector<std::uint8_t> bytes(kSenseIuHeader + (withSense ? sense.size() : 0), 0);
  bytes[0] = iu::kSense;
  PutTag(bytes, tag);
  bytes[6] = status;
  if (withSense) {
    bytes[15] = static_cast<std::uint8_t>(sense.size());  // sense data length, bytes 14-15
    std::ranges::copy(sense, bytes.begin() + kSenseIuHeader);
  }
  return bytes;
}

std::array<std::uint8_t, 4> MakeReadyIu(std::uint8_t id, std::uint16_t tag) {
  std::array<std::uint8_t, 4> bytes{id};
  PutTag(bytes, tag);
  return bytes;
}

std::array<std::uint8_t, 8> MakeResponseIu(std::uint16_t tag) {
  // Response code 0 in byte 7: task management function complete.
  std::array<std::uint8_t, 8> bytes{iu::kResponse};
  PutTag(bytes, tag);
  return bytes;
}

std::optional<std::size_t> PushDataIn(std::span<const std::uint8_t> data, bool zeroLengthPacket,
                                      std::size_t chunk, const DataInTransfer& transfer) {
  std::size_t taken = 0;
  while (taken < data.size()) {
    const auto piece = data.subspan(taken, std::min(chunk, data.size() - taken));
    const std::int64_t took = transfer(piece);
    if (took < 0) return std::nullopt;
    taken += std::min(static_cast<std::size_t>(took), piece.size());
    if (static_cast<std::size_t>(took) < piece.size()) return taken;
  }
  if (zeroLengthPacket && transfer({}) < 0) return std::nullopt;
  return taken;
}

UasAnswer UasSession::Answer(const UasCommand& command, std::span<const std::uint8_t> dataOut,
                             std::uint32_t maxPacket) {
  if (command.lun != 0) return NoSuchLun(command);
  const DataPhase phase = PhaseOf(ToField(command.cdb));
  // Without a length in the IU the CDB decides it, and the host's buffer is at least that big.
  ScsiReply reply =
      target_.Execute({.cdb = CdbAsSent(command, phase),
                       .direction = phase.length == 0 ? DataDirection::None : phase.direction,
                       .dataOut = dataOut,
                       .expectedIn = phase.direction == DataDirection::In ? phase.length : 0});
  if (!reply.present) return {.present = false};
  UasAnswer answer{.status = reply.status, .sense = reply.sense};
  if (reply.status == sim::scsi::kGood && phase.direction == DataDirection::In) {
    answer.dataIn = std::move(reply.dataIn);
    answer.zeroLengthPacket = ShortEndsOnPacket(static_cast<std::uint32_t>(answer.dataIn.size()),
                                                phase.length, maxPacket);
  }
  return answer;
}

}  // namespace korvane::gadget
