// korvane-fw: the command-line face of the update tool.
#pragma once

#include <span>
#include <string>

#include "Command.h"
#include "Run.h"

namespace korvane::cli {

/// Runs korvane-fw with its arguments (without the program name) on the console and returns the
/// exit code.
int RunKorvaneFw(std::span<const std::string> args, const Console& console,
                 const PlatformFactory& platform);

}  // namespace korvane::cli
