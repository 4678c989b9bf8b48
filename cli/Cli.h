// korvane-fw: the command-line face of the update tool.
#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>

#include "Command.h"
#include "Devices.h"
#include "PlatformDevices.h"

namespace korvane::cli {

/// Makes the devices of this machine as chosen on the command line; tests hand in a simulation
/// instead.
using PlatformFactory = std::function<std::unique_ptr<Devices>(const PlatformChoices&)>;

/// Runs korvane-fw with its arguments (without the program name) on the console and returns the
/// exit code.
int RunKorvaneFw(std::span<const std::string> args, const Console& console,
                 const PlatformFactory& platform);

}  // namespace korvane::cli
