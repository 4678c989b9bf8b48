#include "UpdateContext.h"

#include <array>
#include <utility>

namespace korvane {
namespace {

struct StepName {
  UpdateStep step;
  std::string_view name;
};

constexpr std::array<StepName, 19> kStepNames{{
    {UpdateStep::None, "none"},
    {UpdateStep::Guard, "guard"},
    {UpdateStep::Chip, "chip"},
    {UpdateStep::InUse, "mounted"},
    {UpdateStep::Image, "image"},
    {UpdateStep::Identity, "identity"},
    {UpdateStep::Descriptor, "descriptor"},
    {UpdateStep::Loader, "loader"},
    {UpdateStep::LoaderDownload, "loader-download"},
    {UpdateStep::LoaderStart, "loader-start"},
    {UpdateStep::LoaderDescriptor, "loader-descriptor"},
    {UpdateStep::WriteBlock, "write-block"},
    {UpdateStep::ReadBack, "read-back"},
    {UpdateStep::Verify, "verify"},
    {UpdateStep::NvramRead, "nvram-read"},
    {UpdateStep::NvramWrite, "nvram-write"},
    {UpdateStep::NvramVerify, "nvram-verify"},
    {UpdateStep::Backup, "backup"},
    {UpdateStep::Version, "version"},
}};

}  // namespace

std::string_view UpdateStepName(UpdateStep step) {
  for (const StepName& entry : kStepNames) {
    if (entry.step == step) return entry.name;
  }
  return "unknown";
}

std::optional<std::string> InUseReason(MountCheck& mounts, std::string_view path,
                                       std::string_view diskName) {
  const MountState state = mounts.CheckMounts(path);
  const std::string disk = "the disk behind " + std::string(diskName);
  switch (state.kind) {
    case MountState::Kind::Free:
      return std::nullopt;
    case MountState::Kind::Mounted:
      return disk + " is mounted at " + state.detail +
             ": unmount it first, then run the update again";
    case MountState::Kind::Swap:
      return disk + " is in use as swap (" + state.detail + "): turn it off with swapoff " +
             state.detail + ", then run the update again";
    case MountState::Kind::Stacked:
      return disk + " carries the volume " + state.detail +
             " (device-mapper, LVM or RAID): unmount and stop that volume first (cryptsetup "
             "close, vgchange -an, mdadm --stop or dmsetup remove), then run the update again";
    case MountState::Kind::Unknown:
      break;
  }
  return "whether " + disk + " is mounted could not be told (" + state.detail +
         "): nothing is written to a disk that may be in use";
}

void NoteFailure(UpdateFailure* failure, UpdateStep step, std::string reason) {
  if (failure == nullptr) return;
  failure->step = step;
  failure->reason = std::move(reason);
  failure->command.reset();
  failure->attempts.clear();
}

void NoteCommandFailure(UpdateFailure* failure, UpdateStep step, const Transport& io,
                        std::string_view path, std::string prefix) {
  NoteFailure(failure, step, std::move(prefix) + io.DescribeLastFailure(path));
  if (failure != nullptr) failure->command = io.LastOutcome();
}

}  // namespace korvane
