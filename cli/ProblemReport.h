// The file a user attaches to a problem report: what this program is, and for each command it ran
// the command, its exit code, its JSON result and its full trace. Each run's trace replays on its
// own: korvane-fw --replay REPORT <command>.
#pragma once

#include <string>
#include <vector>

namespace korvane::cli {

/// One command the report ran.
struct ReportRun {
  std::vector<std::string> words;  ///< the command and its options
  int exitCode = 0;
  std::string output;  ///< what the command printed: its JSON result
  std::string trace;   ///< the trace's lines, header first
};

/// The report's text: a first line about the program, then each run's line and its trace.
std::string ProblemReportText(const std::vector<std::string>& command,
                              const std::vector<ReportRun>& runs);

}  // namespace korvane::cli
