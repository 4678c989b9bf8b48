#include "SimulatedBus.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "Text.h"

namespace korvane::sim {
namespace {

/// Interface paths name the same device whatever the letter case, as on Windows.
bool SamePath(std::string_view a, std::string_view b) { return SameIgnoringCase(a, b); }

std::string Quoted(std::string_view path) { return "the simulated disk " + std::string(path); }

}  // namespace

SimulatedBridge& SimulatedBus::AddDisk(std::string_view path, SimulatedBridge bridge,
                                       DiskHost host) {
  auto owned = std::make_unique<SimulatedBridge>(std::move(bridge));
  if (Disk* disk = FindDisk(path)) {
    disk->bridge = std::move(owned);
    disk->host = std::move(host);
    return *disk->bridge;
  }
  disks_.push_back({std::string(path), std::move(owned), std::move(host)});
  return *disks_.back().bridge;
}

SimulatedBridge* SimulatedBus::Find(std::string_view path) {
  Disk* disk = FindDisk(path);
  return disk == nullptr ? nullptr : disk->bridge.get();
}

const SimulatedBridge* SimulatedBus::Find(std::string_view path) const {
  const Disk* disk = FindDisk(path);
  return disk == nullptr ? nullptr : disk->bridge.get();
}

const DiskHost* SimulatedBus::Host(std::string_view path) const {
  const Disk* disk = FindDisk(path);
  return disk == nullptr ? nullptr : &disk->host;
}

std::vector<std::string> SimulatedBus::Paths() const {
  std::vector<std::string> paths;
  for (const Disk& disk : disks_) paths.push_back(disk.path);
  return paths;
}

PortOpen SimulatedBus::Open(std::string_view path, Direction direction) {
  const Disk* disk = FindDisk(path);
  if (disk == nullptr || !disk->bridge->present()) {
    return {.osError = oserror::kFileNotFound};
  }
  if (disk->host.accessDenied) return {.osError = oserror::kAccessDenied};
  // A data-out open asks for the disk alone, and nothing opens beside such a handle.
  const bool exclusive = direction == Direction::Out;
  if (InUse(path, exclusive)) return {.osError = oserror::kSharingViolation};
  const PortHandle handle = nextHandle_++;
  handles_.push_back({handle, disk->path, exclusive});
  return {.ok = true, .handle = handle};
}

PortReply SimulatedBus::Execute(PortHandle handle, const PortRequest& request) {
  const OpenHandle* open = FindHandle(handle);
  Disk* disk = open == nullptr ? nullptr : FindDisk(open->path);
  if (disk == nullptr) return {.lastError = oserror::kInvalidHandle};
  SimulatedBridge& bridge = *disk->bridge;
  clock_.Advance(bridge.config().latency);
  if (!bridge.present()) return {.lastError = oserror::kDeviceNotConnected};
  const bool out = request.direction == Direction::Out;
  const BridgeResponse response = bridge.Execute(
      request.cdb, request.direction,
      out ? std::span<const std::uint8_t>(request.data) : std::span<const std::uint8_t>());
  if (!response.present) return {.lastError = oserror::kDeviceNotConnected};
  // The bridge did the work; only its answer is late, and a host that gave up never sees it.
  if (OutlastsTimeout(bridge, response, request)) return {.lastError = oserror::kTimeout};
  return Deliver(response, request, bridge);
}

bool SimulatedBus::OutlastsTimeout(const SimulatedBridge& bridge, const BridgeResponse& response,
                                   const PortRequest& request) {
  using std::chrono::microseconds;
  if (response.delay.count() == 0) return false;
  const microseconds limit = std::chrono::seconds(request.timeoutSeconds);
  const microseconds spent = bridge.config().latency;
  // The host waits for the answer no longer than the time-out.
  const microseconds left = limit > spent ? limit - spent : microseconds{0};
  clock_.Advance(std::min<microseconds>(response.delay, left));
  return spent + response.delay > limit;
}

PortReply SimulatedBus::Deliver(const BridgeResponse& response, const PortRequest& request,
                                SimulatedBridge& bridge) {
  PortReply reply{.requestOk = true, .scsiStatus = response.status};
  if (response.status == scsi::kCheckCondition) {
    const auto sense = bridge.TakeSense();
    const std::size_t length = std::min(sense.size(), reply.sense.size());
    std::copy_n(sense.begin(), length, reply.sense.begin());
    reply.senseLength = static_cast<std::uint8_t>(length);
  }
  if (request.direction == Direction::Out) {
    reply.transferred = response.dataOutTaken;
    return reply;
  }
  // The host's region bounds the transfer: an answer longer than it asked for is cut.
  const std::size_t count = std::min(response.dataIn.size(), request.data.size());
  std::copy_n(response.dataIn.begin(), count, request.data.begin());
  reply.transferred = static_cast<std::uint32_t>(count);
  return reply;
}

void SimulatedBus::Close(PortHandle handle) {
  std::erase_if(handles_, [&](const OpenHandle& open) { return open.handle == handle; });
}

std::string SimulatedBus::Explain(std::string_view path, FailureStage stage,
                                  std::uint32_t osError) const {
  const std::string disk = Quoted(path);
  if (stage == FailureStage::Status) return disk + " did not accept the command";
  switch (osError) {
    case oserror::kFileNotFound:
      return disk + " is not present";
    case oserror::kAccessDenied:
      return "no permission to open " + disk + ": this user lacks the rights to the disk";
    case oserror::kSharingViolation:
      return disk + " is already open for another command";
    case oserror::kDeviceNotConnected:
      return disk + " was unplugged during the command";
    case oserror::kTimeout:
      return disk + " did not answer within the command's time-out";
    case oserror::kInvalidHandle:
      return disk + " has no open handle for this command";
    default:
      return disk + " reported error " + std::to_string(osError);
  }
}

bool SimulatedBus::DeniesAccess(FailureStage stage, std::uint32_t osError) const {
  return stage == FailureStage::Open && osError == oserror::kAccessDenied;
}

SimulatedBus::Disk* SimulatedBus::FindDisk(std::string_view path) {
  return const_cast<Disk*>(std::as_const(*this).FindDisk(path));
}

const SimulatedBus::Disk* SimulatedBus::FindDisk(std::string_view path) const {
  const auto found =
      std::ranges::find_if(disks_, [&](const Disk& disk) { return SamePath(disk.path, path); });
  return found == disks_.end() ? nullptr : &*found;
}

const SimulatedBus::OpenHandle* SimulatedBus::FindHandle(PortHandle handle) const {
  const auto found =
      std::ranges::find_if(handles_, [&](const OpenHandle& open) { return open.handle == handle; });
  return found == handles_.end() ? nullptr : &*found;
}

bool SimulatedBus::InUse(std::string_view path, bool exclusive) const {
  return std::ranges::any_of(handles_, [&](const OpenHandle& open) {
    return SamePath(open.path, path) && (exclusive || open.exclusive);
  });
}

}  // namespace korvane::sim
