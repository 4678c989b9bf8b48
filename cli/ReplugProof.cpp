#include "ReplugProof.h"

#include "CheckReport.h"
#include "DeviceChanges.h"
#include "Text.h"

namespace korvane::cli {
namespace {

using std::chrono::milliseconds;

ReplugProof Waited(CommandContext& context, JobSession& session,
                   const ReplugExpectation& expected) {
  const ReloadWait wait{context.devices.changes(), context.devices.clock(),
                        [&context] { return context.interrupts.received() != 0; },
                        [&context] { context.messages.Clear(); }};
  const ReloadSeen seen = WaitForReload(session.job(), wait, expected);
  ReplugProof proof{seen.result, std::nullopt, seen.path, {}};
  if (seen.version) proof.firmware = FirmwareState{*seen.version, seen.romMode};
  return proof;
}

std::string MinutesText(milliseconds wait) {
  const auto seconds = std::chrono::ceil<std::chrono::seconds>(wait).count();
  if (seconds % 60 == 0) {
    return std::to_string(seconds / 60) + (seconds == 60 ? " minute" : " minutes");
  }
  return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

void PrintOutcome(std::ostream& out, const ReplugProof& proof, const ReplugExpectation& asked,
                  bool recoverable) {
  const ChipUpdate* chip = FindChipUpdate(asked.chipCode);
  const std::string running =
      proof.firmware ? VersionWithRelease(chip, proof.firmware->version) : std::string("nothing");
  switch (proof.result) {
    case ReplugResult::Runs:
      out << "After the replug the enclosure runs " << running << ", the firmware written.\n";
      return;
    case ReplugResult::BootRom:
      out << "After the replug the enclosure runs its boot ROM: the new firmware did not start.\n"
          << (recoverable
                  ? "Run korvane-fw update again: it writes the firmware through the boot ROM.\n"
                  : "This build carries development images only and cannot recover it; a build "
                    "that carries the vendor's images can (korvane-fw update).\n");
      return;
    case ReplugResult::OtherVersion:
      out << "After the replug the enclosure runs " << running << ", not the "
          << (asked.written ? VersionWithRelease(chip, *asked.written) : std::string("version"))
          << " written.\n";
      return;
    case ReplugResult::NotBack:
      if (!proof.detail.empty()) {
        out << "The enclosure was not replugged: " << Printable(proof.detail)
            << ". The update completed; --save-state FILE saves it as it would be after a "
               "replug.\n";
        return;
      }
      out << "The enclosure did not come back within " << MinutesText(asked.wait)
          << ": the update completed, but what it runs now is not known; plug it in and run "
             "korvane-fw check.\n";
      return;
    case ReplugResult::Interrupted:
      out << "The update completed; the wait for the replug was stopped, so what the enclosure "
             "runs now was not checked (korvane-fw check does).\n";
      return;
    case ReplugResult::CannotWait:
      out << "The update completed; the replug cannot be waited for here ("
          << Printable(proof.detail)
          << "): plug the enclosure in again and run korvane-fw check.\n";
      return;
  }
}

}  // namespace

std::string_view ReplugResultName(ReplugResult result) {
  switch (result) {
    case ReplugResult::Runs:
      return "runs-written";
    case ReplugResult::BootRom:
      return "boot-rom";
    case ReplugResult::OtherVersion:
      return "other-version";
    case ReplugResult::NotBack:
      return "not-back";
    case ReplugResult::Interrupted:
      return "interrupted";
    case ReplugResult::CannotWait:
      return "cannot-wait";
  }
  return "not-back";
}

ReplugProof ProveReplug(CommandContext& context, JobSession& session,
                        const ReplugExpectation& expected) {
  // With --device the scans after the replug look at the same path first, then at disks that
  // were not attached before: never at the enclosures left alone.
  context.devices.ExpectReplug();
  // Listening starts before the user is asked, so that a quick replug is not missed.
  if (auto reason = context.devices.changes().Listen()) {
    return {ReplugResult::CannotWait, std::nullopt, {}, std::move(*reason)};
  }
  context.err << "Unplug the enclosure and plug it in again, so that the new firmware starts. "
                 "Waiting up to "
              << MinutesText(expected.wait) << " for it to come back (Ctrl-C to stop)...\n"
              << std::flush;
  if (!context.interrupts.armed()) context.interrupts.Arm();
  return Waited(context, session, expected);
}

int ReplugExitCode(ReplugResult result) {
  switch (result) {
    case ReplugResult::Runs:
      return exitcode::kOk;
    case ReplugResult::BootRom:
      return exitcode::kReplugBootRom;
    case ReplugResult::OtherVersion:
      return exitcode::kReplugOtherVersion;
    case ReplugResult::NotBack:
      return exitcode::kReplugNotBack;
    case ReplugResult::Interrupted:
      return exitcode::kInterrupted;
    case ReplugResult::CannotWait:
      return exitcode::kFailure;
  }
  return exitcode::kFailure;
}

nlohmann::ordered_json ReplugJson(const ReplugProof& proof) {
  nlohmann::ordered_json json;
  json["result"] = ReplugResultName(proof.result);
  json["path"] =
      proof.path.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(proof.path);
  json["firmware"] = proof.firmware && !proof.firmware->romMode
                         ? nlohmann::ordered_json(VersionText(proof.firmware->version))
                         : nlohmann::ordered_json(nullptr);
  json["rom_mode"] = proof.firmware ? nlohmann::ordered_json(proof.firmware->romMode)
                                    : nlohmann::ordered_json(nullptr);
  if (!proof.detail.empty()) json["detail"] = proof.detail;
  return json;
}

void PrintReplugProof(std::ostream& out, const ReplugProof& proof, const ReplugExpectation& asked,
                      bool recoverable) {
  PrintOutcome(out, proof, asked, recoverable);
  // Device nodes are handed out anew at each plug: a later --device must name the new one.
  if (!proof.path.empty() && !asked.path.empty() && proof.path != asked.path) {
    out << "It came back as " << Printable(proof.path) << ", no longer " << Printable(asked.path)
        << ".\n";
  }
}

}  // namespace korvane::cli
