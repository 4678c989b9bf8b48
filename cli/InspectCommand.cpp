#include "InspectCommand.h"

#include <variant>
#include <vector>

#include "ImageSource.h"
#include "Store.h"
#include "Text.h"
#include "UpdateRequest.h"

namespace korvane::cli {
namespace {

using nlohmann::ordered_json;

/// The file judged for one chip, as update --image would judge it before asking anything.
struct ChipJudgement {
  const ChipUpdate* chip = nullptr;
  std::string refusal;  ///< "file-chip", "file-image" or "record"; empty: not refused
  std::string reason;
};

/// A record that does not hold refuses the file for every chip, as update --image refuses it
/// before it looks at the enclosure; otherwise the engine judges the file for each chip.
std::vector<ChipJudgement> JudgeForEachChip(const store::JudgedImageFile& judged) {
  std::vector<ChipJudgement> judgements;
  const auto* recordProblem = std::get_if<std::string>(&judged.record);
  const FirmwareFile file = store::AsFirmwareFile(judged.file);
  for (const ChipUpdate& chip : kChipUpdates) {
    ChipJudgement judgement{&chip, {}, {}};
    if (recordProblem != nullptr) {
      judgement.refusal = "record";
      judgement.reason = *recordProblem;
    } else if (auto refused = RefuseFileFor(file, chip)) {
      judgement.refusal = refused->refusal == Refusal::FileChip ? "file-chip" : "file-image";
      judgement.reason = std::move(refused->reason);
    }
    judgements.push_back(std::move(judgement));
  }
  return judgements;
}

/// "holds", "does-not-hold" or "none".
std::string_view RecordState(const store::RecordJudgement& record) {
  if (std::holds_alternative<nlohmann::json>(record)) return "holds";
  if (std::holds_alternative<std::string>(record)) return "does-not-hold";
  return "none";
}

ordered_json TextOrNull(const std::string& text) {
  return text.empty() ? ordered_json(nullptr) : ordered_json(text);
}

/// The enclosure a record that holds says the backup was read from; layout 1's revision, the
/// identity block's digit, is not the identification's revision, and stands as null.
ordered_json BackupOf(const nlohmann::json& record) {
  const auto revision = record.find("revision");
  const auto release = record.find("release");
  return {{"chip", record["chip"]},
          {"chip_code", record["chip_code"]},
          {"revision", revision->is_number_unsigned() ? ordered_json(*revision) : nullptr},
          {"usb_vendor", record["usb_vendor"]},
          {"usb_product", record["usb_product"]},
          {"serial", record["serial"]},
          {"version", record["version"]},
          {"release", release != record.end() ? ordered_json(*release) : nullptr},
          {"time", record["time"]},
          {"simulated", record.value("simulated", false)}};
}

ordered_json ChipsJson(const std::vector<ChipJudgement>& judgements) {
  ordered_json chips = ordered_json::array();
  for (const ChipJudgement& judged : judgements) {
    chips.push_back({{"chip", judged.chip->chipName},
                     {"refused", !judged.refusal.empty()},
                     {"refusal", TextOrNull(judged.refusal)},
                     {"reason", TextOrNull(judged.reason)}});
  }
  return chips;
}

ordered_json InspectJson(const store::JudgedImageFile& judged, const FirmwareFacts& facts) {
  const auto* record = std::get_if<nlohmann::json>(&judged.record);
  const auto* problem = std::get_if<std::string>(&judged.record);
  return {{"file", {{"name", judged.file.path}, {"size", facts.size}, {"sha256", facts.sha256}}},
          {"chip", facts.chip != nullptr ? ordered_json(facts.chip->chipName) : nullptr},
          {"version", VersionField(facts) ? ordered_json(*VersionField(facts)) : nullptr},
          {"release", TextOrNull(facts.release)},
          {"development", CarriesDevelopmentMarker(judged.file.bytes)},
          {"record", RecordState(judged.record)},
          {"record_reason", problem != nullptr ? ordered_json(*problem) : nullptr},
          {"backup", record != nullptr ? BackupOf(*record) : nullptr},
          {"chips", ChipsJson(JudgeForEachChip(judged))},
          {"reason", nullptr}};
}

/// The answer for a file that could not be read.
ordered_json UnreadJson(const std::string& reason) {
  return {{"file", nullptr},          {"chip", nullptr},        {"version", nullptr},
          {"release", nullptr},       {"development", nullptr}, {"record", nullptr},
          {"record_reason", nullptr}, {"backup", nullptr},      {"chips", ordered_json::array()},
          {"reason", reason}};
}

void PrintBackup(std::ostream& out, const store::RecordJudgement& record) {
  if (const auto* problem = std::get_if<std::string>(&record)) {
    out << "Backup:    its record does not hold: " << Printable(*problem) << '\n';
    return;
  }
  const auto* held = std::get_if<nlohmann::json>(&record);
  if (held == nullptr) {
    out << "Backup:    no (no record of this program beside it)\n";
    return;
  }
  const ordered_json of = BackupOf(*held);
  out << "Backup:    yes, its record holds: of a " << (of["simulated"] ? "simulated " : "")
      << Printable(of["chip"].get<std::string>()) << " (chip code " << of["chip_code"].dump()
      << (of["revision"].is_null() ? "" : ", revision " + of["revision"].dump()) << "), USB "
      << Printable(of["usb_vendor"].get<std::string>()) << ':'
      << Printable(of["usb_product"].get<std::string>()) << ", serial \""
      << Printable(of["serial"].get<std::string>()) << "\", running "
      << Printable(of["version"].get<std::string>()) << ", read "
      << Printable(of["time"].get<std::string>()) << '\n';
}

void PrintInspection(std::ostream& out, const store::JudgedImageFile& judged,
                     const FirmwareFacts& facts) {
  out << "File:      " << Printable(judged.file.path) << '\n'
      << "Size:      " << facts.size << " bytes\n"
      << "SHA-256:   " << facts.sha256 << '\n'
      << "Chip:      "
      << (facts.chip != nullptr ? std::string(facts.chip->chipName)
                                : std::string("none this program updates"))
      << '\n'
      << "Version:   " << VersionWords(facts) << '\n';
  if (CarriesDevelopmentMarker(judged.file.bytes)) {
    out << "Kind:      a development image, written to simulated enclosures only\n";
  }
  PrintBackup(out, judged.record);
  for (const ChipJudgement& chip : JudgeForEachChip(judged)) {
    out << "For " << chip.chip->chipName << ": "
        << (chip.refusal.empty()
                ? std::string("update --image would write it (its version is judged against "
                              "what the bridge runs)")
                : "refused: " + Printable(chip.reason))
        << '\n';
  }
}

}  // namespace

int RunInspect(const Console& console, const InspectOptions& options, JsonAnswer* json) {
  auto read = store::ReadJudgedImageFile(options.file);
  if (const auto* problem = std::get_if<std::string>(&read)) {
    console.err << "korvane-fw: " << Printable(*problem) << '\n';
    if (json != nullptr) {
      json->Set(UnreadJson(*problem));
      json->Add(Severity::Error, *problem);
    }
    return exitcode::kBadInput;
  }
  const auto& judged = std::get<store::JudgedImageFile>(read);
  const FirmwareFacts facts = DescribeFirmware(judged.file.bytes, judged.file.sha256);
  if (json != nullptr) {
    json->Set(InspectJson(judged, facts));
  } else {
    PrintInspection(console.out, judged, facts);
  }
  return exitcode::kOk;
}

}  // namespace korvane::cli
