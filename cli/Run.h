// A command line's run: the files it names checked, the enclosures it names made (this
// machine's, simulated or replayed), and its command run on them.
#pragma once

#include <functional>
#include <memory>

#include "Command.h"
#include "Devices.h"
#include "Options.h"
#include "PlatformDevices.h"

namespace korvane::cli {

/// Makes the devices of this machine as chosen on the command line; tests hand in a simulation
/// instead.
using PlatformFactory = std::function<std::unique_ptr<Devices>(const PlatformChoices&)>;

/// Runs the parsed, checked invocation on the enclosures it names; returns the exit code.
int Run(Invocation invocation, const Console& console, const PlatformFactory& platform);

}  // namespace korvane::cli
