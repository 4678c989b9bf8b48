// korvane-fw check: the scan and version check, reported in words or as JSON.
#pragma once

#include "Command.h"

namespace korvane::cli {

/// Runs the command; returns the exit code.
int RunCheck(CommandContext& context);

}  // namespace korvane::cli
