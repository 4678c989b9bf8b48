#include "Transport.h"

#include "Text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "CommandSet.h"

namespace korvane {
namespace {

constexpr std::uint32_t kLongWriteTimeoutSeconds = 100;
constexpr std::uint32_t kWriteTimeoutSeconds = 50;

// The time-out test reads CDB bytes 1, 2 and 11 whatever the CDB length; bytes past the
// length are zero in every CDB we build.
std::uint8_t CdbByte(std::span<const std::uint8_t> cdb, std::size_t index) {
  return index < cdb.size() ? cdb[index] : 0;
}

}  // namespace

std::uint8_t* AlignedBufferAlloc(std::size_t size, std::size_t alignment) {
  if (size > SIZE_MAX - alignment) return nullptr;
  // Only the usable bytes are cleared: the slack around them is never handed out, and clearing
  // it cleared 8 KiB that no device sees, twice on every command.
  auto* raw = static_cast<std::uint8_t*>(std::malloc(size + alignment));
  if (raw != nullptr) std::memset(AlignPointer(raw, alignment), 0, size);
  return raw;
}

std::uint8_t* AlignPointer(std::uint8_t* raw, std::size_t alignment) {
  const auto address = reinterpret_cast<std::uintptr_t>(raw);
  const auto aligned = (address + alignment - 1) & ~(std::uintptr_t{alignment} - 1);
  return raw + (aligned - address);
}

void AlignedBufferFree(std::uint8_t* raw) { std::free(raw); }

AlignedBuffer::AlignedBuffer(std::size_t size)
    : raw_(AlignedBufferAlloc(size, kDeviceAlignment)), size_(size) {}

AlignedBuffer::AlignedBuffer(AlignedBuffer&& other) noexcept
    : raw_(std::exchange(other.raw_, nullptr)), size_(std::exchange(other.size_, 0)) {}

AlignedBuffer::~AlignedBuffer() { AlignedBufferFree(raw_); }

std::span<std::uint8_t> AlignedBuffer::bytes() const {
  if (raw_ == nullptr) return {};
  return {AlignPointer(raw_, kDeviceAlignment), size_};
}

std::string_view FailureStageName(FailureStage stage) {
  switch (stage) {
    case FailureStage::None:
      return "none";
    case FailureStage::Refused:
      return "refused";
    case FailureStage::Open:
      return "open";
    case FailureStage::Request:
      return "request";
    case FailureStage::Status:
      return "status";
  }
  return "none";
}

bool IsBridgeOpcode(std::uint8_t opcode) {
  // Only the bridge's own commands leave the program: the disk behind the bridge holds the
  // user's data, and no command of ours has any business writing it.
  return std::find(kBridgeOpcodes.begin(), kBridgeOpcodes.end(), opcode) != kBridgeOpcodes.end();
}

std::int32_t AdjustedLength(std::int32_t length) { return length == 1 ? 2 : length; }

std::uint32_t WriteTimeoutSeconds(std::span<const std::uint8_t> cdb) {
  const bool longBuffer = CdbByte(cdb, 2) == Byte(BufferId::LongWrite);
  const bool loaderStart = CdbByte(cdb, 11) == nvramselector::kWrite &&
                           CdbByte(cdb, 1) == Byte(NvramWriteMode::StartLoader);
  return longBuffer || loaderStart ? kLongWriteTimeoutSeconds : kWriteTimeoutSeconds;
}

bool Transport::ScsiCommandIn(std::string_view path, std::span<const std::uint8_t> cdb,
                              std::uint8_t* buffer, std::int32_t length,
                              std::uint32_t* transferred) {
  return Run({path, cdb, Direction::In, buffer, nullptr, length, transferred});
}

bool Transport::ScsiCommandOut(std::string_view path, std::span<const std::uint8_t> cdb,
                               const std::uint8_t* buffer, std::int32_t length,
                               std::uint32_t* transferred) {
  return Run({path, cdb, Direction::Out, nullptr, buffer, length, transferred});
}

std::string Transport::CheckCall(const Call& call) const {
  if (call.cdb.empty() || call.cdb.size() > kMaxCdbLength) {
    return "a CDB of " + std::to_string(call.cdb.size()) + " bytes (1 to 16 allowed)";
  }
  if (!IsBridgeOpcode(call.cdb[0])) {
    return "opcode " + HexNumber(call.cdb[0]) + " is not a bridge command";
  }
  if (call.length < 0 || call.length > kMaxTransferLength) {
    return "a data length of " + std::to_string(call.length);
  }
  if (call.direction == Direction::In && call.inBuffer == nullptr && call.length > 0) {
    return "no buffer for " + std::to_string(call.length) + " bytes of data in";
  }
  if (call.path.empty()) return "an empty device path";
  return {};
}

std::span<const std::uint8_t> Transport::CallerData(const Call& call) {
  const bool sane = call.length > 0 && call.length <= kMaxTransferLength;
  if (call.direction != Direction::Out || call.outBuffer == nullptr || !sane) return {};
  return {call.outBuffer, static_cast<std::size_t>(call.length)};
}

bool Transport::Run(const Call& call) {
  last_ = CommandOutcome{};
  last_.opcode = call.cdb.empty() ? 0 : call.cdb[0];
  last_.direction = call.direction;
  if (std::string reason = CheckCall(call); !reason.empty()) {
    return Refuse(call, std::move(reason));
  }
  const PortOpen opened = port_.Open(call.path, call.direction);
  if (!opened.ok) {
    // Nothing allocated, transferred count untouched: the command never started.
    last_.stage = FailureStage::Open;
    last_.osError = opened.osError;
    Finish(call, Verdict::OpenFailed, CallerData(call));
    return false;
  }
  const bool ok = Exchange(call, opened.handle);
  port_.Close(opened.handle);
  return ok;
}

bool Transport::Refuse(const Call& call, std::string reason) {
  last_.stage = FailureStage::Refused;
  last_.refusal = std::move(reason);
  Finish(call, Verdict::Refused, CallerData(call));
  return false;
}

bool Transport::Exchange(const Call& call, PortHandle handle) {
  const auto adjusted = static_cast<std::size_t>(AdjustedLength(call.length));
  const auto length = static_cast<std::size_t>(call.length);
  AlignedBuffer request(kRequestRegionSize);
  AlignedBuffer data(adjusted);
  if (!request.valid() || !data.valid()) return OutOfMemory(call, adjusted);
  if (call.direction == Direction::Out && call.outBuffer != nullptr && length > 0) {
    std::memcpy(data.bytes().data(), call.outBuffer, length);
  }
  const PortRequest portRequest{
      call.cdb, call.direction, adjusted == 0 ? std::span<std::uint8_t>{} : data.bytes(),
      call.direction == Direction::In ? kReadTimeoutSeconds : WriteTimeoutSeconds(call.cdb),
      request.bytes()};
  const PortReply reply = port_.Execute(handle, portRequest);

  // Data in reaches the caller whether or not the command succeeded; callers test the
  // result before they trust the bytes.
  if (call.direction == Direction::In && length > 0) {
    std::memcpy(call.inBuffer, data.bytes().data(), length);
  }
  if (call.transferred != nullptr) *call.transferred = reply.transferred;
  last_.transferred = reply.transferred;

  const bool ok = Judge(reply);
  const std::uint8_t* seen = call.direction == Direction::In ? call.inBuffer : data.bytes().data();
  Finish(call, ok ? Verdict::Ok : Verdict::Failed, {seen, length});
  return ok;
}

bool Transport::OutOfMemory(const Call& call, std::size_t size) {
  last_.stage = FailureStage::Request;
  last_.refusal = "out of memory for " + std::to_string(size) + " bytes";
  Finish(call, Verdict::Failed);
  return false;
}

bool Transport::Judge(const PortReply& reply) {
  last_.osError = reply.lastError;
  last_.scsiStatus = reply.scsiStatus;
  last_.hostStatus = reply.hostStatus;
  last_.driverStatus = reply.driverStatus;
  const auto senseLength = std::min<std::size_t>(reply.senseLength, reply.sense.size());
  last_.sense = DecodeSense(std::span(reply.sense).first(senseLength));
  last_.senseBytes = reply.sense;
  last_.senseLength = static_cast<std::uint8_t>(senseLength);
  const bool requestOk = reply.requestOk && reply.lastError == 0;
  const bool statusOk = reply.scsiStatus == 0 && reply.hostStatus == 0 && reply.driverStatus == 0;
  if (!requestOk) {
    last_.stage = FailureStage::Request;
  } else if (!statusOk) {
    last_.stage = FailureStage::Status;
  }
  return requestOk && statusOk;
}

void Transport::Finish(const Call& call, Verdict verdict, std::span<const std::uint8_t> data) {
  last_.verdict = verdict;
  if (!trace_) return;
  trace_(TraceRecord{call.path, call.cdb, call.direction, call.length, data, verdict, &last_});
}

void Transport::KeepSense(std::span<const std::uint8_t> sense) {
  sense_.fill(0);
  std::copy_n(sense.begin(), std::min(sense.size(), sense_.size()), sense_.begin());
}

std::string Transport::DescribeLastFailure(std::string_view path) const {
  switch (last_.stage) {
    case FailureStage::None:
      return {};
    case FailureStage::Refused:
      return "refused to send " + last_.refusal;
    case FailureStage::Open:
    case FailureStage::Request:
      if (!last_.refusal.empty()) return last_.refusal;
      return port_.Explain(path, last_.stage, last_.osError);
    case FailureStage::Status:
      break;
  }
  return DescribeStatusFailure();
}

std::string Transport::DescribeStatusFailure() const {
  // A host or driver status alone means the command never got its answer: nothing rejected it.
  const bool rejected = last_.scsiStatus != 0 || (last_.hostStatus == 0 && last_.driverStatus == 0);
  std::string text = rejected ? "the device rejected command " + HexNumber(last_.opcode)
                              : "command " + HexNumber(last_.opcode) + " got no answer";
  text += " (SCSI status " + HexNumber(last_.scsiStatus);
  if (last_.hostStatus != 0) text += ", host status " + HexNumber(last_.hostStatus);
  if (last_.driverStatus != 0) text += ", driver status " + HexNumber(last_.driverStatus);
  text += ")";
  const std::string status = port_.ExplainStatus(last_.hostStatus, last_.driverStatus);
  if (!status.empty()) text += ": " + status;
  if (last_.sense.valid) text += ": " + DescribeSense(last_.sense);
  return text;
}
}  // namespace korvane
