// korvane-fw history, and the events update and backup add to the history as they end.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "CheckCommand.h"
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

/// One event as the history command lists it: time, event, chip, running version (and, for an
/// update, the version written), result and failed step. Text from the file is made printable.
std::string HistoryEventText(const nlohmann::ordered_json& event);

/// Runs the command on the console's state folder: the events oldest first, or, given an answer
/// (--json), {"events": [...]} set in it. A missing history is an empty one; damaged lines are
/// warnings. Exit 0.
int RunHistory(const Console& console, JsonAnswer* json);

}  // namespace korvane::cli
