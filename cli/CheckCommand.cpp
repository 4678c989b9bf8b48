#include "CheckCommand.h"

#include "CheckReport.h"
#include "EnclosureWait.h"
#include "JobSession.h"

namespace korvane::cli {

int RunCheck(CommandContext& context) {
  JobSession session(context);
  const auto ended = ScanForEnclosure(context, session);
  const CheckReport report = BuildCheckReport(session.job(), context.messages);
  if (ended) {
    // The wait ended it: what the last scan saw is still the answer.
    if (context.options.json) context.json.Set(CheckJson(report));
    return *ended;
  }
  const int code = CheckExitCode(report.verdict, session.job().RightsExplain());
  if (context.options.json) {
    context.json.Set(CheckJson(report));
  } else {
    PrintCheckReport(context.out, context.err, report, ReportFor::Check, context.options.verbose);
  }
  PrintWarnings(context, report);
  if (code != exitcode::kOk && code != exitcode::kOffered && report.reason) {
    context.json.Add(Severity::Error, *report.reason);
  }
  return code;
}

}  // namespace korvane::cli
