#include "ProblemReport.h"

#include <nlohmann/json.hpp>

#include "TraceFormat.h"

namespace korvane::cli {
namespace {

using Json = nlohmann::ordered_json;

std::string Dump(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

/// The command's JSON result as JSON; printed text that is not JSON stays text.
Json Result(const std::string& output) {
  Json parsed = Json::parse(output, nullptr, false);
  return parsed.is_discarded() ? Json(output) : parsed;
}

}  // namespace

std::string ProblemReportText(const std::vector<std::string>& command,
                              const std::vector<ReportRun>& runs) {
  std::string text = Dump(Json{{"report", 1},
                               {"program", "korvane-fw"},
                               {"version", KORVANE_VERSION},
                               {"platform", trace::ThisPlatform()},
                               {"command", command}}) +
                     "\n";
  for (const ReportRun& run : runs) {
    text += Dump(Json{{"run", run.words}, {"exit", run.exitCode}, {"result", Result(run.output)}});
    text += "\n" + run.trace;
  }
  return text;
}

}  // namespace korvane::cli
