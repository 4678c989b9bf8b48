#include "VerifyCommand.h"

#include "BridgeToRead.h"
#include "CheckReport.h"
#include "EnclosureWait.h"
#include "FlashProgramming.h"
#include "ImageLayout.h"
#include "Text.h"
#include "UpdateRequest.h"

namespace korvane::cli {
namespace {

using nlohmann::ordered_json;

/// How a comparison ended.
enum class VerifyResult : std::uint8_t { Equal, Differs, BootRom, Failed, NotRead };

std::string_view ResultName(VerifyResult result) {
  switch (result) {
    case VerifyResult::Equal:
      return "equal";
    case VerifyResult::Differs:
      return "differs";
    case VerifyResult::BootRom:
      return "boot-rom";
    case VerifyResult::Failed:
      return "fail";
    case VerifyResult::NotRead:
      break;
  }
  return "not-read";
}

/// What the comparison found.
struct Verification {
  VerifyResult result = VerifyResult::NotRead;
  std::optional<FlashDifference> difference;
  std::size_t compared = 0;  ///< the bytes of the firmware area compared
  std::string reason;        ///< why nothing was compared
};

ordered_json FileJson(const FileFacts& file) {
  const auto version = VersionField(file.firmware);
  return {{"name", file.name},
          {"size", file.size},
          {"sha256", file.sha256},
          {"version", version ? ordered_json(*version) : nullptr},
          {"release", file.firmware.release.empty() ? ordered_json(nullptr)
                                                    : ordered_json(file.firmware.release)}};
}

ordered_json VerifyJson(const Verification& verified, const FileFacts& file,
                        const CheckReport& check) {
  const auto& difference = verified.difference;
  return {
      {"result", ResultName(verified.result)},
      {"file", FileJson(file)},
      {"compared_bytes", verified.compared != 0 ? ordered_json(verified.compared) : nullptr},
      {"first_difference", difference ? ordered_json(difference->first) : nullptr},
      {"differing_bytes", difference ? ordered_json(difference->count) : nullptr},
      {"reason", verified.reason.empty() ? ordered_json(nullptr) : ordered_json(verified.reason)},
      {"check", CheckJson(check)}};
}

/// Ends the command before the flash was read: said as an error line, with --json answered with
/// the result "not-read".
int NotRead(CommandContext& context, const CheckReport& check, const FileFacts& file,
            const std::string& reason, int code) {
  context.err << "korvane-fw: " << Printable(reason) << '\n';
  if (context.options.json) {
    context.json.Set(VerifyJson({VerifyResult::NotRead, std::nullopt, 0, reason}, file, check));
    context.json.Add(Severity::Error, reason);
  }
  PrintWarnings(context, check);
  return code;
}

/// The flash read compared with the file over the chip's firmware area, the second block, where
/// the bridge keeps its stamp, left out as the read-back after a write leaves it out.
Verification Compare(const FirmwareBackup& read, const ImageFile& file, const ChipUpdate& chip) {
  Verification verified;
  if (read.end == BackupEnd::BootRom) {
    return {VerifyResult::BootRom, std::nullopt, 0,
            "the bridge runs its boot ROM and holds no firmware to compare"};
  }
  if (read.end == BackupEnd::Failed)
    return {VerifyResult::Failed, std::nullopt, 0, read.failure.reason};
  verified.compared = chip.firmwareArea - (kSecondBlockEnd - kSecondBlockBegin);
  verified.difference = FirmwareAreaDifference(file.bytes, read.image, chip.firmwareArea);
  verified.result = verified.difference ? VerifyResult::Differs : VerifyResult::Equal;
  return verified;
}

void PrintVerification(std::ostream& out, std::ostream& err, const Verification& verified,
                       const FileFacts& file, const CheckReport& check) {
  const std::string name = Printable(file.name);
  switch (verified.result) {
    case VerifyResult::Equal:
      out << "Equal: the bridge's flash holds the firmware of " << name << " (version "
          << VersionWords(file.firmware) << "); " << verified.compared
          << " bytes compared, the second block, where the bridge keeps its stamp, left out\n";
      return;
    case VerifyResult::Differs:
      out << "Differs: " << verified.difference->count << " of the " << verified.compared
          << " bytes compared differ from " << name << ", the first at offset "
          << HexNumber(static_cast<std::uint32_t>(verified.difference->first), HexCase::Upper)
          << " (the second block, where the bridge keeps its stamp, left out)\n"
          << "The file holds version " << VersionWords(file.firmware) << "; the bridge runs "
          << (check.firmware ? RunningText(check, check.firmware->version) : std::string("?"))
          << '\n';
      return;
    case VerifyResult::BootRom:
      out << "Nothing to compare: " << Printable(verified.reason) << ".\n";
      return;
    case VerifyResult::Failed:
    case VerifyResult::NotRead:
      err << "korvane-fw: Verify failed: " << Printable(verified.reason) << '\n';
      return;
  }
}

int ExitCodeOf(const Verification& verified, bool noRights) {
  switch (verified.result) {
    case VerifyResult::Equal:
      return exitcode::kOk;
    case VerifyResult::Differs:
      return exitcode::kDiffers;
    case VerifyResult::BootRom:
      return exitcode::kNothingToSave;
    case VerifyResult::Failed:
    case VerifyResult::NotRead:
      break;
  }
  return noRights ? exitcode::kNoRights : exitcode::kFailure;
}

/// Reads the checked bridge's flash twice, as a backup reads it, and compares it with the file.
int ReadAndCompare(CommandContext& context, JobSession& session, const CheckReport& check,
                   const ImageFile& file, const FileFacts& facts) {
  const ChipUpdate& chip = *session.job().check().chip;
  if (!context.options.json) {
    context.out << "Verifying " << Printable(EnclosureName(check)) << " against "
                << Printable(file.path) << '\n'
                << std::flush;
  }
  const std::size_t denials = context.access.denials();
  const FirmwareBackup read =
      session.job().Backup(check.checkedPath, session.job().check().bridgeInfo);
  const Verification verified = Compare(read, file, chip);
  const int code = ExitCodeOf(verified, context.access.denials() > denials);
  if (context.options.json) {
    context.json.Set(VerifyJson(verified, facts, check));
    if (code != exitcode::kOk && code != exitcode::kDiffers) {
      context.json.Add(Severity::Error, verified.reason);
    }
  } else {
    PrintVerification(context.out, context.err, verified, facts, check);
  }
  PrintWarnings(context, check);
  return code;
}

}  // namespace

int RunVerify(CommandContext& context, const ImageFile& file) {
  JobSession session(context);
  const auto ended = ScanForEnclosure(context, session);
  const CheckReport check = BuildCheckReport(session.job(), context.messages);
  const FirmwareFile firmware = store::AsFirmwareFile(file);
  const FileFacts facts = DescribeFile(firmware, CheckedChip(check));
  if (ended) {
    if (context.options.json) context.json.Set(VerifyJson({}, facts, check));
    return *ended;
  }
  if (const auto none = WhyNoBridgeToRead(session, check)) {
    return NotRead(context, check, facts, none->reason, none->code);
  }
  // A file the enclosure's chip would refuse cannot be what its flash holds: nothing is read.
  if (auto refused = RefuseFileFor(firmware, *session.job().check().chip)) {
    return NotRead(context, check, facts, refused->reason + ": the flash was not read",
                   exitcode::kBadInput);
  }
  return ReadAndCompare(context, session, check, file, facts);
}

}  // namespace korvane::cli
