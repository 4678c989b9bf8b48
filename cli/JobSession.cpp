#include "JobSession.h"

namespace korvane::cli {

ProgressStyle ProgressStyleFor(const GlobalOptions& options, const Console& console) {
  if (options.json) return ProgressStyle::None;
  return console.outIsTerminal ? ProgressStyle::Bar : ProgressStyle::Lines;
}

JobSession::JobSession(CommandContext& context)
    : view_(context.out, context.err, ProgressStyleFor(context.options, context.console)),
      debug_(context.options.verbose ? &context.err : nullptr),
      job_(JobServices{context.services, context.messages, debug_, images_}) {
  if (context.console.onPump) view_.AddPumpHook(context.console.onPump);
}

}  // namespace korvane::cli
