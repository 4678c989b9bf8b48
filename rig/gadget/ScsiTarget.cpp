#include "ScsiTarget.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "ByteOrder.h"
#include "Replugs.h"
#include "Text.h"

namespace korvane::gadget {
namespace {

using sim::scsi::kCheckCondition;
using sim::sense::kIllegalRequest;
using sim::sense::kInvalidField;
using sim::sense::kInvalidOpcode;

constexpr std::uint8_t kLbaOutOfRange = 0x21;
constexpr std::uint8_t kInquiry = 0x12;
constexpr std::uint8_t kInquiryEvpd = 0x01;

std::uint64_t BigEndian(const CdbField& cdb, std::size_t at, std::size_t size) {
  return get_be(std::span(cdb).subspan(at, size));
}

ScsiReply Fail(std::uint8_t key, std::uint8_t asc) {
  return {.status = kCheckCondition, .sense = MakeSense(key, asc)};
}

/// An answer cut to the allocation length of the CDB and to what the host takes.
ScsiReply Answer(std::span<const std::uint8_t> bytes, std::uint32_t allocation,
                 const ScsiRequest& request) {
  const std::size_t size = std::min<std::size_t>({bytes.size(), allocation, request.expectedIn});
  return {.dataIn = std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + size)};
}

ScsiReply Good(const Medium&, const CdbField&, const ScsiRequest&) { return {}; }

ScsiReply ReadCapacity10(const Medium& medium, const CdbField& cdb, const ScsiRequest& request) {
  std::array<std::uint8_t, 8> data{};
  put_be(std::span(data).first(4), medium.blocks() - 1);
  put_be(std::span(data).subspan(4), kMediumBlockSize);
  return Answer(data, PhaseOf(cdb).length, request);
}

ScsiReply ReadCapacity16(const Medium& medium, const CdbField& cdb, const ScsiRequest& request) {
  std::array<std::uint8_t, 32> data{};
  put_be(std::span(data).first(8), medium.blocks() - 1);
  put_be(std::span(data).subspan(8, 4), kMediumBlockSize);
  return Answer(data, PhaseOf(cdb).length, request);
}

// Mode parameter headers with no pages and no block descriptor; the medium is not write-protected.
ScsiReply ModeSense6(const Medium&, const CdbField& cdb, const ScsiRequest& request) {
  constexpr std::array<std::uint8_t, 4> kHeader{3, 0, 0, 0};
  return Answer(kHeader, PhaseOf(cdb).length, request);
}

ScsiReply ModeSense10(const Medium&, const CdbField& cdb, const ScsiRequest& request) {
  constexpr std::array<std::uint8_t, 8> kHeader{0, 6, 0, 0, 0, 0, 0, 0};
  return Answer(kHeader, PhaseOf(cdb).length, request);
}

ScsiReply ReportLuns(const Medium&, const CdbField& cdb, const ScsiRequest& request) {
  constexpr std::array<std::uint8_t, 16> kLunZero{0, 0, 0, 8};  // one LUN: 0
  return Answer(kLunZero, PhaseOf(cdb).length, request);
}

/// Where a READ or WRITE starts and how many blocks it covers.
struct Extent {
  std::uint64_t lba;
  std::uint64_t count;
};

Extent ExtentOf(const CdbField& cdb) {
  const bool sixteen = cdb[0] == 0x88 || cdb[0] == 0x8A;
  if (sixteen) return {BigEndian(cdb, 2, 8), BigEndian(cdb, 10, 4)};
  return {BigEndian(cdb, 2, 4), BigEndian(cdb, 7, 2)};
}

ScsiReply ReadBlocks(const Medium& medium, const CdbField& cdb, const ScsiRequest& request) {
  const Extent extent = ExtentOf(cdb);
  if (!medium.Holds(extent.lba, extent.count)) return Fail(kIllegalRequest, kLbaOutOfRange);
  return Answer(medium.Read(extent.lba, extent.count), UINT32_MAX, request);
}

ScsiReply WriteBlocks(Medium& medium, const CdbField& cdb, const ScsiRequest& request) {
  const Extent extent = ExtentOf(cdb);
  if (!medium.Holds(extent.lba, extent.count)) return Fail(kIllegalRequest, kLbaOutOfRange);
  // Only whole blocks that arrived are stored; a host that sent less sees it in the residue.
  const std::uint64_t blocks =
      std::min<std::uint64_t>(extent.count, request.dataOut.size() / kMediumBlockSize);
  const std::size_t bytes = blocks * kMediumBlockSize;
  medium.Write(extent.lba, request.dataOut.first(bytes));
  return {.dataOutTaken = static_cast<std::uint32_t>(bytes)};
}

using MediumHandler = ScsiReply (*)(Medium&, const CdbField&, const ScsiRequest&);

struct MediumCommand {
  std::uint8_t opcode;
  MediumHandler handler;
};

// Read-only handlers take the medium as const; the table needs one signature.
template <ScsiReply (*F)(const Medium&, const CdbField&, const ScsiRequest&)>
ScsiReply ReadOnly(Medium& medium, const CdbField& cdb, const ScsiRequest& request) {
  return F(medium, cdb, request);
}

// clang-format off
constexpr std::array kMediumCommands{
  MediumCommand{0x00, ReadOnly<Good>},            // TEST UNIT READY
  MediumCommand{0x1A, ReadOnly<ModeSense6>},
  MediumCommand{0x1B, ReadOnly<Good>},            // START STOP UNIT: the medium is always there
  MediumCommand{0x1E, ReadOnly<Good>},            // PREVENT ALLOW MEDIUM REMOVAL
  MediumCommand{0x25, ReadOnly<ReadCapacity10>},
  MediumCommand{0x28, ReadOnly<ReadBlocks>},
  MediumCommand{0x2A, WriteBlocks},
  MediumCommand{0x35, ReadOnly<Good>},            // SYNCHRONIZE CACHE(10): nothing is cached
  MediumCommand{0x5A, ReadOnly<ModeSense10>},
  MediumCommand{0x88, ReadOnly<ReadBlocks>},
  MediumCommand{0x8A, WriteBlocks},
  MediumCommand{0x9E, ReadOnly<ReadCapacity16>},  // SERVICE ACTION IN, checked by the table
  MediumCommand{0xA0, ReadOnly<ReportLuns>},
};
// clang-format on

std::string Outcome(const ScsiReply& reply) {
  if (!reply.present) return "the bridge vanished";
  std::array<char, 64> text{};
  if (reply.status == kCheckCondition) {
    std::snprintf(text.data(), text.size(), "CHECK CONDITION %02X/%02X/%02X", reply.sense[2],
                  reply.sense[12], reply.sense[13]);
  } else {
    std::snprintf(text.data(), text.size(), "status %02X, %zu bytes in, %u out", reply.status,
                  reply.dataIn.size(), reply.dataOutTaken);
  }
  return text.data();
}

Direction BridgeDirection(DataDirection host, const DataPhase& phase) {
  const DataDirection direction = host != DataDirection::None ? host : phase.direction;
  return direction == DataDirection::Out ? Direction::Out : Direction::In;
}

}  // namespace

