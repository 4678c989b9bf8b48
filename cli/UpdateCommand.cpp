#include "UpdateCommand.h"

#include <algorithm>
#include <array>
#include <memory>

#include "EnclosureWait.h"
#include "SenseData.h"
#include "Text.h"

namespace korvane::cli {
namespace {

/// Refuses a disk in use before asking: the update would refuse it too, but only after the
/// question. Writing the bridge's firmware under a mounted file system is a known way to brick an
/// enclosure.
std::optional<UpdateOutcome> RefuseMounted(const UpdateJob& job, const CheckReport& check) {
  std::optional<std::string> reason = job.InUse(EnclosureName(check));
  if (!reason) return std::nullopt;
  return UpdateOutcome{UpdateResult::Fail,
                       check.statusText,
                       std::string(UpdateStepName(UpdateStep::InUse)),
                       std::move(reason),
                       {},
                       std::nullopt};
}

/// Asks on err and reads one line; end of input is a no.
bool Confirm(CommandContext& context, const CheckReport& check) {
  const std::string running =
      check.firmware ? VersionText(check.firmware->version) : std::string("its present version");
  context.err << "Update the firmware of " << Printable(EnclosureName(check)) << " from " << running
              << " to " << check.offeredVersion << "?\n"
              << "Do not unplug the enclosure while it is written. Continue? [y/N] " << std::flush;
  std::string answer;
  if (!std::getline(context.console.in, answer)) {
    context.err << '\n';
    return false;
  }
  return IsYes(answer);
}

/// The job's update, with SIGINT and SIGTERM held back until its outcome is shown.
UpdateOutcome Write(CommandContext& context, JobSession& session) {
  InterruptDeferral& interrupts = context.interrupts;
  TerminalView& view = session.view();
  // The view keeps the hook, so what it refers to must live as long as the view.
  auto noted = std::make_shared<bool>(false);
  auto noteOnce = [noted, &interrupts, &view] {
    if (*noted || interrupts.received() == 0) return;
    *noted = true;
    view.Note(kInterruptNote);
  };
  interrupts.Arm();
  view.AddPumpHook(noteOnce);
  UpdateJob& job = session.job();
  job.Announce();
  view.BeginJob();
  const bool complete = job.Update(job.check().path, job.check().bridgeInfo, view);
  view.EndJob();
  // A signal after the last pump still deserves its word before the outcome.
  noteOnce();

  if (complete) {
    return {UpdateResult::Complete,
            std::string(status::kUpdateComplete),
            std::nullopt,
            std::nullopt,
            {},
            std::nullopt};
  }
  const UpdateFailure& failure = job.failure();
  return {UpdateResult::Fail,
          std::string(status::kUpdateFail),
          std::string(UpdateStepName(failure.step)),
          failure.reason.empty() ? std::optional<std::string>() : failure.reason,
          failure.attempts,
          failure.command};
}

/// The attempts after the first, which the failed step and reason above describe.
void PrintLaterAttempts(std::ostream& out, const UpdateOutcome& outcome) {
  for (std::size_t index = 1; index < outcome.attempts.size(); ++index) {
    const AttemptFailure& attempt = outcome.attempts[index];
    out << "Attempt " << index + 1 << ": " << UpdateStepName(attempt.step) << ": "
        << Printable(attempt.reason) << '\n';
  }
}

void PrintOutcome(std::ostream& out, const UpdateOutcome& outcome) {
  switch (outcome.result) {
    case UpdateResult::Complete:
      out << "Update complete\n"
          << "Unplug the enclosure and plug it in again, so that the new firmware starts.\n";
      return;
    case UpdateResult::Fail:
      if (outcome.failedStep == UpdateStepName(UpdateStep::InUse)) {
        out << "Refused: " << Printable(outcome.reason.value_or("")) << ".\nNothing was written.\n";
        return;
      }
      out << "Update Fail\n"
          << "Failed step: " << outcome.failedStep.value_or("unknown") << '\n'
          << "Reason: " << Printable(outcome.reason.value_or("not known")) << '\n';
      PrintLaterAttempts(out, outcome);
      return;
    case UpdateResult::NotOffered:
      out << "Nothing was written: no update is offered.\n";
      return;
    case UpdateResult::Declined:
      out << "Nothing was written.\n";
      return;
  }
}

void Finish(CommandContext& context, const UpdateOutcome& outcome, const CheckReport& check) {
  if (context.options.json) {
    context.out << DumpJson(UpdateJson(outcome, check)) << '\n';
  } else {
    PrintOutcome(context.out, outcome);
  }
  PrintWarnings(context.err, check);
}

}  // namespace

std::string_view UpdateResultName(UpdateResult result) {
  static constexpr std::array<std::string_view, 4> kNames{"complete", "fail", "not-offered",
                                                          "declined"};
  return kNames[static_cast<std::size_t>(result)];
}

nlohmann::ordered_json FailedCommandJson(const CommandOutcome& command) {
  nlohmann::ordered_json sense = nullptr;
  if (command.sense.valid) {
    sense = {{"key", command.sense.key},
             {"asc", command.sense.asc},
             {"ascq", command.sense.ascq},
             {"text", DescribeSense(command.sense)}};
  }
  return {{"opcode", command.opcode},
          {"direction", command.direction == Direction::Out ? "out" : "in"},
          {"stage", FailureStageName(command.stage)},
          {"os_error", command.osError},
          {"scsi_status", command.scsiStatus},
          {"host_status", command.hostStatus},
          {"driver_status", command.driverStatus},
          {"sense", sense}};
}

namespace {

nlohmann::ordered_json OrNull(const std::optional<CommandOutcome>& command) {
  return command ? FailedCommandJson(*command) : nlohmann::ordered_json(nullptr);
}

}  // namespace

nlohmann::ordered_json UpdateJson(const UpdateOutcome& outcome, const CheckReport& check) {
  nlohmann::ordered_json attempts = nlohmann::ordered_json::array();
  for (const AttemptFailure& attempt : outcome.attempts) {
    attempts.push_back({{"step", UpdateStepName(attempt.step)},
                        {"reason", attempt.reason},
                        {"failed_command", OrNull(attempt.command)}});
  }
  nlohmann::ordered_json json{{"result", UpdateResultName(outcome.result)},
                              {"status_text", outcome.statusText},
                              {"failed_step", nullptr},
                              {"reason", nullptr},
                              {"failed_command", OrNull(outcome.command)},
                              {"attempts", attempts},
                              {"check", CheckJson(check)}};
  if (outcome.failedStep) json["failed_step"] = *outcome.failedStep;
  if (outcome.reason) json["reason"] = *outcome.reason;
  return json;
}

bool IsYes(std::string_view answer) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!answer.empty() && blank(answer.front())) answer.remove_prefix(1);
  while (!answer.empty() && blank(answer.back())) answer.remove_suffix(1);
  const std::string lower = AsciiLower(answer);
  return lower == "y" || lower == "yes";
}

