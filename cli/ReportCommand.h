// korvane-fw report: list and check (and update when asked) run with full traces, written to one
// file to attach to a problem report.
#pragma once

#include "Command.h"
#include "CommandRun.h"
#include "Options.h"

namespace korvane::cli {

/// Runs list and check (and update when asked) and writes their results and traces to one file.
int RunReport(const Invocation& invocation, const Console& console, Devices& devices,
              Outputs& outputs, InterruptDeferral& interrupts);

}  // namespace korvane::cli
