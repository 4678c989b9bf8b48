#include "UpdateCommand.h"

#include <algorithm>
#include <array>
#include <memory>

#include "EnclosureWait.h"
#include "Text.h"

namespace korvane::cli {
namespace {

/// Refuses a disk in use before asking: the update would refuse it too, but only after the
/// question. Writing the bridge's firmware under a mounted file system is a known way to brick an
/// enclosure.
std::optional<UpdateOutcome> RefuseMounted(CommandContext& context, const CheckReport& check) {
  std::optional<std::string> reason =
      InUseReason(context.devices, check.checkedPath, EnclosureName(check));
  if (!reason) return std::nullopt;
  return UpdateOutcome{UpdateResult::Fail,
                       check.statusText,
                       std::string(UpdateStepName(UpdateStep::InUse)),
                       std::move(reason),
                       {}};
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

/// The window's update command, with SIGINT and SIGTERM held back until its outcome is shown.
UpdateOutcome Write(CommandContext& context, FormSession& session) {
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
  session.form().lblStaustClick();
  // A signal after the last pump still deserves its word before the outcome.
  noteOnce();

  const TForm1& form = session.form();
  if (form.display() == Display::UpdateComplete) {
    return {UpdateResult::Complete, form.statusText(), std::nullopt, std::nullopt, {}};
  }
  const UpdateFailure& failure = form.updateFailure();
  return {UpdateResult::Fail, form.statusText(), std::string(UpdateStepName(failure.step)),
          failure.reason.empty() ? std::optional<std::string>() : failure.reason, failure.attempts};
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

nlohmann::ordered_json UpdateJson(const UpdateOutcome& outcome, const CheckReport& check) {
  nlohmann::ordered_json attempts = nlohmann::ordered_json::array();
  for (const AttemptFailure& attempt : outcome.attempts) {
    attempts.push_back({{"step", UpdateStepName(attempt.step)}, {"reason", attempt.reason}});
  }
  nlohmann::ordered_json json{{"result", UpdateResultName(outcome.result)},
                              {"status_text", outcome.statusText},
                              {"failed_step", nullptr},
                              {"reason", nullptr},
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
  std::string lower(answer);
  std::ranges::transform(lower, lower.begin(), [](char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return lower == "y" || lower == "yes";
}

int RunUpdate(CommandContext& context, const UpdateOptions& options) {
  FormSession session(context);
  if (const auto ended = ScanForEnclosure(context, session)) return *ended;
  const CheckReport check = BuildCheckReport(session, context.messages);
  const bool human = !context.options.json;
  if (human) PrintCheckReport(context.out, check, ReportFor::Update);

  if (check.verdict != CheckVerdict::Offer) {
    Finish(context, {UpdateResult::NotOffered, check.statusText, std::nullopt, check.reason, {}},
           check);
    return CheckExitCode(check.verdict, RightsExplain(check, context.access));
  }
  if (auto refusal = RefuseMounted(context, check)) {
    Finish(context, *refusal, check);
    return exitcode::kFailure;
  }
  if (!options.yes && !Confirm(context, check)) {
    Finish(context, {UpdateResult::Declined, check.statusText, std::nullopt, std::nullopt, {}},
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