int RunUpdate(CommandContext& context, const UpdateOptions& options) {
  JobSession session(context);
  if (const auto ended = ScanForEnclosure(context, session)) return *ended;
  const CheckReport check = BuildCheckReport(session.job(), context.messages);
  const bool human = !context.options.json;
  if (human) PrintCheckReport(context.out, check, ReportFor::Update);

  if (check.verdict != CheckVerdict::Offer) {
    Finish(
        context,
        {UpdateResult::NotOffered, check.statusText, std::nullopt, check.reason, {}, std::nullopt},
        check);
    return CheckExitCode(check.verdict, session.job().RightsExplain());
  }
  if (auto refusal = RefuseMounted(session.job(), check)) {
    Finish(context, *refusal, check);
    return exitcode::kFailure;
  }
  if (!options.yes && !Confirm(context, check)) {
    Finish(context,
           {UpdateResult::Declined, check.statusText, std::nullopt, std::nullopt, {}, std::nullopt},
           check);
    return exitcode::kOk;
  }
  if (human) {
    context.out << "Writing " << check.offeredVersion << ": do not unplug the enclosure.\n"
                << std::flush;
  }
  const std::size_t denialsBefore = context.access.denials();
  const UpdateOutcome outcome = Write(context, session);
  Finish(context, outcome, check);
  if (outcome.result == UpdateResult::Complete) return exitcode::kOk;
  return context.access.denials() > denialsBefore ? exitcode::kNoRights : exitcode::kFailure;
}

}  // namespace korvane::cli
