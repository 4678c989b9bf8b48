#include "BulkOnly.h"

#include <algorithm>

#include "ByteOrder.h"

namespace korvane::gadget {
namespace {

constexpr std::uint32_t kCbwSignature = 0x43425355;
constexpr std::uint32_t kCswSignature = 0x53425355;
constexpr std::uint8_t kRequestSense = 0x03;
constexpr std::uint8_t kDataInFlag = 0x80;
constexpr std::uint8_t kLogicalUnitNotSupported = 0x25;

std::uint32_t Le32At(std::span<const std::uint8_t> bytes, std::size_t at) {
  return get_le32(bytes.subspan(at).first<4>());
}

void PutLe32At(std::span<std::uint8_t> bytes, std::size_t at, std::uint32_t value) {
  put_le32(bytes.subspan(at).first<4>(), value);
}

}  // namespace

DataDirection Cbw::direction() const {
  if (length == 0) return DataDirection::None;
  return dataIn ? DataDirection::In : DataDirection::Out;
}

std::optional<Cbw> ParseCbw(std::span<const std::uint8_t> bytes) {
  if (bytes.size() != kCbwSize || Le32At(bytes, 0) != kCbwSignature) return std::nullopt;
  Cbw cbw;
  cbw.tag = Le32At(bytes, 4);
  cbw.length = Le32At(bytes, 8);
  cbw.dataIn = (bytes[12] & kDataInFlag) != 0;
  cbw.lun = bytes[13] & 0x0F;
  cbw.cbLength = bytes[14] & 0x1F;
  if (cbw.cbLength == 0 || cbw.cbLength > kCdbFieldSize) return std::nullopt;
  std::copy_n(bytes.begin() + 15, cbw.cbLength, cbw.cb.begin());
  return cbw;
}

std::array<std::uint8_t, kCswSize> MakeCsw(std::uint32_t tag, std::uint32_t residue,
                                           std::uint8_t status) {
  std::array<std::uint8_t, kCswSize> csw{};
  PutLe32At(csw, 0, kCswSignature);
  PutLe32At(csw, 4, tag);
  PutLe32At(csw, 8, residue);
  csw[12] = status;
  return csw;
}

BotAnswer BulkOnlySession::Answer(const Cbw& cbw, std::span<const std::uint8_t> dataOut,
                                  std::uint32_t maxPacket) {
  ScsiReply reply = Run(cbw, dataOut);
  if (!reply.present) return {.present = false};
  // Bulk-Only has no status byte: any status but GOOD is "failed", and the sense tells why.
  const bool failed = reply.status != sim::scsi::kGood;
  senseOwed_ = failed;
  pending_ = failed ? reply.sense : Sense{};
  BotAnswer answer;
  std::uint32_t moved = 0;
  if (cbw.direction() == DataDirection::In) {
    answer.dataIn = std::move(reply.dataIn);
    if (answer.dataIn.size() > cbw.length) answer.dataIn.resize(cbw.length);
    moved = static_cast<std::uint32_t>(answer.dataIn.size());
    answer.stallIn = ShortEndsOnPacket(moved, cbw.length, maxPacket);
  } else if (cbw.direction() == DataDirection::Out) {
    moved = std::min(reply.dataOutTaken, cbw.length);
  }
  answer.csw = MakeCsw(cbw.tag, cbw.length - moved, failed ? csw::kFailed : csw::kPassed);
  return answer;
}

ScsiReply BulkOnlySession::Run(const Cbw& cbw, std::span<const std::uint8_t> dataOut) {
  if (cbw.cb[0] == kRequestSense && senseOwed_) return OwedSense(cbw);
  if (cbw.lun != 0) {
    return {.status = sim::scsi::kCheckCondition,
            .sense = MakeSense(sim::sense::kIllegalRequest, kLogicalUnitNotSupported)};
  }
  return target_.Execute({.cdb = std::span(cbw.cb).first(cbw.cbLength),
                          .direction = cbw.direction(),
                          .dataOut = dataOut,
                          .expectedIn = cbw.dataIn ? cbw.length : 0});
}

ScsiReply BulkOnlySession::OwedSense(const Cbw& cbw) {
  // The kernel's auto-sense right after a failed command: the sense that command left, as a
  // bridge that keeps the status of the last command answers it, without another command.
  senseOwed_ = false;
  const std::size_t count = std::min<std::size_t>({pending_.size(), cbw.cb[4], cbw.length});
  return {.dataIn = std::vector<std::uint8_t>(pending_.begin(), pending_.begin() + count)};
}

}  // namespace korvane::gadget
