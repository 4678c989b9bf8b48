// The events update and backup add to the history as they end.
#pragma once

#include <string>
#include <string_view>

#include "CheckReport.h"
#include "Command.h"
#include "Store.h"

namespace korvane::cli {

/// An event of the kind ("update" or "backup") about the checked enclosure, at this moment: the
/// enclosure, its running version and whether it is simulated; the rest is the command's.
HistoryEvent NewHistoryEvent(const CommandContext& context, std::string_view kind,
                             const CheckReport& check);

/// A file as the history names it: absolute and lexically normal, so that the line still finds
/// it when it is read from another folder. A path that cannot be made absolute stays as given.
std::string RecordedPath(const std::string& path);

/// Appends the event to the history, except in a replay, which reruns a recording. The command's
/// outcome never depends on it: a history that cannot be written is a warning on standard error.
void RecordHistory(CommandContext& context, const HistoryEvent& event);

}  // namespace korvane::cli
