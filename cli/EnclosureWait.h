// check --wait and update --wait: when the scan finds no enclosure, the command waits for one to
// be plugged in, rescanning as the window does after device changes.
#pragma once

#include <optional>
#include <string_view>

#include "Command.h"
#include "JobSession.h"

namespace korvane::cli {

/// Said once on stderr when the wait begins.
inline constexpr std::string_view kPlugInNote = "Plug in the enclosure... (Ctrl-C to stop)";

/// The engine's first scan and version check, as the window runs it when it opens. With --wait,
/// when it found nothing, the command then waits until a scan finds something: each burst of
/// device changes, once quiet for the rescan interval, is followed by a scan. Listening starts
/// before the first scan, so that an enclosure plugged in between that scan and the wait is not
/// missed. Returns the exit code that ends the command instead of a report (an interrupt, or a
/// platform that cannot tell of changes), or nothing to report what the last scan found. The wait
/// ends with nothing at once when missing rights explain why nothing was found, or when no change
/// can come any more.
std::optional<int> ScanForEnclosure(CommandContext& context, JobSession& session);

}  // namespace korvane::cli
