#include "UpdateContext.h"

#include <array>
#include <utility>

namespace korvane {
namespace {

struct StepName {
  UpdateStep step;
  std::string_view name;
};

constexpr std::array<StepName, 16> kStepNames{{
    {UpdateStep::None, "none"},
    {UpdateStep::Guard, "guard"},
    {UpdateStep::Chip, "chip"},
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
}};

}  // namespace

std::string_view UpdateStepName(UpdateStep step) {
  for (const StepName& entry : kStepNames) {
    if (entry.step == step) return entry.name;
  }
  return "unknown";
}

void NoteFailure(UpdateFailure* failure, UpdateStep step, std::string reason) {
  if (failure == nullptr) return;
  failure->step = step;
  failure->reason = std::move(reason);
}

}  // namespace korvane
