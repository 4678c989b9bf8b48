#include "ReportCommand.h"

#include <sstream>
#include <string>
#include <vector>

#include "DiskEntries.h"
#include "ProblemReport.h"
#include "Text.h"

namespace korvane::cli {
namespace {

/// One command of a report: its JSON result and its trace, kept in memory.
ReportRun RunForReport(const Invocation& invocation, const Console& console, Devices& devices,
                       Command command, InterruptDeferral& interrupts) {
  Invocation run = invocation;
  run.command = command;
  run.options.json = true;
  run.options.saveState.clear();
  run.words = {std::string(CommandName(command)), "--json"};
  if (command == Command::Update && run.update.yes) run.words.push_back("--yes");
  run.argv = {"korvane-fw"};
  run.argv.insert(run.argv.end(), run.words.begin(), run.words.end());
  ReportRun result{run.words, 0, {}, {}};
  trace::TraceWriter writer(HeaderFor(run, devices),
                            [&result](const std::string& line) { result.trace += line + "\n"; });
  std::ostringstream out;
  Console captured = WithStreams(console, out, console.err);
  captured.outIsTerminal = false;
  Outputs none;
  CommandTrace trace{writer};
  result.exitCode = RunCommand(run, captured, devices, &trace, none, interrupts);
  result.output = out.str();
  return result;
}

/// What report answers with --json: the file, and each command it ran with its exit status.
JsonAnswer ReportAnswer(const std::string& file, const std::vector<ReportRun>& runs) {
  nlohmann::ordered_json ran = nlohmann::ordered_json::array();
  for (const ReportRun& run : runs) {
    ran.push_back({{"command", run.words}, {"exit_status", run.exitCode}});
  }
  JsonAnswer answer;
  answer.Set({{"report", file}, {"runs", ran}});
  answer.Add(Severity::Information,
             "the report holds the bridge's NVRAM record, which may carry the enclosure's serial "
             "number");
  return answer;
}

}  // namespace

int RunReport(const Invocation& invocation, const Console& console, Devices& devices,
              Outputs& outputs, InterruptDeferral& interrupts) {
  std::vector<Command> commands{Command::List, Command::Check};
  if (invocation.report.update) commands.push_back(Command::Update);
  std::vector<ReportRun> runs;
  for (const Command command : commands) {
    runs.push_back(RunForReport(invocation, console, devices, command, interrupts));
    // A signal ends the report after the run it came in, which is kept.
    if (exitcode::EndedBySignal(runs.back().exitCode)) break;
  }
  const std::string& file = invocation.report.output;
  JsonAnswer answer = ReportAnswer(file, runs);
  outputs.report->Write(ProblemReportText(invocation.words, runs));
  const std::optional<std::string> problem = outputs.report->Finish();
  if (problem) SayNotSaved(console, answer, "the report", *problem);
  int code = SaveState(outputs.state, devices, console, answer,
                       problem ? exitcode::kOutputNotSaved : exitcode::kOk);
  if (const int signalled = interrupts.exitCode(); signalled != 0) code = signalled;
  if (invocation.options.json) {
    console.out << DumpJson(answer.Framed(invocation.argv, code)) << '\n';
    return code;
  }
  if (problem) return code;
  console.out << "The report is in " << Printable(file) << ": attach it to your problem report.\n"
              << "It holds the traces of " << runs.size()
              << " commands, with the bridge's NVRAM record, which may carry the enclosure's "
                 "serial number.\n";
  return code;
}

}  // namespace korvane::cli
