// korvane-fw: the command-line face of the update tool.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <span>
#include <string>

#include "Devices.h"

namespace korvane::cli {

/// Makes the devices of this machine; tests hand in a simulation instead.
using PlatformFactory = std::function<std::unique_ptr<Devices>()>;

/// Runs korvane-fw with its arguments (without the program name) and returns the exit code.
int RunKorvaneFw(std::span<const std::string> args, std::ostream& out, std::ostream& err,
                 const PlatformFactory& platform);

}  // namespace korvane::cli
