#include "FormSession.h"

namespace korvane::cli {

ProgressStyle ProgressStyleFor(const GlobalOptions& options, const Console& console) {
  if (options.json) return ProgressStyle::None;
  return console.outIsTerminal ? ProgressStyle::Bar : ProgressStyle::Lines;
}

FormSession::FormSession(CommandContext& context)
    : view_(context.out, context.err, ProgressStyleFor(context.options, context.console)),
      debug_(context.options.verbose ? &context.err : nullptr),
      form_(FormServices{context.io, context.devices.lister(), context.devices.clock(), view_,
                         context.messages, debug_, images_, desktop_, context.devices.enclosures(),
                         &context.devices}) {
  if (context.console.onPump) view_.AddPumpHook(context.console.onPump);
}

}  // namespace korvane::cli
