#include "AccessWatch.h"

#include <algorithm>

#include "Text.h"

namespace korvane {
namespace {

/// The scan keeps device paths in lower case; the lister may not.
bool SamePath(std::string_view a, std::string_view b) { return SameIgnoringCase(a, b); }

}  // namespace

bool AccessWatch::DeniedFor(std::string_view path) const {
  return std::ranges::any_of(deniedPaths_,
                             [&](const std::string& denied) { return SamePath(denied, path); });
}

PortOpen AccessWatch::Open(std::string_view path, Direction direction) {
  const PortOpen opened = inner().Open(path, direction);
  if (opened.ok) {
    openPaths_.emplace_back(opened.handle, std::string(path));
  } else if (inner().DeniesAccess(FailureStage::Open, opened.osError)) {
    Note(path);
  }
  return opened;
}

PortReply AccessWatch::Execute(PortHandle handle, const PortRequest& request) {
  const PortReply reply = inner().Execute(handle, request);
  // The transport counts a request as failed when the call failed or left an OS error.
  const bool requestFailed = !reply.requestOk || reply.lastError != 0;
  if (requestFailed && inner().DeniesAccess(FailureStage::Request, reply.lastError)) {
    const auto open =
        std::ranges::find(openPaths_, handle, &decltype(openPaths_)::value_type::first);
    Note(open == openPaths_.end() ? std::string_view() : std::string_view(open->second));
  }
  return reply;
}

void AccessWatch::Close(PortHandle handle) {
  std::erase_if(openPaths_, [&](const auto& open) { return open.first == handle; });
  inner().Close(handle);
}

void AccessWatch::Note(std::string_view path) {
  ++denials_;
  if (!DeniedFor(path)) deniedPaths_.emplace_back(path);
}

}  // namespace korvane
