// korvane-fw history: the events update and backup added to the history, oldest first.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "Command.h"
#include "Store.h"

namespace korvane::cli {

/// One event as the history command lists it: time, event, chip, running version (and, for an
/// update, the version written), result and failed step. Text from the file is made printable.
std::string HistoryEventText(const nlohmann::ordered_json& event);

/// Runs the command on the console's state folder: the events oldest first, or, given an answer
/// (--json), {"events": [...]} set in it. A missing history is an empty one; damaged lines are
/// warnings. Exit 0.
int RunHistory(const Console& console, JsonAnswer* json);

}  // namespace korvane::cli
