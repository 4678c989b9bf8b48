#include "HistoryCommand.h"

#include <chrono>
#include <filesystem>
#include <system_error>

#include "ImageCheck.h"
#include "Store.h"
#include "Text.h"
#include "VersionCheck.h"

namespace korvane::cli {
namespace {

/// A text member of an event, printable; absent when it is missing or no text.
std::string Member(const nlohmann::ordered_json& object, const char* key,
                   std::string_view absent = "?") {
  if (!object.is_object()) return std::string(absent);
  const auto found = object.find(key);
  if (found == object.end() || !found->is_string()) return std::string(absent);
  return Printable(found->get<std::string>());
}

/// "0.0.1.2, release 234.01.00.02": a version with its release, where the event names one.
std::string WithRelease(const nlohmann::ordered_json& object, const char* version,
                        const char* release) {
  const std::string named = Member(object, release, "");
  return Member(object, version) + (named.empty() ? "" : ", release " + named);
}

/// "0.0.0.8 -> 0.0.1.2, release 234.01.00.02" for an update, "0.0.0.8" for a backup. An older
/// event names the written image by its version alone.
std::string Versions(const nlohmann::ordered_json& event) {
  std::string versions = WithRelease(event, "version_before", "release_before");
  if (Member(event, "event") != "update") return versions;
  const auto found = event.find("written");
  const nlohmann::ordered_json written = found == event.end() ? nullptr : *found;
  if (Member(written, "running_version", "").empty()) {
    return versions + " -> " + Member(written, "version");
  }
  return versions + " -> " + WithRelease(written, "running_version", "release");
}

/// The enclosure as the event names it: its chip and, where recorded, its model as the device
/// list shows it without the bus tag.
std::string EnclosureText(const nlohmann::ordered_json& event) {
  const auto found = event.find("enclosure");
  const nlohmann::ordered_json enclosure = found == event.end() ? nullptr : *found;
  std::string model = Member(enclosure, "line", "");
  if (const auto tag = model.find(">> "); model.starts_with("<<") && tag != std::string::npos) {
    model.erase(0, tag + 3);
  }
  while (!model.empty() && model.back() == ' ') model.pop_back();
  const std::string chip = Member(enclosure, "chip");
  const std::string serial = Member(enclosure, "serial", "");
  return (model.empty() ? chip : chip + " \"" + model + "\"") +
         (serial.empty() ? "" : " serial \"" + serial + "\"");
}

/// The steps at which an update is refused before anything is written.
bool RefusedAt(std::string_view step) {
  return step == "guard" || step == "mounted" || step == "image" || step == "version" ||
         step == "backup";
}

/// What the replug after a complete update showed, in words.
std::string ReplugText(const nlohmann::ordered_json& event) {
  const auto replug = event.find("replug");
  if (replug == event.end() || !replug->is_object()) return {};
  const std::string result = Member(*replug, "result");
  if (result == "runs-written") return "; after the replug it runs the firmware written";
  if (result == "boot-rom") return "; after the replug it runs its boot ROM";
  if (result == "other-version") return "; after the replug it runs another version";
  if (result == "not-back") return "; it did not come back after the replug";
  if (result == "interrupted") return "; the wait for the replug was interrupted";
  return "; the replug was not waited for";
}

/// How an update ended, and what it wrote or was to write.
std::string UpdateOutcomeText(const nlohmann::ordered_json& event) {
  const auto found = event.find("written");
  const std::string file = Member(found == event.end() ? nullptr : *found, "name", "");
  const std::string result = Member(event, "result");
  const std::string step = Member(event, "failed_step", "");
  std::string text;
  if (result == "complete") {
    text = "complete" + (file.empty() ? "" : ", wrote " + file) + ReplugText(event);
  } else if (result == "fail" && Member(event, "reason", "").starts_with("interrupted")) {
    text = "interrupted (" + step + "), nothing written" + (file.empty() ? "" : " of " + file);
  } else if (result == "fail" && RefusedAt(step)) {
    text = "refused (" + step + "), nothing written" + (file.empty() ? "" : " of " + file);
  } else if (result == "fail") {
    text = "failed at " + (step.empty() ? std::string("an unknown step") : step) +
           (file.empty() ? "" : " writing " + file);
  } else {
    text = result;
  }
  return text;
}

/// How a backup ended, and where it went.
std::string BackupOutcomeText(const nlohmann::ordered_json& event) {
  const std::string result = Member(event, "result");
  if (result == "saved") {
    const std::string file = Member(event, "backup", "");
    return file.empty() ? "saved" : "saved to " + file;
  }
  if (result == "boot-rom") return "nothing to save: the boot ROM runs";
  if (result == "fail" && Member(event, "reason", "").starts_with("interrupted")) {
    return "interrupted, nothing saved";
  }
  if (result == "fail") return "failed";
  return result;
}

}  // namespace

std::string HistoryEventText(const nlohmann::ordered_json& event) {
  const bool update = Member(event, "event") == "update";
  std::string versions = Versions(event);
  if (versions.starts_with("boot-rom")) versions.replace(0, 8, "boot ROM");
  std::string text = Member(event, "time") + "  " + Member(event, "event") + "  " +
                     EnclosureText(event) + "  " + versions + "  " +
                     (update ? UpdateOutcomeText(event) : BackupOutcomeText(event));
  const auto simulated = event.find("simulated");
  if (simulated != event.end() && *simulated == true) text += "  (simulated)";
  return text;
}

int RunHistory(const Console& console, JsonAnswer* json) {
  const HistoryRead read = ReadHistory(console.stateFolder);
  std::vector<std::string> warnings = read.warnings;
  if (console.stateFolder.empty()) {
    warnings.insert(warnings.begin(), std::string(kNoStateFolder) + ": no history is kept");
  }
  for (const std::string& warning : warnings) {
    console.err << "korvane-fw: warning: " << Printable(warning) << '\n';
    if (json != nullptr) json->Add(Severity::Warning, warning);
  }
  if (json != nullptr) {
    nlohmann::ordered_json events(read.events);
    json->Set({{"events", std::move(events)}});
    return exitcode::kOk;
  }
  if (read.events.empty()) {
    console.out << "No history yet";
    if (!console.stateFolder.empty()) {
      console.out << " (" << Printable(HistoryPath(console.stateFolder)) << ")";
    }
    console.out << ".\n";
  }
  for (const nlohmann::ordered_json& event : read.events) {
    console.out << HistoryEventText(event) << '\n';
  }
  return exitcode::kOk;
}

}  // namespace korvane::cli