Sense MakeSense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  Sense sense{};
  sense[0] = 0x70;  // current error, fixed format
  sense[2] = key;
  sense[7] = sim::kSenseSize - 8;  // additional sense length
  sense[12] = asc;
  sense[13] = ascq;
  return sense;
}

ScsiTarget::ScsiTarget(sim::SimulatedBridge& bridge, Clock& clock,
                       std::function<void(const std::string&)> log)
    : bridge_(bridge), clock_(clock), log_(std::move(log)) {}

ScsiReply ScsiTarget::Execute(const ScsiRequest& request) {
  if (request.cdb.empty()) return Fail(kIllegalRequest, kInvalidOpcode);
  if (arrival_) arrival_(request.cdb);
  const CdbField cdb = ToField(request.cdb);
  const DataPhase phase = PhaseOf(cdb);
  // The kernel asks for VPD pages; the bridge has none and must not see the request.
  const bool vpd = cdb[0] == kInquiry && (cdb[1] & kInquiryEvpd) != 0;
  if (vpd && present()) return Fail(kIllegalRequest, kInvalidField);
  if (IsBridgeOpcode(cdb[0])) return ExecuteBridge(request, phase);
  const std::lock_guard lock(mutex_);
  // The medium sits behind the bridge: when the bridge is gone, so is the disk.
  if (!bridge_.present()) return {.present = false};
  return ExecuteMedium(request, cdb);
}

ScsiReply ScsiTarget::ExecuteBridge(const ScsiRequest& request, const DataPhase& phase) {
  ScsiReply reply;
  std::chrono::microseconds wait{0};
  {
    const std::lock_guard lock(mutex_);
    // The bridge decodes the CDB in the length the host sent it, and refuses a wrong one.
    sim::BridgeResponse response =
        bridge_.Execute(request.cdb, BridgeDirection(request.direction, phase), request.dataOut);
    reply.present = response.present;
    reply.status = response.status;
    if (response.dataIn.size() > request.expectedIn) response.dataIn.resize(request.expectedIn);
    reply.dataIn = std::move(response.dataIn);
    reply.dataOutTaken = std::min<std::uint32_t>(
        response.dataOutTaken, static_cast<std::uint32_t>(request.dataOut.size()));
    // The sense travels with the failure (the auto-sense, the sense IU): the bridge keeps none.
    if (reply.status == kCheckCondition) reply.sense = bridge_.TakeSense();
    wait = bridge_.config().latency + response.delay;
  }
  Log(request.cdb, reply);
  // Spent outside the lock, so that a replug asked meanwhile is not held up by a late answer.
  if (reply.present && wait.count() > 0) {
    clock_.Sleep(std::chrono::ceil<std::chrono::milliseconds>(wait));
  }
  return reply;
}

ScsiReply ScsiTarget::ExecuteMedium(const ScsiRequest& request, const CdbField& cdb) {
  const auto command = std::ranges::find_if(
      kMediumCommands, [&](const MediumCommand& c) { return c.opcode == cdb[0]; });
  if (command == kMediumCommands.end() || !PhaseOf(cdb).known) {
    return Fail(kIllegalRequest, kInvalidOpcode);
  }
  return command->handler(medium_, cdb, request);
}

void ScsiTarget::Log(std::span<const std::uint8_t> cdb, const ScsiReply& reply) const {
  if (log_) log_("bridge " + HexText(cdb, HexCase::Upper, " ") + " -> " + Outcome(reply));
}

void ScsiTarget::Replug(const sim::DiskHost* host) {
  const std::lock_guard lock(mutex_);
  if (host != nullptr) {
    sim::ReplugAfterUpdate(bridge_, *host);
  } else {
    bridge_.Replug();
  }
}

bool ScsiTarget::flashWritten() const {
  const std::lock_guard lock(mutex_);
  return bridge_.flashWritten();
}

bool ScsiTarget::present() const {
  const std::lock_guard lock(mutex_);
  return bridge_.present();
}

sim::FirmwareVersion ScsiTarget::runningVersion() const {
  const std::lock_guard lock(mutex_);
  return bridge_.runState() == sim::RunState::BootRom ? sim::FirmwareVersion{}
                                                      : bridge_.runningVersion();
}

}  // namespace korvane::gadget
